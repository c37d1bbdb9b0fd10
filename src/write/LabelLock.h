#ifndef ICL_WRITE_LABELLOCK_H
#define ICL_WRITE_LABELLOCK_H

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
// dies, so no stale lock can block anyone. A child forked while the lock is
// held closes its copy of the descriptor at once (a fork handler), so the
// lock stays the parent's alone and ends when the parent releases it; the
// child's LabelLock then does not close a
// descriptor again.
//
// Where a lock may not reach every writer, the writer takes a claim too
// (WriterTurn.h, WriterClaim.h).

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>

#include "sys/Backoff.h"
#include "sys/FileIo.h"

namespace icl {

// How long a writer waits for the lock and the claim together: 30 seconds
// unless a tool or test says otherwise. Any limit is accepted; one too large
// for the clock means no limit.
std::chrono::milliseconds labelLockWaitLimit();
void setLabelLockWaitLimit(std::chrono::milliseconds limit);

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
  TimedOut,  // another writer held it until the deadline
  Failed,    // anything else: a link or a non-file at the name, ...
};

// Not copyable: it owns the lock's descriptor (and so its lock).
class LabelLock {
 public:
  ~LabelLock() { release(); }

  // Opens `lockPath` (never through a link), creating it if needed with the
  // directory's group and its permission bits less the execute bits (0755
  // gives 0644, 0775 gives 0664, 0777 gives 0666; the umask does not apply),
  // and waits until `deadline` for the exclusive lock. `err` is the errno
  // behind any result but Held and TimedOut (0 when the name is not a
  // regular file); with Held, that of a failure to give a new lock file its
  // group or mode (the lock is held all the same), else 0.
  LockResult acquire(const std::string& lockPath, int& err,
                     Clock::time_point deadline = deadlineAfter(labelLockWaitLimit()));
  void release();
  bool held() const { return fd_.valid(); }
  // The last acquire() found no directory; also before any, and after
  // release() (nothing guards a write then).
  bool directoryWasMissing() const { return state_ == LockResult::NoDirectory; }

 private:
  LockResult take(const std::string& lockPath, Clock::time_point deadline, int& err);
  LockResult lockOpenFile(Clock::time_point deadline, int& err);
  int requestLock();

  sys::UniqueFd fd_;
  LockResult state_ = LockResult::NoDirectory;
  pid_t owner_ = 0;  // the process that took the lock
  bool openFileDescriptionLock_ = true;
  std::unique_lock<std::timed_mutex> processGuard_;  // classic record locks only
};

}  // namespace icl

#endif
