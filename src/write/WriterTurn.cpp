#include "write/WriterTurn.h"

#include <errno.h>

#include "storage/ServerLookup.h"
#include "sys/Absent.h"
#include "sys/SysCalls.h"
#include "write/WriteLines.h"
#include "write/WriterIdentity.h"

namespace icl {
namespace {

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The label by name is the very file loaded, unchanged; or, when none was
// loaded, there is still none. The modification time counts only on a local
// file system: GlusterFS reports one file with different modification times
// depending on how it is asked (through a descriptor, by name, after a look-up
// at the server), so there the file and its size decide. Never the change
// time: GlusterFS gives a label a new one while other hosts merely read it,
// and a new owner or mode is no reason to redo a change.
bool nameHoldsLoadedLabel(const std::string& labelPath, const struct stat* loaded, bool shared) {
  struct stat now;
  if (sys::calls().stat(labelPath.c_str(), &now) != 0) {
    return loaded == nullptr && sys::meansAbsent(errno);
  }
  return loaded != nullptr && now.st_dev == loaded->st_dev && now.st_ino == loaded->st_ino &&
         now.st_size == loaded->st_size && (shared || sameTime(now.st_mtim, loaded->st_mtim));
}

}  // namespace

int WriterTurn::take(EvDebug& log, const char* function, const char* location, TICLError& error) {
  end();
  seen_ = ClaimSeen();
  if (location == nullptr || location[0] == '\0') return 0;  // the load reports it
  const LabelDirectory dir(location);
  facts_ = storageFactsOf(dir.path());
  const bool shared = facts_.kind == StorageKind::Shared;
  deadline_ = deadlineAfter(labelLockWaitLimit());
  int err = 0;
  const LockResult locked = lock_.acquire(dir.lock(), err, deadline_);
  switch (locked) {
    case LockResult::Held:
      if (err != 0) logLockModeUnset(log, function, dir.lock(), err);
      if (shared && takeClaim(log, function, dir, error) != 0) return -1;
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
  if (!shared) return 0;
  noteSharedStorageOnce(log, function, dir.path(), facts_);
  if (revalidateLabelName(dir.label(), facts_) == NameCheck::Fresh) return 0;
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

RenameVerdict WriterTurn::stillOurs(const std::string& labelPath, const struct stat* loaded) {
  int err = 0;
  if (!claim_.stillOurs(err)) return RenameVerdict::LockLost;
  const bool shared = facts_.kind == StorageKind::Shared;
  if (!nameHoldsLoadedLabel(labelPath, loaded, shared)) return RenameVerdict::TargetChanged;
  // A listing that cannot tell leaves the decision to the checks above.
  const ino64_t inode = loaded != nullptr ? static_cast<ino64_t>(loaded->st_ino) : 0;
  if (shared && listingSaysOfLabel(labelPath, inode, facts_) == ListingSays::Different) {
    return RenameVerdict::TargetChanged;
  }
  return RenameVerdict::Go;
}

bool WriterTurn::end() {
  // A child forked during the turn leaves the claim to its parent.
  if (claim_.held() && owner_ != thisProcess()) claim_.abandon();
  // The claim goes first: whoever gets the lock next finds it free.
  const bool claimKept = claim_.release();
  lock_.release();
  return claimKept;
}

}  // namespace icl
