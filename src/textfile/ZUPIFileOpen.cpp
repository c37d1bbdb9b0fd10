#include "ZUPIFileOpen.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "OpenMode.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace {

const int kDefaultMaxFileSize = 65000;
const size_t kModeCapacity = 9;  // characters, without the NUL
const char* const kDefaultMode = "rb";
const char* const kLoadFunction = "ZUPITextFileOpen::reloadFile";

bool isTerminator(char c) { return c == '\0' || c == '\r' || c == '\n'; }

}  // namespace

ZUPITextFileOpen::ZUPITextFileOpen(const char* path, const char* openMode, bool closeAfterLoad)
    : stream(-1),
      buffer(nullptr),
      fileLoaded(false),
      streamOpen(false),
      fileIOError(0),
      readIndex(0),
      fileSize(-1),
      emptyLine{'\0'},
      mode{},
      maxFileSize(kDefaultMaxFileSize),
      fileName(path != nullptr ? path : ""),
      modeTooLong(false) {
  const char* requested = openMode != nullptr ? openMode : kDefaultMode;
  if (strlen(requested) > kModeCapacity) {
    modeTooLong = true;
  } else {
    strcpy(mode, requested);
  }
  reloadFile(closeAfterLoad);
}

ZUPITextFileOpen::ZUPITextFileOpen(const ZUPITextFileOpen& source)
    : EvEvent(),
      stream(-1),
      buffer(nullptr),
      fileLoaded(source.fileLoaded),
      streamOpen(false),
      fileIOError(source.fileIOError),
      readIndex(0),
      fileSize(source.fileSize),
      emptyLine{'\0'},
      mode{},
      maxFileSize(kDefaultMaxFileSize),
      fileName(source.fileName),
      modeTooLong(source.modeTooLong) {
  size_t modeLength = strnlen(source.mode, kModeCapacity);
  memcpy(mode, source.mode, modeLength);
  mode[modeLength] = '\0';
  if (fileLoaded) {
    size_t size = static_cast<size_t>(fileSize);
    buffer = static_cast<char*>(malloc(size + 1));
    if (buffer == nullptr) {
      fileLoaded = false;
    } else {
      memcpy(buffer, source.buffer, size);
      buffer[size] = '\0';
    }
  }
}

ZUPITextFileOpen::~ZUPITextFileOpen() {
  closeFile();
  free(buffer);
}

int ZUPITextFileOpen::setMaxFileSize(int maxSize) {
  maxFileSize = maxSize;
  return 0;
}

