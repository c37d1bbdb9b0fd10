#include "write/StillOurs.h"

#include <errno.h>

#include "storage/ServerLookup.h"
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

}  // namespace

RenameVerdict checkStillOurs(WriterTurn& turn, const std::string& labelPath,
                             const struct stat* loaded, const StorageFacts& facts) {
  if (!turn.stillOurs()) return RenameVerdict::LockLost;
  const bool shared = facts.kind == StorageKind::Shared;
  if (!nameHoldsLoadedLabel(labelPath, loaded, shared)) return RenameVerdict::TargetChanged;
  // A listing that cannot tell leaves the decision to the checks above.
  const ino64_t inode = loaded != nullptr ? static_cast<ino64_t>(loaded->st_ino) : 0;
  if (shared && listingSaysOfLabel(labelPath, inode, facts) == ListingSays::Different) {
    return RenameVerdict::TargetChanged;
  }
  return RenameVerdict::Go;
}

}  // namespace icl
