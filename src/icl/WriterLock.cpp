#include "WriterLock.h"

#include <string.h>

#include <string>

#include "LabelDirectory.h"
#include "LabelRetry.h"
#include "SharedStorage.h"

namespace icl {
namespace {

// On storage other hosts write too, what this host cached under the label's
// name may be a label they have since replaced: look it up at the server.
// A name that stays stale is refused: a change loaded through it would undo
// another host's.
int refreshSharedLabel(EvDebug& log, const char* function, const LabelDirectory& dir,
                       TICLError& error) {
  if (recentStorageKindOf(dir.path()) != StorageKind::Shared) return 0;
  noteSharedStorageOnce(log, function, dir.path());
  if (revalidateLabelName(dir.label()) == NameCheck::Fresh) return 0;
  error = ICL_ERROR_FILE_READ;
  log.Error(function,
            "Index cache label [%s] was not changed: under its name this host still finds another "
            "file than the one the server lists. The file system keeps names in a cache; mount it "
            "without an entry cache timeout.",
            dir.label().c_str());
  return -1;
}

// The lock is ours: say what is worth saying about it.
void logHeld(EvDebug& log, const char* function, const LabelDirectory& dir, const LabelLock& lock,
             int err) {
  if (err != 0) {
    log.Error(function,
              "Could not give the new lock file [%s] the directory's group and permissions: "
              "[%s]. Other users may be unable to take the lock.",
              dir.lock().c_str(), strerror(err));
  }
  if (lock.tookOverStaleClaim()) {
    log.Debug(function, "Took over the claim [%s] of writer [%s], which is gone.",
              dir.claim().c_str(), lock.claimHolder().c_str());
  }
}

// Locks are refused here, or of no use to this process: say so at Debug.
void logGoingOnUnlocked(EvDebug& log, const char* function, const LabelDirectory& dir,
                        LockResult result, int err) {
  log.Debug(function, "%s [%s]: [%s]. Changing the index cache label without a lock.",
            result == LockResult::NotSupported ? "File locks are not supported for"
                                               : "Cannot open the lock file",
            dir.lock().c_str(), strerror(err));
}

// The Error line of a lock that could not be taken; always -1.
int failToLock(EvDebug& log, const char* function, const LabelDirectory& dir, const LabelLock& lock,
               LockResult result, int err, TICLError& error) {
  const long long waitedMs = static_cast<long long>(labelLockWaitLimit().count());
  error = ICL_ERROR_FILE_LOCK;
  if (result == LockResult::Refused) {
    log.Error(function,
              "Cannot open the lock file [%s]: [%s]. The index cache label was not changed: "
              "without the lock, the change could undo another writer's. Give this user write "
              "access to the lock file.",
              dir.lock().c_str(), strerror(err));
  } else if (result == LockResult::TimedOut) {
    log.Error(function,
              "Timed out after [%lld] ms waiting for the index cache label lock [%s] held by "
              "another writer.",
              waitedMs, dir.lock().c_str());
  } else if (result == LockResult::ClaimTimedOut) {
    log.Error(function,
              "Timed out after [%lld] ms waiting for the index cache label claim [%s] of writer "
              "[%s]. That writer does not see this host's lock: the file system does not pass "
              "locks between its clients.",
              waitedMs, dir.claim().c_str(), lock.claimHolder().c_str());
  } else {
    const bool claim = result == LockResult::ClaimFailed;
    log.Error(function, "Could not take the index cache label %s [%s]: [%s]",
              claim ? "claim" : "lock", claim ? dir.claim().c_str() : dir.lock().c_str(),
              err != 0 ? strerror(err) : "not a regular file");
  }
  return -1;
}

}  // namespace

int takeWritersLock(EvDebug& log, const char* function, const char* location, LabelLock& lock,
                    TICLError& error) {
  lock.release();
  if (location == nullptr || location[0] == '\0') return 0;  // the read reports it
  const LabelDirectory dir(location);
  int err = 0;
  const LockResult result = lock.acquire(dir.lock(), err);
  switch (result) {
    case LockResult::Held:
      logHeld(log, function, dir, lock, err);
      return refreshSharedLabel(log, function, dir, error);
    case LockResult::NoDirectory:
      return 0;
    case LockResult::NotSupported:
    case LockResult::NoAccess:
      logGoingOnUnlocked(log, function, dir, result, err);
      return 0;
    default:
      return failToLock(log, function, dir, lock, result, err, error);
  }
}

}  // namespace icl
