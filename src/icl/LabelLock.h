#ifndef ICL_ICL_LABELLOCK_H
#define ICL_ICL_LABELLOCK_H

// The writers' lock of a label directory.
//
// Every read-modify-write of a label runs under an exclusive advisory lock
// on a lock file beside it, taken by every process using this library. The
// lock file is never removed: removing it would let a newcomer lock a fresh
// file while an old holder still holds the removed one. The lock belongs to
// an open file description (F_OFD_SETLK), so two holders in one process
// exclude each other too and closing another descriptor does not drop it;
// where the kernel refuses those, classic record locks and an in-process
// mutex take their place. The kernel releases the lock when its holder
// dies, so no stale lock can block anyone.

#include <chrono>
#include <mutex>
#include <string>

#include "sys/FileIo.h"

namespace icl {

enum class LockResult {
  Held,          // the lock is ours until release() or destruction
  NotSupported,  // the file system refuses record locks (err says why)
  NoDirectory,   // the directory does not exist (ENOENT, ENOTDIR)
  NoAccess,      // the lock file cannot be created or opened for writing
  TimedOut,      // another writer held it for the whole wait limit
  Failed,        // anything else: a link or a non-file at the name, ...
};

class LabelLock {
 public:
  LabelLock() = default;
  ~LabelLock() { release(); }
  LabelLock(const LabelLock&) = delete;
  LabelLock& operator=(const LabelLock&) = delete;

  // Opens `lockPath` (creating it, mode 0666, if needed; never through a
  // link) and waits at most labelLockWaitLimit() for the exclusive lock.
  // `err` is the errno behind any result but Held and TimedOut (0 when the
  // name is not a regular file).
  LockResult acquire(const std::string& lockPath, int& err);
  void release();
  bool held() const { return fd_.valid(); }

 private:
  LockResult lockOpenFile(int& err);

  sys::UniqueFd fd_;
  std::unique_lock<std::timed_mutex> processGuard_;  // classic record locks only
};

// How long a writer waits for the lock: 30 seconds unless a test says less.
std::chrono::milliseconds labelLockWaitLimit();
void setLabelLockWaitLimit(std::chrono::milliseconds limit);

}  // namespace icl

#endif
