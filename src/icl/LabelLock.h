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
// dies, so no stale lock can block anyone. A child forked while the lock is
// held closes its copy of the descriptor at once (a fork handler), so the
// lock stays the parent's alone and ends when the parent releases it; the
// child's LabelLock then neither removes the parent's claim nor closes a
// descriptor again.
//
// A lock that other hosts do not see, or that a partition took away, would
// still let two writers replace the label at once; so the holder also takes
// the writers' claim (WriterClaim.h), and just before it replaces the label
// asks again whether both are still its own (stillHeld).

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>

#include "Backoff.h"
#include "LabelDirectory.h"
#include "WriterClaim.h"
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
  TimedOut,  // another writer held it for the whole wait limit
  // The lock was ours, but another writer's live claim stood for the whole
  // wait limit: the lock does not reach that writer (claimHolder() names it).
  ClaimTimedOut,
  ClaimFailed,  // the claim file could not be created or read (err says why)
  Failed,       // anything else: a link or a non-file at the name, ...
};

// Not copyable: it owns the lock's descriptor (and so its lock) and the claim.
class LabelLock {
 public:
  ~LabelLock() { release(); }

  // Opens `lockPath` (never through a link), creating it if needed with the
  // directory's group and its permission bits less the execute bits (0755
  // gives 0644, 0775 gives 0664, 0777 gives 0666; the umask does not apply),
  // and waits at most labelLockWaitLimit() for the exclusive lock. `err` is
  // the errno behind any result but Held and TimedOut (0 when the name is not
  // a regular file); with Held, that of a failure to give a new lock file its
  // group or mode (the lock is held all the same), else 0. The wait limit
  // covers the lock and the claim together.
  LockResult acquire(const std::string& lockPath, int& err);
  void release();
  bool held() const { return fd_.valid(); }
  // How the last acquire() ended; NoDirectory before any, and after
  // release() (nothing guards a write then).
  LockResult state() const { return state_; }
  bool directoryWasMissing() const { return state_ == LockResult::NoDirectory; }

  // Asks again, without waiting, for the lock on the same descriptor (on a
  // network file system the request reaches the server, which refuses it
  // when another host holds the lock now), and whether the claim file is
  // still ours. False with `err` (EAGAIN: another writer has the lock) when
  // either is lost. One fcntl and one lstat.
  bool stillHeld(int& err);
  // The claim found standing when the claim could not be taken, or taken
  // over: the other writer's tag.
  const std::string& claimHolder() const { return claimHolder_; }
  bool tookOverStaleClaim() const { return tookOverClaim_; }

 private:
  LockResult take(const std::string& lockPath, int& err);
  LockResult lockOpenFile(Clock::time_point deadline, int& err);
  LockResult claimDirectory(const LabelDirectory& directory, Clock::time_point deadline, int& err);
  int requestLock();

  sys::UniqueFd fd_;
  LockResult state_ = LockResult::NoDirectory;
  pid_t owner_ = 0;  // the process that took the lock
  bool openFileDescriptionLock_ = true;
  std::unique_lock<std::timed_mutex> processGuard_;  // classic record locks only
  WriterClaim claim_;
  std::string claimHolder_;
  bool tookOverClaim_ = false;
};

// How long a writer waits for the lock: 30 seconds unless a test says less.
// Any limit is accepted; one too large for the clock means no limit.
std::chrono::milliseconds labelLockWaitLimit();
void setLabelLockWaitLimit(std::chrono::milliseconds limit);

}  // namespace icl

#endif
