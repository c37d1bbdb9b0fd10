#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "ICLRoutines.h"
#include "LabelNames.h"
#include "ScratchFile.h"
#include "ZUPIFileOpen.h"
#include "sys/FileIo.h"
#include "sys/JoinPath.h"
#include "sys/SysCalls.h"

namespace {

const char* const kFunction = "ICLController::canFilesBeCreatedInDirectory";
const char* const kTestSentence =
    "This is a write test to see if the index cache directory is valid.";

// Removes the scratch file when the check fails once the file is its own.
class ScratchCleanup {
 public:
  ScratchCleanup(EvDebug& log, const char* path) : log_(log), path_(path) {}
  ~ScratchCleanup() {
    if (!armed_) return;
    int err = icl::removeScratchFile(path_, identity_);
    if (err != 0) log_.Debug(kFunction, "Failed to remove [%s], errno [%d]", path_, err);
  }
  ScratchCleanup(const ScratchCleanup&) = delete;
  ScratchCleanup& operator=(const ScratchCleanup&) = delete;

  void arm(const icl::ScratchIdentity& identity) {
    identity_ = identity;
    armed_ = true;
  }
  void disarm() { armed_ = false; }

 private:
  EvDebug& log_;
  const char* path_;
  icl::ScratchIdentity identity_;
  bool armed_ = false;
};

}  // namespace

