#include "WriterLock.h"

#include <string.h>

#include <string>

#include "LabelNames.h"
#include "LabelRetry.h"
#include "SharedStorage.h"
#include "sys/JoinPath.h"

namespace icl {
namespace {

// On storage other hosts write too, what this host cached under the label's
// name may be a label they have since replaced: look it up at the server.
void refreshSharedLabel(EvDebug& log, const char* function, const char* location) {
  const std::string dir = convertSlashes(location);
  if (recentStorageKindOf(dir) != StorageKind::Shared) return;
  noteSharedStorageOnce(log, function, dir);
  revalidateLabelName(sys::joinPath(dir, kLabelFileName));
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
      refreshSharedLabel(log, function, location);
      return 0;
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
    case LockResult::Failed:
      break;
  }
  error = ICL_ERROR_FILE_LOCK;
  log.Error(function, "Could not take the index cache label lock [%s]: [%s]", lockPath.c_str(),
            err != 0 ? strerror(err) : "not a regular file");
  return -1;
}

}  // namespace icl
