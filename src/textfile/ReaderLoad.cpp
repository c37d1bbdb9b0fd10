// The reader's load: stat, open, read the whole file into memory, to its end,
// and make sure it did not change while it was read.

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <new>

#include "LoadReport.h"
#include "OpenMode.h"
#include "ZUPIFileOpen.h"
#include "sys/Absent.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace {

const char* const kLoadFunction = "ZUPITextFileOpen::reloadFile";
const size_t kModeCapacity = 9;  // characters, without the NUL
// Loads of a file that changes while it is read, before the load gives up.
const int kLoadsOfAChangingFile = 3;

// More than the reader may hold: over `limit`, or a size no file has.
bool exceedsSizeLimit(int64_t size, int limit) {
  return size < 0 || size > static_cast<int64_t>(limit);
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// One load of one file: each step logs its own failure in the words hosts
// know and answers false, leaving `code` and `err` set.
class FileLoad {
 public:
  FileLoad(EvDebug& log, const char* path, int limit) : log_(log), path_(path), limit_(limit) {}
  ~FileLoad() { free(bytes_); }
  FileLoad(const FileLoad&) = delete;
  FileLoad& operator=(const FileLoad&) = delete;

  // The file by name: there, a regular file, not over the limit.
  bool examineByName() {
    struct stat& st = named;
    if (icl::sys::calls().stat(path_, &st) != 0) {
      err = errno;
      if (icl::sys::meansAbsent(err)) {
        log_.Debug(kLoadFunction, "File [%s] does not exist.", path_);
        return failWith(ZUPI_FILE_NOT_FOUND);
      }
      return failedCall("stat()");
    }
    // A FIFO, socket or device would block the caller or never end.
    if (!S_ISREG(st.st_mode)) return notRegular();
    if (exceedsSizeLimit(st.st_size, limit_)) return tooLarge();
    return reserve(static_cast<size_t>(st.st_size) + 1);
  }

  bool refuseLongMode() {
    log_.Error(kLoadFunction, "Open mode of more than %zu characters refused for the file [%s].",
               kModeCapacity, path_);
    return failWith(ZUPI_FILE_UNREADABLE);
  }

  // Opens the file as `mode` asks and examines what was opened: writers
  // replace a file by renaming a new one over it, so it may not be the one
  // examined by name.
  bool open(const char* mode) {
    int flags = 0;
    if (icl::openFlagsForMode(mode, flags)) {
      // O_NONBLOCK: should a FIFO have been swapped in since the stat, the
      // open must not wait for a writer; the fstat below then refuses it.
      flags_ = flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
      fd = icl::sys::UniqueFd(icl::sys::openRetry(path_, flags_, 0666));
      if (!fd.valid()) err = errno;
    }
    if (!fd.valid()) {
      log_.Error(kLoadFunction, "fopen() failed to open the file [%s].", path_);
      if (err != 0) logCall("open()", err);
      return failWith(ZUPI_FILE_UNREADABLE);
    }
    if (icl::sys::calls().fstat(fd.get(), &opened) != 0) return failedCall("fstat()");
    if (!S_ISREG(opened.st_mode)) return notRegular();
    if (exceedsSizeLimit(opened.st_size, limit_)) return tooLarge();
    direct_ = icl::sys::readAroundPageCache(fd.get(), flags_);
    return reserve(static_cast<size_t>(opened.st_size) + 1);
  }

  // Reads until the end of the file, whatever its size said: a file that
  // grew since (stale attributes, a writer appending in place) is read
  // whole, and never past the limit.
  bool readToEnd() {
    for (;;) {
      if (size + 1 == capacity_ && !reserve(capacity_ * 2)) return false;
      const ssize_t got =
          icl::sys::readOnceDirect(fd.get(), flags_, direct_, bytes_ + size, capacity_ - 1 - size);
      if (got < 0) {
        err = errno;
        log_.Error(kLoadFunction, "Failed to read the entire file [%s].", path_);
        logCall("read()", err);
        return failWith(ZUPI_FILE_UNREADABLE);
      }
      if (got == 0) break;
      size += static_cast<size_t>(got);
      if (size > static_cast<size_t>(limit_)) return tooLarge();
    }
    bytes_[size] = '\0';
    return true;
  }

  // True when the file read is as it was opened: same size as the bytes
  // read, same modification time. (Not the change time: a writer renaming a
  // new label over this one changes that of the file being read, whose bytes
  // stay as they are.) False with `changed` set when it is not, or with a
  // failed call.
  bool confirmUnchanged() {
    struct stat after;
    if (icl::sys::calls().fstat(fd.get(), &after) != 0) return failedCall("fstat()");
    sizeSaid = static_cast<long long>(after.st_size);
    changed =
        static_cast<size_t>(after.st_size) != size || !sameTime(after.st_mtim, opened.st_mtim);
    if (!changed) return true;
    opened = after;
    return false;
  }

  // The last load of a file that was never read whole: the line hosts know
  // first, then what was seen: a size that reads never reach (a sysfs or
  // procfs attribute says 4096 bytes and gives a few), or a file that kept
  // changing.
  void reportChanging() {
    log_.Error(kLoadFunction, "Failed to read the entire file [%s].", path_);
    if (static_cast<long long>(size) != sizeSaid) {
      log_.Error(kLoadFunction,
                 "Could not load the file [%s]: its size is [%lld] bytes, but [%zu] were read, "
                 "[%d] times in a row.",
                 path_, sizeSaid, size, kLoadsOfAChangingFile);
    } else {
      log_.Error(kLoadFunction,
                 "Could not load the file [%s]: it changed while it was read, [%d] times in a row.",
                 path_, kLoadsOfAChangingFile);
    }
    failWith(ZUPI_FILE_UNREADABLE);
  }

  // The bytes read, from malloc, NUL-terminated; the caller frees them.
  char* takeBytes() {
    char* taken = bytes_;
    bytes_ = nullptr;
    return taken;
  }

  TZUPIFileIOError code = ZUPI_FILE_OK;
  int err = 0;  // errno of the call that failed
  bool changed = false;
  icl::sys::UniqueFd fd;
  struct stat opened = {};
  struct stat named = {};  // by name, before the open
  size_t size = 0;
  long long sizeSaid = 0;  // by the fstat after the read

 private:
  bool failWith(TZUPIFileIOError failure) {
    code = failure;
    return false;
  }
  void logCall(const char* call, int callErr) {
    log_.Error(kLoadFunction, "Could not load the file [%s]: %s failed: [%s]", path_, call,
               strerror(callErr));
  }
  bool failedCall(const char* call) {
    err = errno;
    logCall(call, err);
    return failWith(ZUPI_FILE_UNREADABLE);
  }
  bool notRegular() {
    log_.Error(kLoadFunction, "File [%s] is not a regular file.", path_);
    return failWith(ZUPI_FILE_UNREADABLE);
  }
  bool tooLarge() {
    log_.Error(kLoadFunction, "File length exceeded the maximum file size supported by API.");
    return failWith(ZUPI_FILE_TOO_LARGE);
  }
  // Room for `capacity` bytes (the text and its NUL), keeping what was read.
  bool reserve(size_t capacity) {
    if (capacity <= capacity_) return true;
    char* grown = static_cast<char*>(realloc(bytes_, capacity));
    if (grown == nullptr) {
      log_.Error(kLoadFunction, "Could not allocate enough memory to open the file [%s] in memory.",
                 path_);
      return failWith(ZUPI_FILE_UNREADABLE);
    }
    bytes_ = grown;
    capacity_ = capacity;
    return true;
  }

  EvDebug& log_;
  const char* path_;
  int limit_;
  char* bytes_ = nullptr;
  size_t capacity_ = 0;
  int flags_ = 0;        // as opened
  bool direct_ = false;  // reads bypass the page cache (FileIo.h)
};

// Tells `report` what the load saw, for the label's writers. False when
// memory ran out: the API throws nothing.
bool reportLoad(icl::LoadReport& report, const char* bytes, const FileLoad& file) {
  try {
    report.bytes.assign(bytes, file.size);
  } catch (const std::bad_alloc&) {
    report.err = ENOMEM;
    return false;
  }
  report.err = 0;
  report.opened = file.opened;
  const bool sameFile =
      file.named.st_dev == file.opened.st_dev && file.named.st_ino == file.opened.st_ino;
  report.named = sameFile ? file.named : file.opened;
  return true;
}

}  // namespace

