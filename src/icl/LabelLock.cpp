#include "LabelLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "LockWaitReport.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

std::atomic<long long> gWaitLimitMs{30000};

// Classic record locks belong to the process: threads must take turns here.
std::timed_mutex& processLockMutex() {
  static std::timed_mutex mutex;
  return mutex;
}

bool lockRefusedByFileSystem(int err) {
  return err == EINVAL || err == ENOLCK || err == EOPNOTSUPP || err == ENOTSUP;
}

}  // namespace

std::chrono::milliseconds labelLockWaitLimit() {
  return std::chrono::milliseconds(gWaitLimitMs.load());
}

void setLabelLockWaitLimit(std::chrono::milliseconds limit) { gWaitLimitMs.store(limit.count()); }

LockResult LabelLock::acquire(const std::string& lockPath, int& err) {
  release();
  err = 0;
  const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = sys::openRetry(lockPath.c_str(), flags | O_CREAT | O_EXCL, 0666);
  if (fd >= 0) {
    // Every user of every host must be able to lock it, whatever our umask.
    // Best effort: a lock file others cannot open only costs them the lock.
    sys::calls().fchmod(fd, 0666);
  } else if (errno == EEXIST) {
    fd = sys::openRetry(lockPath.c_str(), flags);
  }
  if (fd < 0) {
    err = errno;
    if (err == ENOENT || err == ENOTDIR) return LockResult::NoDirectory;
    if (err == EACCES || err == EPERM || err == EROFS) return LockResult::NoAccess;
    return LockResult::Failed;
  }
  fd_ = sys::UniqueFd(fd);
  struct stat st;
  if (sys::calls().fstat(fd, &st) != 0) {
    err = errno;
    fd_.close();
    return LockResult::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    fd_.close();
    return LockResult::Failed;
  }
  LockResult result = lockOpenFile(err);
  if (result != LockResult::Held) release();
  return result;
}

LockResult LabelLock::lockOpenFile(int& err) {
  const auto deadline = std::chrono::steady_clock::now() + labelLockWaitLimit();
  std::chrono::milliseconds pause(1);
  bool openFileDescriptionLock = true;
  LockWaitReport waitReport;
  for (;;) {
    struct flock request = {};
    request.l_type = F_WRLCK;
    request.l_whence = SEEK_SET;
    request.l_start = 0;
    request.l_len = 0;
    int command = openFileDescriptionLock ? F_OFD_SETLK : F_SETLK;
    if (sys::calls().fcntlLock(fd_.get(), command, &request) == 0) return LockResult::Held;
    err = errno;
    if (err == EINTR) continue;
    if (openFileDescriptionLock && err == EINVAL) {
      // A kernel without open file description locks: fall back.
      openFileDescriptionLock = false;
      processGuard_ = std::unique_lock<std::timed_mutex>(processLockMutex(), std::defer_lock);
      if (!processGuard_.try_lock_until(deadline)) return LockResult::TimedOut;
      continue;
    }
    if (err != EAGAIN && err != EACCES) {
      return lockRefusedByFileSystem(err) ? LockResult::NotSupported : LockResult::Failed;
    }
    if (std::chrono::steady_clock::now() >= deadline) return LockResult::TimedOut;
    waitReport.waiting();
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(10));
  }
}

void LabelLock::release() {
  // Closing the descriptor drops the lock, for both kinds.
  fd_.close();
  if (processGuard_.owns_lock()) processGuard_.unlock();
  processGuard_ = std::unique_lock<std::timed_mutex>();
}

}  // namespace icl
