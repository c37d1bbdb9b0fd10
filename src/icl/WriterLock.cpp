#include "WriterLock.h"

#include <string.h>

#include <string>

#include "LabelNames.h"
#include "LabelRetry.h"
#include "SharedStorage.h"
#include "WriterClaim.h"
#include "sys/JoinPath.h"

namespace icl {
namespace {

// On storage other hosts write too, what this host cached under the label's
// name may be a label they have since replaced: look it up at the server.
// A name that stays stale is refused: a change loaded through it would undo
// another host's.
int refreshSharedLabel(EvDebug& log, const char* function, const char* location, TICLError& error) {
  const std::string dir = convertSlashes(location);
  if (recentStorageKindOf(dir) != StorageKind::Shared) return 0;
  noteSharedStorageOnce(log, function, dir);
  const std::string labelPath = sys::joinPath(dir, kLabelFileName);
  if (revalidateLabelName(labelPath) == NameCheck::Fresh) return 0;
  error = ICL_ERROR_FILE_READ;
  log.Error(function,
            "Index cache label [%s] was not changed: under its name this host still finds another "
            "file than the one the server lists. The file system keeps names in a cache; mount it "
            "without an entry cache timeout.",
            labelPath.c_str());
  return -1;
}

// Locks are refused here, or of no use to this process: say so at Debug.
void logGoingOnUnlocked(EvDebug& log, const char* function, const char* why,
                        const std::string& lockPath, int err) {
  log.Debug(function, "%s [%s]: [%s]. Changing the index cache label without a lock.", why,
            lockPath.c_str(), strerror(err));
}

}  // namespace

int takeWritersLock(EvDebug& log, const char* function, const char* location, LabelLock& lock,
                    WriterLockState& state, TICLError& error) {
  state = WriterLockState::NotTaken;
  if (location == nullptr || location[0] == '\0') return 0;  // the read reports it
  const std::string lockPath = sys::joinPath(convertSlashes(location), kLockFileName);
  int err = 0;
  switch (lock.acquire(lockPath, err)) {
    case LockResult::Held:
      state = WriterLockState::Held;
      if (err != 0) {
        log.Error(function,
                  "Could not give the new lock file [%s] the directory's group and permissions: "
                  "[%s]. Other users may be unable to take the lock.",
                  lockPath.c_str(), strerror(err));
      }
      if (lock.tookOverStaleClaim()) {
        log.Debug(function, "Took over the claim [%s] of writer [%s], which is gone.",
                  sys::joinPath(convertSlashes(location), kClaimFileName).c_str(),
                  lock.claimHolder().c_str());
      }
      return refreshSharedLabel(log, function, location, error);
    case LockResult::NoDirectory:
      return 0;
    case LockResult::NotSupported:
      state = WriterLockState::Unlocked;
      logGoingOnUnlocked(log, function, "File locks are not supported for", lockPath, err);
      return 0;
    case LockResult::NoAccess:
      state = WriterLockState::Unlocked;
      logGoingOnUnlocked(log, function, "Cannot open the lock file", lockPath, err);
      return 0;
    case LockResult::Refused:
      error = ICL_ERROR_FILE_LOCK;
      log.Error(function,
                "Cannot open the lock file [%s]: [%s]. The index cache label was not changed: "
                "without the lock, the change could undo another writer's. Give this user write "
                "access to the lock file.",
                lockPath.c_str(), strerror(err));
      return -1;
    case LockResult::TimedOut:
      error = ICL_ERROR_FILE_LOCK;
      log.Error(function,
                "Timed out after [%lld] ms waiting for the index cache label lock [%s] held by "
                "another writer.",
                static_cast<long long>(labelLockWaitLimit().count()), lockPath.c_str());
      return -1;
    case LockResult::ClaimTimedOut:
      error = ICL_ERROR_FILE_LOCK;
      log.Error(function,
                "Timed out after [%lld] ms waiting for the index cache label claim [%s] of writer "
                "[%s]. That writer does not see this host's lock: the file system does not pass "
                "locks between its clients.",
                static_cast<long long>(labelLockWaitLimit().count()),
                sys::joinPath(convertSlashes(location), kClaimFileName).c_str(),
                lock.claimHolder().c_str());
      return -1;
    case LockResult::ClaimFailed:
      error = ICL_ERROR_FILE_LOCK;
      log.Error(function, "Could not take the index cache label claim [%s]: [%s]",
                sys::joinPath(convertSlashes(location), kClaimFileName).c_str(),
                err != 0 ? strerror(err) : "not a regular file");
      return -1;
    case LockResult::Failed:
      break;
  }
  error = ICL_ERROR_FILE_LOCK;
  log.Error(function, "Could not take the index cache label lock [%s]: [%s]", lockPath.c_str(),
            err != 0 ? strerror(err) : "not a regular file");
  return -1;
}

}  // namespace icl
