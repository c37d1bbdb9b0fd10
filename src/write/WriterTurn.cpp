#include "write/WriterTurn.h"

#include <unistd.h>

#include "storage/ServerLookup.h"
#include "write/WriteLines.h"
#include "write/WriterIdentity.h"

namespace icl {

int WriterTurn::take(EvDebug& log, const char* function, const char* location,
                     const StorageFacts& facts, TICLError& error) {
  release();
  seen_ = ClaimSeen();
  if (location == nullptr || location[0] == '\0') return 0;  // the load reports it
  const LabelDirectory dir(location);
  shared_ = facts.kind == StorageKind::Shared;
  deadline_ = deadlineAfter(labelLockWaitLimit());
  int err = 0;
  const LockResult locked = lock_.acquire(dir.lock(), err, deadline_);
  switch (locked) {
    case LockResult::Held:
      if (err != 0) logLockModeUnset(log, function, dir.lock(), err);
      if (shared_ && takeClaim(log, function, dir, error) != 0) return -1;
      break;
    case LockResult::NoDirectory:
      return 0;
    case LockResult::NotSupported:
      // Nothing but the claim keeps writers apart here.
      logUnlocked(log, function, dir.lock(), locked, err, true);
      if (takeClaim(log, function, dir, error) != 0) return -1;
      break;
    case LockResult::NoAccess:
      logUnlocked(log, function, dir.lock(), locked, err, false);
      return 0;
    default:
      return failToLock(log, function, dir.lock(), locked, err, error);
  }
  if (!shared_) return 0;
  noteSharedStorageOnce(log, function, dir.path(), facts);
  if (revalidateLabelName(dir.label(), facts) == NameCheck::Fresh) return 0;
  return failStaleName(log, function, dir.label(), error);
}

int WriterTurn::takeClaim(EvDebug& log, const char* function, const LabelDirectory& dir,
                          TICLError& error) {
  int err = 0;
  const ClaimResult claimed = claim_.take(dir.claim(), deadline_, seen_, err);
  owner_ = thisProcess();
  if (seen_.tookOver) logClaimTakenOver(log, function, dir.claim(), seen_);
  if (claimed == ClaimResult::Held || claimed == ClaimResult::Unclaimed) return 0;
  return failToClaim(log, function, dir.claim(), claimed, err, seen_, lock_.held(), error);
}

bool WriterTurn::stillOurs() {
  int err = 0;
  // The claim answers for the lock too: a lock lost in a partition leaves
  // the claim to be taken over, which its tag shows.
  return claim_.stillOurs(err);
}

bool WriterTurn::end() {
  if (claim_.held() && owner_ != thisProcess()) claim_.abandon();
  // The claim goes first: whoever gets the lock next finds it free.
  const bool claimKept = claim_.release();
  lock_.release();
  return claimKept;
}

void WriterTurn::release() {
  if (claim_.held() && owner_ != thisProcess()) claim_.abandon();
  claim_.release();
  lock_.release();
}

}  // namespace icl