int ZUPITextFileOpen::load(bool closeAfterLoad, icl::LoadReport* report) {
  // The host's log sink may throw from a line of the load, and memory may
  // run out: the load then fails there, its memory and descriptor released,
  // and the API throws nothing.
  try {
    return loadWhole(closeAfterLoad, report);
  } catch (...) {
    closeFile();
    free(buffer);
    buffer = nullptr;
    fileLoaded = false;
    fileSize = -1;
    fileIOError = ZUPI_FILE_UNREADABLE;
    return -1;
  }
}

int ZUPITextFileOpen::loadWhole(bool closeAfterLoad, icl::LoadReport* report) {
  closeFile();
  free(buffer);
  buffer = nullptr;
  fileLoaded = false;
  fileIOError = ZUPI_FILE_OK;
  emptyLine[0] = '\0';
  readIndex = 0;
  fileSize = -1;
  for (int attempt = 1;; ++attempt) {
    FileLoad file(*this, fileName.c_str(), maxFileSize);
    const bool loaded = file.examineByName() && (modeTooLong ? file.refuseLongMode() : true) &&
                        file.open(mode) && file.readToEnd() && file.confirmUnchanged();
    if (!loaded && file.changed && attempt == kLoadsOfAChangingFile) file.reportChanging();
    if (!loaded && file.changed && attempt < kLoadsOfAChangingFile) continue;
    if (!loaded) {
      fileIOError = file.code;
      if (report != nullptr) report->err = file.err;
      return -1;
    }
    fileSize = static_cast<int64_t>(file.size);
    buffer = file.takeBytes();
    fileLoaded = true;
    stream = file.fd.release();
    streamOpen = true;
    if (report != nullptr && !reportLoad(*report, buffer, file)) {
      Error(kLoadFunction, "Could not allocate enough memory to open the file [%s] in memory.",
            fileName.c_str());
      throw std::bad_alloc();  // load() discards the text, as after any throw on the way
    }
    break;
  }
  if (closeAfterLoad) closeFile();
  return 0;
}
