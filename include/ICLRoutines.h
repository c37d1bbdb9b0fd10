#ifndef ICL_ICLROUTINES_H
#define ICL_ICLROUTINES_H

// Index cache labels.
//
// An index cache directory carries a label, "icl_label.txt", that names the
// index cache pool and the index cache owning the directory, a timestamp
// marker, and one line per access path using it. ICLController handles that
// label for one directory on behalf of one caller (one host, one access
// path):
//
//   ICLController ctl("hostA", "/srv/ic/cache7");
//   ICLData expected = {3, 7, 77, 12};  // pool, cache, marker, access path
//   ctl.SetICLData(expected);
//   if (ctl.CheckICL() != 0) {
//     int event = ctl.convertICLErrorToEvEventCode(ctl.GetICLError());
//     ...
//   }
//
// Every operation answers 0 or -1 and leaves the reason of a failure in the
// controller (GetICLError). A controller is used by one thread at a time;
// separate controllers share nothing in memory.

#include <stdint.h>

#include <string>

#include "EvEvent.h"
#include "ICLExport.h"

class ZUPITextFileOpen;
namespace icl {
struct LoadReport;
}

// The identity a label records. 0 in a field means unset.
struct ICLData {
  int32_t indexCachePoolID;
  int32_t indexCacheID;
  int64_t timeStampMarker;
  // In the controller's own record: the caller's access path. In a record
  // read from a label: the caller's access path if the label lists it, else 0.
  int32_t accessPathID;
};

// The reason of the last failure. convertICLErrorToEvEventCode maps each
// value to the product's event code.
enum TICLError : int32_t {
  ICL_ERROR_NONE = 0,
  ICL_ERROR_RESERVED_1 = 1,
  ICL_ERROR_RESERVED_2 = 2,
  ICL_ERROR_PATH_NOT_FOUND = 3,          // the directory is not an existing directory
  ICL_ERROR_EMPTY_PATH = 4,              // no usable directory was given
  ICL_ERROR_FILE_NOT_FOUND = 5,          // the label file does not exist
  ICL_ERROR_FILE_READ = 6,               // the label could not be loaded
  ICL_ERROR_FILE_INVALID = 7,            // a required key is missing, or the label is too large
  ICL_ERROR_MISMATCH = 8,                // the label's identity differs from the expected one
  ICL_ERROR_OUT_OF_MEMORY = 9,           // the reader object could not be allocated
  ICL_ERROR_FILE_WRITE = 10,             // a label or test file could not be written
  ICL_ERROR_NEW_LABEL_NOT_ALLOWED = 11,  // a new label is needed but was not allowed
  ICL_ERROR_FILE_LOCK = 12,              // a file lock could not be taken
  ICL_ERROR_LOCK_NOT_SUPPORTED = 13,     // file locks are not supported in the directory
  ICL_ERROR_CHMOD = 14,                  // a test file's permissions could not be changed
  ICL_ERROR_CHOWN = 15,                  // a test file's owner could not be read or changed
};

// What a label rewrite does with the caller's access path line.
enum TUpdateMode : int32_t {
  ICL_UPDATE_ADD = 0,     // stamp the marker, add or refresh the caller's line
  ICL_UPDATE_REMOVE = 1,  // drop the caller's line, change nothing else
};

class ICL_API ICLController : public EvEvent {
 public:
  // `hostName` null or "" asks the platform for this host's client name; a
  // longer one than 255 characters is cut. `iclLocation` is the index cache
  // directory (backslashes allowed); a null one, or one longer than 255
  // characters, is refused with an Error line and treated as empty, so every
  // operation fails with ICL_ERROR_EMPTY_PATH rather than act on a cut path.
  // The auxiliary texts are stored for the caller (at most 1023 and 2047
  // characters; a null or longer one is stored empty with an Error line).
  ICLController(const char* hostName, const char* iclLocation, const char* auxText1,
                const char* auxText2);
  ICLController(const char* hostName, const char* iclLocation);
  ~ICLController();
  ICLController(const ICLController&) = delete;
  ICLController& operator=(const ICLController&) = delete;

  // Puts every field but the location and the auxiliary texts into its
  // starting state and fills the host name (see the constructors).
  void Init(const char* hostName);

  // Tells whether iclLocation names an existing directory (following links).
  // -1 only for an empty location (ICL_ERROR_EMPTY_PATH); a missing or
  // unreachable directory is 0 with `exists` false and sets no error.
  int DoesPathExist(bool& exists);
  // Forms the label's path from iclLocation. -1 with ICL_ERROR_EMPTY_PATH or
  // ICL_ERROR_PATH_NOT_FOUND when the directory is not there.
  int ConstructICLPath();

