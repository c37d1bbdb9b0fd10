#include "LabelRetry.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "LabelNames.h"
#include "SharedStorage.h"
#include "ZUPIFileOpen.h"
#include "sys/FileIo.h"
#include "sys/JoinPath.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

// What a fresh look at the label by name finds after a failed load.
enum class LabelState { Stale, Missing, Readable, Unreadable };

// Asks for an attribute that no client cache keeps. When this host's name
// for the label leads to a file another host has replaced, the server answers
// ESTALE and the kernel looks the name up again, so the next open finds the
// label that is there now. The answer itself does not matter.
void lookUpAtServer(const std::string& path) {
  sys::calls().getxattr(path.c_str(), "user.icl.lookup", nullptr, 0);
}

LabelState lookAtLabel(const std::string& path) {
  lookUpAtServer(path);
  sys::UniqueFd fd(sys::openRetry(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  int err = 0;
  struct stat st;
  char byte;
  if (!fd.valid()) {
    err = errno;
  } else if (sys::calls().fstat(fd.get(), &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    return LabelState::Unreadable;
  } else if (sys::readFull(fd.get(), &byte, 1) < 0) {
    err = errno;
  } else {
    return LabelState::Readable;
  }
  if (err == ESTALE) return LabelState::Stale;
  return err == ENOENT ? LabelState::Missing : LabelState::Unreadable;
}

bool lockFileExists(const std::string& labelPath) {
  const std::string lockPath = sys::joinPath(sys::directoryOf(labelPath), kLockFileName);
  struct stat st;
  return sys::calls().stat(lockPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void pauseBeforeRetry(int retry) {
  const int ms = std::min(2 << std::min(retry, 10), kLabelRetryPauseLimitMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

const char* describe(LabelState state) {
  switch (state) {
    case LabelState::Stale:
      return strerror(ESTALE);
    case LabelState::Missing:
      return "missing while its lock file is there";
    default:
      return "readable again";
  }
}

}  // namespace

bool LabelRetry::again(int loadCode, EvDebug& log, const char* function) {
  const bool mayBeAReplace = loadCode == ZUPI_FILE_NOT_FOUND || loadCode == ZUPI_FILE_UNREADABLE;
  if (!mayBeAReplace || retries_ >= kLabelLoadRetries) return false;
  if (storageKindOf(sys::directoryOf(labelPath_)) != StorageKind::Shared) return false;
  const LabelState state = lookAtLabel(labelPath_);
  if (state == LabelState::Unreadable) return false;
  if (state == LabelState::Missing && !lockFileExists(labelPath_)) return false;
  log.Debug(function,
            "Index cache label [%s] is being replaced by another host (%s): loading it again "
            "(retry %d of %d).",
            labelPath_.c_str(), describe(state), retries_ + 1, kLabelLoadRetries);
  pauseBeforeRetry(retries_++);
  return true;
}

void revalidateLabelName(const std::string& labelPath) {
  for (int retry = 0;; ++retry) {
    lookUpAtServer(labelPath);
    sys::UniqueFd fd(
        sys::openRetry(labelPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    int err = fd.valid() ? 0 : errno;
    if (fd.valid()) {
      struct flock shared = {};
      shared.l_type = F_RDLCK;
      shared.l_whence = SEEK_SET;
      if (sys::calls().fcntlLock(fd.get(), F_OFD_SETLK, &shared) != 0) err = errno;
    }
    if (err != ESTALE || retry == kLabelLoadRetries) return;
    pauseBeforeRetry(retry);
  }
}

}  // namespace icl
