#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "ICLRoutines.h"
#include "ZUPIFileOpen.h"
#include "capability/DirectoryChain.h"
#include "capability/ScratchFile.h"
#include "label/LabelDirectory.h"
#include "label/NoThrow.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"
#include "textfile/LoadReport.h"

// The capability check as named steps. Each proves one thing and answers
// ICL_ERROR_NONE, or the code of its failure after writing its lines: the
// words older versions wrote, which hosts match, then a line naming the call
// that failed and its errno where the old words do not.

namespace {

const char* const kFunction = "ICLController::canFilesBeCreatedInDirectory";
const char* const kTestSentence =
    "This is a write test to see if the index cache directory is valid.";
const TICLError kProved = ICL_ERROR_NONE;

// Proves the directory is there, creating it with its parents when missing.
// `directory` is then where the check works: an existing one where
// DoesPathExist found it, its backslashes turned into slashes (not as a
// relative name that holds backslashes); a new one in canonical form.
TICLError findOrCreateDirectory(ICLController& controller, const char* location, bool exists,
                                std::string& directory) {
  if (exists) {
    directory = convertSlashes(location);
    return kProved;
  }
  // The canonical form is never longer than its input, and iclLocation holds
  // at most 255 characters, so the buffer always has room.
  char buffer[1024];
  snprintf(buffer, sizeof buffer, "%s", location);
  icl::DirectoryFailure failure;
  if (icl::createDirectoryChain(controller, buffer, failure) == 0) {
    directory = buffer;
    return kProved;
  }
  controller.Error(kFunction, "Could not create directory: [%s]", buffer);
  if (failure.step == icl::FileStep::None) return ICL_ERROR_PATH_NOT_FOUND;  // a relative path
  const bool creating = failure.step == icl::FileStep::Creating;
  controller.Error(kFunction, "Directory [%s]: %s failed: [%s]", failure.directory.c_str(),
                   creating ? "mkdir()" : "stat()", strerror(failure.err));
  if (creating) return ICL_ERROR_FILE_WRITE;
  // A file along the path: no directory can be there. Anything else kept the
  // path from being examined at all.
  return failure.err == ENOTDIR ? ICL_ERROR_PATH_NOT_FOUND : ICL_ERROR_FILE_READ;
}

TICLError reportWriteFailure(EvDebug& log, icl::ScratchWrite written, const char* path,
                             const icl::ScratchFailure& failure) {
  if (written == icl::ScratchWrite::kNotCreated) {
    log.Error(kFunction,
              "fopen() failed to open the file for writing. [%s] Index cache label could not be "
              "written.",
              path);
  } else {  // the sentence did not reach the file whole: a Debug line, as operators know it
    log.Debug(kFunction,
              "fopen failed to open the file for writing. [%s] Index cache label could not be "
              "written.",
              path);
  }
  log.Error(kFunction, "Test file [%s]: %s failed: [%s]", path, icl::fileStepText(failure.step),
            strerror(failure.err));
  return ICL_ERROR_FILE_WRITE;
}

// Proves the sentence reads back as written. By name, through the reader:
// the name is the check's own.
TICLError proveTextReadsBack(EvDebug& log, const char* path) {
  ZUPITextFileOpen readBack(path, nullptr, true);
  if (!readBack.isFileOpen()) {
    log.Error(kFunction,
              "fopen() failed to open the test file for reading. [%s] Index cache label could not "
              "be written.",
              path);
    return ICL_ERROR_FILE_WRITE;
  }
  if (strcmp(readBack.readln(), kTestSentence) != 0) {
    log.Debug(kFunction,
              "fopen failed to open the file for writing. [%s] Index cache label could not be "
              "written.",
              path);
    log.Error(kFunction, "Test file [%s] does not read back as it was written.", path);
    return ICL_ERROR_FILE_WRITE;
  }
  return kProved;
}

TICLError reportLockRefused(EvDebug& log, int err, const char* path) {
  TICLError code = ICL_ERROR_FILE_LOCK;
  if (err == EINVAL) {
    code = ICL_ERROR_LOCK_NOT_SUPPORTED;
    log.Error(kFunction,
              "fcntl() failed to establish a file lock - file locks are not supported in the "
              "path specified for the index cache.");
  } else if (err == EINTR || err == EAGAIN || err == EACCES) {
    log.Error(kFunction, "fcntl ()failed to establish a file lock. File [%s]", path);
  } else {
    log.Error(kFunction,
              "Unknown fcntl error [%d] returned while checking for file locking capabilities.",
              err);
  }
  log.Error(kFunction, "Test file [%s]: locking failed: [%s]", path, strerror(err));
  return code;
}

// Proves a record lock can be taken and released. The file is the check's
// own, so no other process has reason to hold it: the lock is tried once,
// never waited for.
TICLError proveRecordLock(EvDebug& log, int fd, const char* path) {
  struct flock lock = {};  // l_start and l_len 0: the whole file
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (icl::sys::calls().fcntlLock(fd, F_SETLK, &lock) == -1) {
    return reportLockRefused(log, errno, path);
  }
  lock.l_type = F_UNLCK;
  if (icl::sys::calls().fcntlLock(fd, F_SETLK, &lock) == -1) {
    // Closing the descriptor releases it anyway.
    log.Debug(kFunction, "fcntl failed to release a file lock");
  }
  return kProved;
}

// Proves the file system accepts an ownership change by giving the file its
// own owner and group again: nothing changes.
TICLError proveOwnerCanBeSet(EvDebug& log, int fd, const char* path) {
  struct stat st;
  if (icl::sys::calls().fstat(fd, &st) != 0) {
    int err = errno;
    if (err == ENOENT) {
      log.Error(kFunction, "File %s does not exist", path);
    } else {
      log.Error(kFunction, "stat() for %s failed", path);
    }
    log.Error(kFunction, "Error [%d] returned by stat while checking for file chown capabilities.",
              err);
    return ICL_ERROR_CHOWN;
  }
  if (icl::sys::calls().fchown(fd, st.st_uid, st.st_gid) != 0) {
    int err = errno;
    log.Error(kFunction,
              "Error [%d] returned while checking for file chown capabilities by stetting GUID "
              "[%d] and UID [%d] for [%s].",
              err, static_cast<int>(st.st_gid), static_cast<int>(st.st_uid), path);
    return ICL_ERROR_CHOWN;
  }
  return kProved;
}

TICLError proveModeCanBeSet(EvDebug& log, int fd) {
  if (icl::sys::calls().fchmod(fd, 0777) != 0) {
    int err = errno;
    log.Error(kFunction, "Error [%d] returned while checking for file chmod capabilities.", err);
    return ICL_ERROR_CHMOD;
  }
  return kProved;
}

TICLError reportNotReopened(EvDebug& log, const char* path, int err) {
  log.Debug(kFunction,
            "open failed to open the test file for read/write to do the file lock test. File [%s] ",
            path);
  if (err != 0) {
    log.Error(kFunction, "Test file [%s]: opening for reading and writing failed: [%s]", path,
              strerror(err));
  } else {
    log.Error(kFunction, "Test file [%s] is no longer the file this check created.", path);
  }
  return ICL_ERROR_FILE_WRITE;
}

// Proves on the written file that it reads back, opens for reading and
// writing, locks, and takes an owner and a mode. The lock, the owner and the
// mode are all tried on one descriptor, so a name swapped in the meantime
// can never redirect them.
TICLError proveWrittenFile(EvDebug& log, const icl::ScratchFile& file) {
  const char* path = file.path.c_str();
  TICLError verdict = proveTextReadsBack(log, path);
  if (verdict != kProved) return verdict;
  int err = 0;
  icl::sys::UniqueFd fd = icl::reopenScratchFile(file, err);
  if (!fd.valid()) return reportNotReopened(log, path, err);
  verdict = proveRecordLock(log, fd.get(), path);
  if (verdict == kProved) verdict = proveOwnerCanBeSet(log, fd.get(), path);
  if (verdict == kProved) verdict = proveModeCanBeSet(log, fd.get());
  return verdict;  // the descriptor closes unchecked: nothing was written through it
}

// Proves the scratch file can be removed. After an earlier failure it is
// removed all the same, and that failure stays the answer.
TICLError proveFileCanBeRemoved(EvDebug& log, const icl::ScratchFile& file, TICLError verdict) {
  const int err = icl::removeScratchFile(file);
  if (err == 0) return verdict;
  log.Debug(kFunction, "Failed to remove [%s], errno [%d]", file.path.c_str(), err);
  if (verdict != kProved) return verdict;
  log.Error(kFunction, "Test file [%s]: removing failed: [%s]", file.path.c_str(), strerror(err));
  return ICL_ERROR_FILE_WRITE;
}

// Everything the check proves on a scratch file of its own, which it
// removes again once it created it.
TICLError proveScratchFileOperations(EvDebug& log, const std::string& directory) {
  icl::ScratchFile file;
  icl::ScratchFailure failure;
  const icl::ScratchWrite written =
      icl::writeScratchFile(directory, std::string(kTestSentence) + "\n", file, failure);
  if (written == icl::ScratchWrite::kNotCreated) {
    return reportWriteFailure(log, written, file.path.c_str(), failure);
  }
  const TICLError verdict = written == icl::ScratchWrite::kWritten
                                ? proveWrittenFile(log, file)
                                : reportWriteFailure(log, written, file.path.c_str(), failure);
  return proveFileCanBeRemoved(log, file, verdict);
}

// The label stands but cannot be opened for update: the old Debug line, which
// hosts match, then why ("Index cache label [path] <why>").
TICLError reportLabelNotUpdatable(EvDebug& log, const char* path, const std::string& why) {
  log.Debug(kFunction, "fopen failed to open the existing ICL file for writing. ICL file: [%s] ",
            path);
  log.Error(kFunction, "Index cache label [%s] %s", path, why.c_str());
  return ICL_ERROR_FILE_WRITE;
}

// Proves that an existing label could be opened for update; no label yet is
// fine. The label is examined, opened for reading and writing and closed:
// never read, written, created or removed.
TICLError proveLabelCanBeUpdated(EvDebug& log, const std::string& label) {
  const char* path = label.c_str();
  struct stat st;
  if (icl::sys::calls().stat(path, &st) != 0) {
    const int err = errno;
    if (err == ENOENT) return kProved;
    log.Error(kFunction, "Index cache label [%s] could not be examined: stat() failed: [%s]", path,
              strerror(err));
    return ICL_ERROR_FILE_READ;
  }
  if (!S_ISREG(st.st_mode)) return reportLabelNotUpdatable(log, path, "is not a regular file.");
  if (st.st_size > icl::kReaderSizeLimit) {
    // A reader refuses it (and the old check's reader did): it cannot be
    // loaded for update.
    return reportLabelNotUpdatable(log, path,
                                   "is larger than the [" + std::to_string(icl::kReaderSizeLimit) +
                                       "] bytes a label may hold ([" +
                                       std::to_string(static_cast<long long>(st.st_size)) +
                                       "] bytes), so it can be neither read nor updated.");
  }
  // O_NONBLOCK: should a FIFO have been swapped in since the stat, the open
  // must not wait for a writer.
  icl::sys::UniqueFd fd(icl::sys::openRetry(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) {
    const int err = errno;
    return reportLabelNotUpdatable(
        log, path,
        std::string("could not be opened for update: open() failed: [") + strerror(err) + "]");
  }
  return kProved;  // closes unchecked: nothing was written through it
}

// canFilesBeCreatedInDirectory's steps, one after another.
int proveDirectoryCapabilities(ICLController& self, TICLError& iclError, const char* iclLocation) {
  iclError = ICL_ERROR_NONE;
  bool exists = false;
  if (self.DoesPathExist(exists) != 0) {
    self.Error(kFunction, "Failed to determine if path exists.");
    return -1;
  }
  std::string directory;
  iclError = findOrCreateDirectory(self, iclLocation, exists, directory);
  if (iclError == kProved) iclError = proveScratchFileOperations(self, directory);
  if (iclError == kProved) {
    iclError = proveLabelCanBeUpdated(self, icl::LabelDirectory(directory.c_str()).label());
  }
  return iclError == kProved ? 0 : -1;
}

}  // namespace

// Proves in the index cache directory, creating it first when it is
// missing, what an index cache needs of it (see the header). Every check
// works on a scratch file of its own, so any number may run at once.
int ICLController::canFilesBeCreatedInDirectory() {
  return icl::answerWithoutThrowing(iclError, ICL_ERROR_FILE_WRITE, [this] {
    return proveDirectoryCapabilities(*this, iclError, iclLocation);
  });
}