// Proves on a scratch file that the index cache directory supports what an
// index cache needs: create, write, read back, record lock, chown, chmod,
// remove, and an existing label opened for update. Creates the directory
// first when it is missing. Every failure returns -1 at once and removes the
// scratch file once the check made it its own; the label is never written.
int ICLController::canFilesBeCreatedInDirectory() {
  iclError = ICL_ERROR_NONE;

  bool exists = false;
  if (DoesPathExist(exists) != 0) {
    Error(kFunction, "Failed to determine if path exists.");
    return -1;
  }

  // The canonical form is never longer than its input, and iclLocation holds
  // at most 255 characters, so the buffer always has room. An existing
  // directory is checked where DoesPathExist found it: with its backslashes
  // turned into slashes, not as a relative name that holds backslashes.
  char directory[1024];
  const std::string location = exists ? convertSlashes(iclLocation) : std::string(iclLocation);
  memcpy(directory, location.c_str(), location.size() + 1);
  if (!exists && CreateDirRecursive(directory) != 0) {
    return failWith(ICL_ERROR_PATH_NOT_FOUND, EV_LOG_ERROR, kFunction,
                    "Could not create directory: [%s]", directory);
  }

  const std::string scratch = icl::sys::joinPath(directory, icl::kScratchFileName);
  const std::string label = icl::sys::joinPath(directory, icl::kLabelFileName);
  const char* scratchPath = scratch.c_str();

  // The sentence did not reach the file whole: a Debug line, as operators know it.
  auto failNotWrittenWhole = [this, scratchPath]() {
    return failWith(ICL_ERROR_FILE_WRITE, EV_LOG_DEBUG, kFunction,
                    "fopen failed to open the file for writing. [%s] Index cache label could not "
                    "be written.",
                    scratchPath);
  };
  ScratchCleanup cleanup(*this, scratchPath);
  icl::ScratchIdentity identity;
  icl::ScratchFailure failure;
  const icl::ScratchWrite written =
      icl::writeScratchFile(scratchPath, std::string(kTestSentence) + "\n", identity, failure);
  if (written != icl::ScratchWrite::kNotOpened) cleanup.arm(identity);
  if (written != icl::ScratchWrite::kWritten) {
    if (written == icl::ScratchWrite::kNotWritten) {
      failNotWrittenWhole();
    } else {
      failWith(ICL_ERROR_FILE_WRITE, EV_LOG_ERROR, kFunction,
               "fopen() failed to open the file for writing. [%s] Index cache label could not be "
               "written.",
               scratchPath);
    }
    if (failure.step != icl::FileStep::None) {
      Error(kFunction, "Test file [%s]: %s failed: [%s]", scratchPath,
            icl::fileStepText(failure.step), strerror(failure.err));
    }
    return -1;
  }

  ZUPITextFileOpen readBack(scratchPath, nullptr, true);
  if (!readBack.isFileOpen()) {
    return failWith(ICL_ERROR_FILE_WRITE, EV_LOG_ERROR, kFunction,
                    "fopen() failed to open the test file for reading. [%s] Index cache label "
                    "could not be written.",
                    scratchPath);
  }
  if (strcmp(readBack.readln(), kTestSentence) != 0) return failNotWrittenWhole();

  // The lock, the owner and the mode are all tried on this one descriptor,
  // so a name swapped in the meantime can never redirect them.
  icl::sys::UniqueFd fd = icl::reopenScratchFile(scratchPath, identity);
  if (!fd.valid()) {
    return failWith(ICL_ERROR_FILE_WRITE, EV_LOG_DEBUG, kFunction,
                    "open failed to open the test file for read/write to do the file lock test. "
                    "File [%s] ",
                    scratchPath);
  }

  struct flock lock;
  memset(&lock, 0, sizeof lock);
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end of the file: the whole file
  // Waits while another process holds the file; an interrupted wait fails.
  if (icl::sys::calls().fcntlLock(fd.get(), F_SETLKW, &lock) == -1) {
    int err = errno;
    fd.close();
    if (err == EINVAL) {
      return failWith(ICL_ERROR_LOCK_NOT_SUPPORTED, EV_LOG_ERROR, kFunction,
                      "fcntl() failed to establish a file lock - file locks are not supported in "
                      "the path specified for the index cache.");
    }
    if (err == EINTR || err == EAGAIN) {
      return failWith(ICL_ERROR_FILE_LOCK, EV_LOG_ERROR, kFunction,
                      "fcntl ()failed to establish a file lock. File [%s]", scratchPath);
    }
    return failWith(ICL_ERROR_FILE_LOCK, EV_LOG_ERROR, kFunction,
                    "Unknown fcntl error [%d] returned while checking for file locking "
                    "capabilities.",
                    err);
  }
  lock.l_type = F_UNLCK;
  if (icl::sys::calls().fcntlLock(fd.get(), F_SETLK, &lock) == -1) {
    // Closing the descriptor below releases it anyway.
    Debug(kFunction, "fcntl failed to release a file lock");
  }

  struct stat st;
  if (icl::sys::calls().fstat(fd.get(), &st) != 0) {
    int err = errno;
    if (err == ENOENT) {
      Error(kFunction, "File %s does not exist", scratchPath);
    } else {
      Error(kFunction, "stat() for %s failed", scratchPath);
    }
    return failWith(ICL_ERROR_CHOWN, EV_LOG_ERROR, kFunction,
                    "Error [%d] returned by stat while checking for file chown capabilities.", err);
  }
  // Gives the file its own owner and group: nothing changes, but the file
  // system has to accept an ownership change.
  if (icl::sys::calls().fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
    int err = errno;
    return failWith(ICL_ERROR_CHOWN, EV_LOG_ERROR, kFunction,
                    "Error [%d] returned while checking for file chown capabilities by stetting "
                    "GUID [%d] and UID [%d] for [%s].",
                    err, static_cast<int>(st.st_gid), static_cast<int>(st.st_uid), scratchPath);
  }
  if (icl::sys::calls().fchmod(fd.get(), 0777) != 0) {
    int err = errno;
    return failWith(ICL_ERROR_CHMOD, EV_LOG_ERROR, kFunction,
                    "Error [%d] returned while checking for file chmod capabilities.", err);
  }
  fd.close();  // nothing was written through it, so its result tells nothing
  cleanup.disarm();

  // By name: unlink removes a link planted there, never what it points to.
  if (icl::sys::calls().unlink(scratchPath) != 0) {
    int err = errno;
    Debug(kFunction, "Failed to remove [%s], errno [%d]", scratchPath, err);
  }

  // "r+b" proves that an existing label could be rewritten; none yet is fine.
  ZUPITextFileOpen existing(label.c_str(), "r+b", true);
  if (!existing.isFileOpen() && existing.getFileIOError() != ZUPI_FILE_NOT_FOUND) {
    return failWith(ICL_ERROR_FILE_WRITE, EV_LOG_DEBUG, kFunction,
                    "fopen failed to open the existing ICL file for writing. ICL file: [%s] ",
                    label.c_str());
  }
  return 0;
}
