#include "LabelStillCurrent.h"

#include <errno.h>

#include "DirectoryListing.h"
#include "LabelDirectory.h"
#include "LabelNames.h"
#include "LabelRetry.h"
#include "SharedStorage.h"
#include "sys/Absent.h"
#include "sys/SysCalls.h"

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

// The server's listing agrees, where a listing is the server's word
// (SharedStorage.h) and its inode numbers can be compared with a look by
// name (the lock file, never replaced, tells).
bool listingHoldsLoadedLabel(const std::string& labelPath, const struct stat* loaded) {
  const LabelDirectory directory = LabelDirectory::of(labelPath);
  if (!listingIsTheServersWord(directory.path())) return true;
  ino64_t listedLabel = 0, listedLock = 0;
  struct stat lock;
  if (listedInodes(directory.path(), kLabelFileName, listedLabel, kLockFileName, listedLock) != 0) {
    return false;
  }
  if (sys::calls().stat(directory.lock().c_str(), &lock) != 0 ||
      static_cast<ino64_t>(lock.st_ino) != listedLock) {
    return true;
  }
  return listedLabel == (loaded != nullptr ? static_cast<ino64_t>(loaded->st_ino) : 0);
}

}  // namespace

RenameVerdict checkLabelStillCurrent(LabelLock* lock, const std::string& labelPath,
                                     const struct stat* loaded) {
  int err = 0;
  if (lock != nullptr && !lock->stillHeld(err)) return RenameVerdict::LockLost;
  const bool shared =
      recentStorageKindOf(LabelDirectory::of(labelPath).path()) == StorageKind::Shared;
  if (shared) lookUpAtServer(labelPath);  // not this host's cached attributes
  if (!nameHoldsLoadedLabel(labelPath, loaded, shared)) return RenameVerdict::TargetChanged;
  if (shared && !listingHoldsLoadedLabel(labelPath, loaded)) return RenameVerdict::TargetChanged;
  return RenameVerdict::Go;
}

}  // namespace icl
