#include "write/LabelLock.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <mutex>

#include "sys/Absent.h"
#include "sys/FileIo.h"
#include "sys/JoinPath.h"
#include "sys/SysCalls.h"
#include "toolsupport/LockWaitReport.h"
#include "write/WriterIdentity.h"

namespace icl {
namespace {

std::atomic<long long> gWaitLimitMs{30000};

// Classic record locks belong to the process: threads must take turns here.
std::timed_mutex& processLockMutex() {
  static std::timed_mutex mutex;
  return mutex;
}

// The descriptors of the locks this process holds, as fd + 1 (0: a free
// slot), for the fork handler, which may take no mutex. A process holding
// more locks at once than there are slots leaves the rest to its children.
const int kHeldLockSlots = 64;
std::atomic<int> gHeldLocks[kHeldLockSlots];

// In a child just forked: drop the copies of the parent's lock descriptors.
void closeInheritedLocks() {
  for (std::atomic<int>& slot : gHeldLocks) {
    const int held = slot.exchange(0);
    if (held > 0) sys::calls().close(held - 1);
  }
}

// Puts `to` in the first slot that holds `from`.
void swapHeldLockSlot(int from, int to) {
  for (std::atomic<int>& slot : gHeldLocks) {
    int expected = from;
    if (slot.compare_exchange_strong(expected, to)) return;
  }
}

void rememberHeldLock(int fd) {
  static std::atomic<int> handlerInstalled{0};
  runOnce(handlerInstalled, [] { pthread_atfork(nullptr, nullptr, closeInheritedLocks); });
  swapHeldLockSlot(0, fd + 1);
}

bool lockRefusedByFileSystem(int err) {
  return err == EINVAL || err == ENOLCK || err == EOPNOTSUPP || err == ENOTSUP;
}

// Those who may replace the label are those who may write the directory:
// a new lock file takes the directory's group and its permission bits less
// the execute bits, whatever the umask. Returns 0, or the errno of a step
// that failed (the lock works all the same, but others may be refused).
int giveDirectoryPermissions(int fd, const struct stat& file, const struct stat& dir) {
  int err = 0;
  if (file.st_gid != dir.st_gid &&
      sys::calls().fchown(fd, static_cast<uid_t>(-1), dir.st_gid) != 0 && errno != EPERM) {
    err = errno;  // EPERM: not a member of that group, which then keeps ours
  }
  if (sys::calls().fchmod(fd, dir.st_mode & 0666) != 0) err = errno;
  return err;
}

}  // namespace

std::chrono::milliseconds labelLockWaitLimit() {
  return std::chrono::milliseconds(gWaitLimitMs.load());
}

void setLabelLockWaitLimit(std::chrono::milliseconds limit) { gWaitLimitMs.store(limit.count()); }

LockResult LabelLock::acquire(const std::string& lockPath, int& err, Clock::time_point deadline) {
  state_ = take(lockPath, deadline, err);
  return state_;
}

LockResult LabelLock::take(const std::string& lockPath, Clock::time_point deadline, int& err) {
  release();
  err = 0;
  const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  const std::string directory = sys::directoryOf(lockPath);
  struct stat dir = {};
  bool created = false;
  int fd = sys::openRetry(lockPath.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    if (sys::calls().stat(directory.c_str(), &dir) != 0) {
      err = errno;
      return sys::meansAbsent(err) ? LockResult::NoDirectory : LockResult::Failed;
    }
    fd = sys::openRetry(lockPath.c_str(), flags | O_CREAT | O_EXCL, dir.st_mode & 0666);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = sys::openRetry(lockPath.c_str(), flags);
  }
  if (fd < 0) {
    err = errno;
    if (sys::meansAbsent(err)) return LockResult::NoDirectory;
    if (err == EROFS) return LockResult::NoAccess;
    if (err == EACCES || err == EPERM) {
      // A lock file we may not open, in a directory we may write: going on
      // unlocked could undo a change another writer makes under the lock.
      return sys::directoryWritable(directory) ? LockResult::Refused : LockResult::NoAccess;
    }
    return LockResult::Failed;
  }
  fd_ = sys::UniqueFd(fd);
  struct stat st;
  const bool examined = sys::calls().fstat(fd, &st) == 0;
  if (!examined || !S_ISREG(st.st_mode)) {
    err = examined ? 0 : errno;
    fd_.close();
    return LockResult::Failed;
  }
  const int modeErr = created ? giveDirectoryPermissions(fd, st, dir) : 0;
  const LockResult result = lockOpenFile(deadline, err);
  if (result != LockResult::Held) {
    release();
    return result;
  }
  owner_ = thisProcess();
  rememberHeldLock(fd_.get());
  err = modeErr;
  return result;
}

int LabelLock::requestLock() {
  struct flock request = {};
  request.l_type = F_WRLCK;
  request.l_whence = SEEK_SET;  // l_start and l_len 0: the whole file
  const int command = openFileDescriptionLock_ ? F_OFD_SETLK : F_SETLK;
  return sys::retryEintr(sys::calls().fcntlLock, fd_.get(), command, &request);
}

LockResult LabelLock::lockOpenFile(Clock::time_point deadline, int& err) {
  Backoff wait(INT_MAX, std::chrono::milliseconds(1), std::chrono::milliseconds(100), deadline);
  wait.withJitter();
  openFileDescriptionLock_ = true;
  LockWaitReport waitReport;
  for (;;) {
    // An interrupted attempt is repeated at once; a refused one waits below.
    if (requestLock() == 0) return LockResult::Held;
    err = errno;
    if (openFileDescriptionLock_ && err == EINVAL) {
      // A kernel without open file description locks: fall back.
      openFileDescriptionLock_ = false;
      processGuard_ = std::unique_lock<std::timed_mutex>(processLockMutex(), std::defer_lock);
      if (deadline == Clock::time_point::max()) {
        processGuard_.lock();
      } else if (!processGuard_.try_lock_until(deadline)) {
        return LockResult::TimedOut;
      }
      continue;
    }
    if (err != EAGAIN && err != EACCES) {
      return lockRefusedByFileSystem(err) ? LockResult::NotSupported : LockResult::Failed;
    }
    waitReport.waiting();
    if (!wait.pause()) return LockResult::TimedOut;
  }
}

void LabelLock::release() {
  if (fd_.valid() && owner_ != 0 && owner_ != thisProcess()) {
    // A forked child: the fork handler closed this descriptor already.
    fd_.release();
  }
  if (fd_.valid()) swapHeldLockSlot(fd_.get() + 1, 0);
  // Closing the descriptor drops the lock, for both kinds.
  fd_.close();
  owner_ = 0;
  state_ = LockResult::NoDirectory;
  processGuard_ = std::unique_lock<std::timed_mutex>();  // unlocks a mutex it owns
}

}  // namespace icl