int ZUPITextFileOpen::reloadFile(bool closeAfterLoad) {
  closeFile();
  free(buffer);
  buffer = nullptr;
  fileLoaded = false;
  fileIOError = 0;
  emptyLine[0] = '\0';
  readIndex = 0;
  fileSize = -1;

  const char* path = fileName.c_str();
  struct stat st;
  if (icl::sys::calls().stat(path, &st) == 0) fileSize = st.st_size;
  if (fileSize == -1) {
    fileIOError = 2;
    Debug(kLoadFunction, "File [%s] does not exist.", path);
    return -1;
  }
  // A FIFO, socket or device would block the caller or never end.
  if (!S_ISREG(st.st_mode)) {
    fileIOError = 3;
    Error(kLoadFunction, "File [%s] is not a regular file.", path);
    return -1;
  }
  if (fileSize > static_cast<int64_t>(maxFileSize) || fileSize < 0) {
    fileIOError = 4;
    Error(kLoadFunction, "File length exceeded the maximum file size supported by API.");
    return -1;
  }
  buffer = static_cast<char*>(malloc(static_cast<size_t>(fileSize) + 1));
  if (buffer == nullptr) {
    fileIOError = 3;
    Error(kLoadFunction, "Could not allocate enough memory to open the file [%s] in memory.", path);
    return -1;
  }
  if (modeTooLong) {
    fileIOError = 3;
    Error(kLoadFunction, "Open mode of more than %zu characters refused for the file [%s].",
          kModeCapacity, path);
    return -1;
  }
  int flags = 0;
  icl::sys::UniqueFd fd;
  if (icl::openFlagsForMode(mode, flags)) {
    // O_NONBLOCK: should a FIFO have been swapped in since the stat, the open
    // must not wait for a writer; the fstat below then refuses it.
    fd = icl::sys::UniqueFd(
        icl::sys::openRetry(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
  }
  if (!fd.valid()) {
    fileIOError = 3;
    Error(kLoadFunction, "fopen() failed to open the file [%s].", path);
    return -1;
  }
  struct stat opened;
  if (icl::sys::calls().fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
    fileIOError = 3;
    Error(kLoadFunction, "File [%s] is not a regular file.", path);
    return -1;
  }
  // Writers replace a file by renaming a new one over it: the file opened
  // may not be the one measured. Load what was opened, whole.
  if (opened.st_size != fileSize) {
    fileSize = opened.st_size;
    if (fileSize > static_cast<int64_t>(maxFileSize) || fileSize < 0) {
      fileIOError = 4;
      Error(kLoadFunction, "File length exceeded the maximum file size supported by API.");
      return -1;
    }
    free(buffer);
    buffer = static_cast<char*>(malloc(static_cast<size_t>(fileSize) + 1));
    if (buffer == nullptr) {
      fileIOError = 3;
      Error(kLoadFunction, "Could not allocate enough memory to open the file [%s] in memory.",
            path);
      return -1;
    }
  }
  ssize_t got = icl::sys::readFull(fd.get(), buffer, static_cast<size_t>(fileSize));
  if (got != fileSize) {
    fileIOError = 3;
    Error(kLoadFunction, "Failed to read the entire file [%s].", path);
    return -1;  // fd closes here
  }
  // The file may have grown since the stat; never take more than the limit.
  char probe;
  if (icl::sys::readFull(fd.get(), &probe, 1) == 1 &&
      (icl::sys::calls().fstat(fd.get(), &opened) != 0 ||
       opened.st_size > static_cast<off_t>(maxFileSize))) {
    fileIOError = 4;
    Error(kLoadFunction, "File length exceeded the maximum file size supported by API.");
    return -1;
  }
  buffer[fileSize] = '\0';
  fileLoaded = true;
  stream = fd.release();
  streamOpen = true;
  if (closeAfterLoad) closeFile();
  return 0;
}

void ZUPITextFileOpen::closeFile() {
  if (fileLoaded && streamOpen) {
    // The text is already in memory; a failed close loses nothing.
    icl::sys::calls().close(stream);
    stream = -1;
  }
  streamOpen = false;
}

char ZUPITextFileOpen::getch() {
  if (isEof()) return 0;
  return buffer[readIndex++];
}

char* ZUPITextFileOpen::readln() {
  if (!fileLoaded || isEof()) return emptyLine;
  while (!isEof() && isTerminator(buffer[readIndex])) {
    buffer[readIndex] = '\0';
    ++readIndex;
  }
  int start = readIndex;
  while (!isEof()) {
    if (isTerminator(buffer[readIndex])) {
      buffer[readIndex] = '\0';
      break;
    }
    ++readIndex;
  }
  return buffer + start;
}

char* ZUPITextFileOpen::readNonCommentLine() {
  if (isEof()) return emptyLine;
  for (;;) {
    char* line = readln();
    const char* first = line;
    while (*first == ' ') ++first;
    if (*first != '#' || isEof()) return line;
  }
}

bool ZUPITextFileOpen::isEof() {
  return static_cast<int64_t>(readIndex) >= fileSize || !fileLoaded;
}

int ZUPITextFileOpen::getFileIOError() { return fileIOError; }

bool ZUPITextFileOpen::isFileOpen() { return fileLoaded; }

void ZUPITextFileOpen::MoveReadPtrToBeginning() { readIndex = 0; }
