#ifndef ICL_ZUPIFILEOPEN_H
#define ICL_ZUPIFILEOPEN_H

// Whole-file text reader.
//
// The constructor loads a small file completely into one buffer; the text is
// then handed out line by line (or byte by byte) from memory. Lines are cut
// in place: each terminator is overwritten with NUL and a pointer into the
// buffer is returned, valid until the next reloadFile() or the destruction.
//
// A line is a maximal run of bytes other than NUL, CR and LF; any run of
// terminators separates two lines as one does, so an empty line is handed
// out only at the end of the data.
//
// What a caller can rely on: a load either succeeds whole (isFileOpen() is
// true, the text is the bytes of the file as opened, at most the size limit)
// or fails with isFileOpen() false, no text, and a code from getFileIOError()
// (TZUPIFileIOError below). Only a regular file loads, and nothing waits for
// a FIFO or device. A missing file is never created; a mode that reads ("r",
// "r+") never changes the file, while a "w" mode empties it, as fopen would.
// Each failure writes one log line in the words older versions wrote, which
// hosts match (ICLRoutines.h lists such lines): "File [%s] does not exist."
// (Debug), "fopen() failed to open the file [%s]." where open(2) failed,
// "File [%s] is not a regular file.", "Failed to read the entire file [%s].",
// "File length exceeded the maximum file size supported by API." and "Could
// not allocate enough memory to open the file [%s] in memory.". A failed
// system call adds an Error line "Could not load the file [path]: <call>
// failed: [<strerror>]"; a file not read whole in three loads (its reads end
// short of its size, as a sysfs attribute's do, or it kept changing) adds
// one that says which, after "Failed to read the entire file [%s].".

#include <stdint.h>

#include <string>

#include "EvEvent.h"
#include "ICLExport.h"

namespace icl {
struct LoadReport;
}

// The load codes of getFileIOError(), which stays an int: hosts compare it
// with these numbers.
enum TZUPIFileIOError {
  ZUPI_FILE_OK = 0,
  // The file does not exist: stat said ENOENT (or ENOTDIR, a path component
  // is no directory). Nothing else counts as absent.
  ZUPI_FILE_NOT_FOUND = 2,
  // The file could not be examined (stat or fstat failed with another
  // errno), opened or read whole; it is not a regular file; no memory for
  // the text; or the mode is invalid or too long.
  ZUPI_FILE_UNREADABLE = 3,
  // The file is larger than the size limit (65000 bytes by default).
  ZUPI_FILE_TOO_LARGE = 4,
};

class ICL_API ZUPITextFileOpen : public EvEvent {
 public:
  // Loads `path` (see reloadFile). `mode` is an fopen mode of at most 9
  // characters, "rb" when null; "r+b" also proves the file can be written.
  ZUPITextFileOpen(const char* path, const char* mode, bool closeAfterLoad);
  // Internal, for the label's loader: loads `path` as (path, nullptr, true)
  // does and tells `report` what the load saw.
  ICL_INTERNAL ZUPITextFileOpen(const char* path, icl::LoadReport& report);
  // A deep copy of the loaded text, reading from the first line, with the
  // default size limit and no open descriptor.
  ZUPITextFileOpen(const ZUPITextFileOpen& source);
  ZUPITextFileOpen& operator=(const ZUPITextFileOpen&) = delete;
  ~ZUPITextFileOpen();

  // Sets the size limit for the next reloadFile(). Always 0.
  int setMaxFileSize(int maxSize);
  // Discards the text and loads the file again: 0 on success, -1 on failure.
  int reloadFile(bool closeAfterLoad);
  // Closes the file if it is still open; the loaded text stays readable.
  void closeFile();

  // The next byte, or 0 at the end (nothing moves then).
  char getch();
  // The next line without its terminator; "" at the end. Never null.
  char* readln();
  // The next line whose first non-space byte is not '#'; see the header.
  char* readNonCommentLine();

  bool isEof();
  // A TZUPIFileIOError: ZUPI_FILE_OK after a successful load.
  int getFileIOError();
  bool isFileOpen();
  void MoveReadPtrToBeginning();

 private:
  // What the two constructors that load do: `report` may be null.
  ICL_INTERNAL ZUPITextFileOpen(const char* path, const char* mode, bool closeAfterLoad,
                                icl::LoadReport* report);
  // The load behind reloadFile; fills `report` when it is not null.
  ICL_INTERNAL int load(bool closeAfterLoad, icl::LoadReport* report);
  ICL_INTERNAL int loadWhole(bool closeAfterLoad, icl::LoadReport* report);  // load's body

  // The descriptor the file is open on during a load; meaningful only while
  // streamOpen is true. Reads go through the library's file-system seam.
  int stream;
  char* buffer;  // the file's bytes and one NUL, from malloc; null if none
  bool fileLoaded;
  bool streamOpen;
  int32_t fileIOError;
  int readIndex;
  int64_t fileSize;
  char emptyLine[1];
  char mode[10];
  int maxFileSize;
  std::string fileName;
  // The mode given was longer than `mode` can hold; every load then fails
  // rather than open the file in a mode the caller did not ask for.
  bool modeTooLong;
};

// Normalises `src` into `dest` for key matching: looks at no more than the
// first 1023 characters, stops at '#', drops every space, upper-cases the
// rest with toupper, and writes at most destSize-1 characters and a NUL.
// Nothing is written when `dest` is null or destSize < 1; a null `src` gives
// the empty string.
ICL_API void sanitizeString(char* dest, const char* src, int destSize);

#endif
