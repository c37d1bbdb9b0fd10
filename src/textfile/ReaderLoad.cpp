// The reader's load: stat, open, read the whole file into memory.

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "LoadReport.h"
#include "OpenMode.h"
#include "ZUPIFileOpen.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace {

const char* const kLoadFunction = "ZUPITextFileOpen::reloadFile";
const size_t kModeCapacity = 9;  // characters, without the NUL

// Only these mean that nothing stands at the name. Any other failure to
// examine a file says nothing about whether it exists.
bool meansAbsent(int err) { return err == ENOENT || err == ENOTDIR; }

// More than the reader may hold: over `limit`, or a size no file has.
bool exceedsSizeLimit(int64_t size, int limit) {
  return size < 0 || size > static_cast<int64_t>(limit);
}

}  // namespace

int ZUPITextFileOpen::load(bool closeAfterLoad, icl::LoadReport* report) {
  closeFile();
  free(buffer);
  buffer = nullptr;
  fileLoaded = false;
  fileIOError = ZUPI_FILE_OK;
  emptyLine[0] = '\0';
  readIndex = 0;
  fileSize = -1;

  const char* path = fileName.c_str();
  int err = 0;  // errno of the call that failed
  auto fail = [this, report, &err](TZUPIFileIOError code) {
    fileIOError = code;
    if (report != nullptr) report->err = err;
    return -1;
  };
  // The line that names the failed call and its errno.
  auto logCall = [this, path](const char* call, int callErr) {
    Error(kLoadFunction, "Could not load the file [%s]: %s failed: [%s]", path, call,
          strerror(callErr));
  };
  auto tooLarge = [this, &fail]() {
    Error(kLoadFunction, "File length exceeded the maximum file size supported by API.");
    return fail(ZUPI_FILE_TOO_LARGE);
  };
  auto noMemory = [this, path, &fail]() {
    Error(kLoadFunction, "Could not allocate enough memory to open the file [%s] in memory.", path);
    return fail(ZUPI_FILE_UNREADABLE);
  };
  auto notRegular = [this, path, &fail]() {
    Error(kLoadFunction, "File [%s] is not a regular file.", path);
    return fail(ZUPI_FILE_UNREADABLE);
  };

  struct stat st;
  if (icl::sys::calls().stat(path, &st) != 0) {
    err = errno;
    if (meansAbsent(err)) {
      Debug(kLoadFunction, "File [%s] does not exist.", path);
      return fail(ZUPI_FILE_NOT_FOUND);
    }
    logCall("stat()", err);
    return fail(ZUPI_FILE_UNREADABLE);
  }
  fileSize = st.st_size;
  // A FIFO, socket or device would block the caller or never end.
  if (!S_ISREG(st.st_mode)) return notRegular();
  if (exceedsSizeLimit(fileSize, maxFileSize)) return tooLarge();
  buffer = static_cast<char*>(malloc(static_cast<size_t>(fileSize) + 1));
  if (buffer == nullptr) return noMemory();
  if (modeTooLong) {
    Error(kLoadFunction, "Open mode of more than %zu characters refused for the file [%s].",
          kModeCapacity, path);
    return fail(ZUPI_FILE_UNREADABLE);
  }
  int flags = 0;
  icl::sys::UniqueFd fd;
  if (icl::openFlagsForMode(mode, flags)) {
    // O_NONBLOCK: should a FIFO have been swapped in since the stat, the open
    // must not wait for a writer; the fstat below then refuses it.
    fd = icl::sys::UniqueFd(
        icl::sys::openRetry(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!fd.valid()) err = errno;
  }
  if (!fd.valid()) {
    Error(kLoadFunction, "fopen() failed to open the file [%s].", path);
    if (err != 0) logCall("open()", err);
    return fail(ZUPI_FILE_UNREADABLE);
  }
  struct stat opened;
  if (icl::sys::calls().fstat(fd.get(), &opened) != 0) {
    err = errno;
    logCall("fstat()", err);
    return fail(ZUPI_FILE_UNREADABLE);
  }
  if (!S_ISREG(opened.st_mode)) return notRegular();
  // Writers replace a file by renaming a new one over it: the file opened
  // may not be the one measured. Load what was opened, whole.
  if (opened.st_size != fileSize) {
    fileSize = opened.st_size;
    if (exceedsSizeLimit(fileSize, maxFileSize)) return tooLarge();
    free(buffer);
    buffer = static_cast<char*>(malloc(static_cast<size_t>(fileSize) + 1));
    if (buffer == nullptr) return noMemory();
  }
  ssize_t got = icl::sys::readFull(fd.get(), buffer, static_cast<size_t>(fileSize));
  if (got != fileSize) {
    err = got < 0 ? errno : 0;
    Error(kLoadFunction, "Failed to read the entire file [%s].", path);
    if (err != 0) logCall("read()", err);
    return fail(ZUPI_FILE_UNREADABLE);  // fd closes here
  }
  // The file may have grown since the fstat; never take more than the limit.
  char probe;
  ssize_t more = icl::sys::readFull(fd.get(), &probe, 1);
  if (more < 0) {
    err = errno;
    Error(kLoadFunction, "Failed to read the entire file [%s].", path);
    logCall("read()", err);
    return fail(ZUPI_FILE_UNREADABLE);
  }
  if (more == 1) {
    if (icl::sys::calls().fstat(fd.get(), &opened) != 0) {
      err = errno;
      logCall("fstat()", err);
      return fail(ZUPI_FILE_UNREADABLE);
    }
    if (exceedsSizeLimit(opened.st_size, maxFileSize)) return tooLarge();
  }
  buffer[fileSize] = '\0';
  fileLoaded = true;
  stream = fd.release();
  streamOpen = true;
  if (report != nullptr) {
    report->err = 0;
    report->opened = opened;
    report->bytes.assign(buffer, static_cast<size_t>(fileSize));
  }
  if (closeAfterLoad) closeFile();
  return 0;
}
