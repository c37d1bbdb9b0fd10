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
  // The lock file cannot be created or opened for writing, and this process
  // could not change the label either (a read-only file system, or a
  // directory it may not write): going on unlocked risks nothing.
  NoAccess,
  // The lock file exists but this process may not open it for writing,
  // although it may write the directory: a change without the lock could
  // undo another writer's.
  Refused,
  TimedOut,      // another writer held it for the whole wait limit
  Failed,        // anything else: a link or a non-file at the name, ...
};

class LabelLock {
 public:
  LabelLock() = default;
  ~LabelLock() { release(); }
  LabelLock(const LabelLock&) = delete;
  LabelLock& operator=(const LabelLock&) = delete;

  // Opens `lockPath` (never through a link), creating it if needed with the
  // directory's group and its permission bits less the execute bits (0755
  // gives 0644, 0775 gives 0664, 0777 gives 0666; the umask does not apply),
  // and waits at most labelLockWaitLimit() for the exclusive lock. `err` is
  // the errno behind any result but Held and TimedOut (0 when the name is not
  // a regular file); with Held, that of a failure to give a new lock file its
  // group or mode (the lock is held all the same), else 0.
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