  int SetICLData(ICLData data);    // always 0
  int GetICLData(ICLData& data);   // always 0
  // The event code of `error`; -1 for a value outside the enumeration.
  int convertICLErrorToEvEventCode(TICLError error);

  TICLError GetICLError() const { return iclError; }
  // A description for the next new label; not copied, so it must outlive
  // the write. Null restores the line that names the cache's number.
  void SetDescription(const char* text) { description = text; }

  // --- Reading a label ---------------------------------------------------
  // Scans `file` from its first line into `data`: pool, cache and marker,
  // and accessPathID set to this controller's own when the label lists it.
  // -1 with ICL_ERROR_FILE_INVALID when a required key is missing.
  int extractICLInfoFromFile(ICLData& data, ZUPITextFileOpen& file);
  // Forms the path, loads the label into a new reader held by the controller
  // and extracts it into `data` (left unchanged on failure).
  int InternalReadDataFromICL(ICLData& data);
  // Clears the error and the identity, then reads the label's identity into
  // the controller (GetICLData); accessPathID stays 0.
  int ReadDataFromICL();
  // True when pool and cache (and the marker, if asked) agree; each
  // difference is logged. Does not touch the error.
  bool verifyICL(ICLData expected, ICLData found, bool compareTimeStampMarker);

  // --- Writing and updating a label --------------------------------------
  // Every change replaces the label whole: the new text goes to a temporary
  // file beside it, is synced, and is renamed over the label, so readers
  // see the old or the new label, never a partial one, and a failed write
  // leaves the old label as it was (ICL_ERROR_FILE_WRITE). Writers take an
  // exclusive lock on "icl_label.lock" beside the label and read the label
  // afresh under it, so concurrent changes from any host are never lost;
  // one that cannot get the lock within 30 seconds fails with
  // ICL_ERROR_FILE_LOCK. Readers take no lock.

  // Writes a new label for the identity set with SetICLData (all four
  // values non-zero), listing only the caller's access path.
  int WriteNewICL();
  // Rewrites the label from the text the last read on this controller
  // loaded: ICL_UPDATE_ADD stamps the controller's marker (unless it is 0)
  // and adds or refreshes the caller's access path line; ICL_UPDATE_REMOVE
  // drops that line. Takes the writers' lock but does not read again: a
  // change made since that read is overwritten, so callers normally use the
  // operations below, which read under the lock.
  int UpdateICLInternal(TUpdateMode mode);
  // Reads and checks the label, then adds the caller's access path; writes
  // a new label when there is none or it is invalid, if allowed.
  int UpdateICL(bool allowNewICL);
  // Reads and checks the label, then removes the caller's access path.
  int RemoveAccessPathIDfromICL();

  // --- Checking a label --------------------------------------------------
  // Reads the label, compares pool and cache (and the marker when it is not
  // 0), and adds the caller's access path when the label does not list it.
  int CheckICL();

  // --- Directory preparation and capability test -------------------------
  int fixPath(char* path);
  int CreateDirRecursive(char* path);
  int canFilesBeCreatedInDirectory();

 private:
  char iclLocation[256];
  std::string iclPath;
  char auxText1[1024];
  char auxText2[2048];
  ICLData iclData;
  TICLError iclError;
  ZUPITextFileOpen* iclFile;  // owned; the label as last loaded
  char hostName[256];
  const char* description;  // not owned

  // The label is loaded in this one place: a new reader in iclFile, and in
  // `loaded` what the load saw (errno of a failure, the attributes of the
  // descriptor read through, the bytes) for the rewrite that follows.
  ICL_INTERNAL int loadLabel(icl::LoadReport& loaded);
  // InternalReadDataFromICL, keeping what the load saw.
  ICL_INTERNAL int readLabel(ICLData& data, icl::LoadReport& loaded);
  // The last load failed only because the label exceeds the reader's limit.
  ICL_INTERNAL bool labelRefusedForItsSize();
  // Writing steps, run while the writers' lock is taken: `guarded` says a
  // write is safe now, `lockHeld` that the lock (not a refusal of locks by
  // the file system) makes it so. `loaded` is the load the rewrite starts
  // from; null when no label stands there.
  ICL_INTERNAL int writeNewLabel(bool guarded, bool lockHeld);
  ICL_INTERNAL int rewriteLabel(TUpdateMode mode, bool lockHeld, const icl::LoadReport* loaded);
};

// A copy of `path` with every backslash turned into a slash; nothing else
// is normalised. A null path gives the empty string.
ICL_API std::string convertSlashes(const char* path);

#endif
