#ifndef ICL_WRITE_WRITERTURN_H
#define ICL_WRITE_WRITERTURN_H

// A writer's turn at the label: the writers' lock (LabelLock.h) and, where
// the lock may not reach every writer, the claim (WriterClaim.h), taken
// together within one wait limit (labelLockWaitLimit()).
//
// Where the claim is taken, and what keeps two writers apart there:
//  - a local file system whose locks work (ext4, xfs, btrfs, tmpfs, ...):
//    no claim. The kernel's lock reaches every process that can use the
//    directory, bind mounts and containers included; a claim would only cost
//    a directory entry made and removed on every change.
//  - shared storage (FUSE, NFS, SMB, ...: StorageFacts): the lock and the
//    claim. The lock keeps out the writers it reaches; the claim, decided
//    by the server's exclusive create and judged by the tag it holds, keeps
//    out all others (bindfs, sshfs, MooseFS with its locks off, NFS with
//    local locks, a host whose lock a partition took away).
//  - any file system that refuses record locks (ENOLCK, EINVAL, EOPNOTSUPP,
//    ENOSYS): the claim alone.
//  - a directory where this process can open no lock file and may not write
//    (a read-only file system, another user's directory): neither; it can
//    replace nothing there, and a change that changes nothing succeeds.
//
// Before it replaces the label, a writer asks again (stillOurs) whether the
// turn is still its own, and whether the label is still the one it loaded.
// A lock can be lost without its holder being told (a partition long
// enough for the server to drop it), some mounts never pass locks on, and a
// claim can be taken over from a writer paused for longer than a claim may
// stand: a writer that renamed then would undo the change of whoever wrote
// in between. So it reads the claim again (which the server answers; a lock
// a partition took away leaves the claim to be taken over, which its tag
// then shows), then looks at the label by name: the same file and size as a
// look by name saw when it was loaded, and on a local file system the same
// modification time; where a listing is the server's word (MooseFS), also
// the inode the listing gives. The claim's tag holds everywhere, no cache of
// names or inode numbers can fake it; the look by name holds wherever a file
// keeps its inode number across mounts, that is everywhere but sshfs, where
// the claim decides alone. Cost: one stat on a local file system, and a read
// of the claim on shared storage.
//
// After the rename, end() reads the claim once more as it releases it: a
// writer that was overtaken in between learns so, and says so. What remains
// possible: a writer paused for longer than a claim may stand (10 s) after
// its last look and before its rename lands can still replace a label
// another writer changed meanwhile; it then answers -1 and says so.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "EvEvent.h"
#include "ICLRoutines.h"
#include "label/LabelDirectory.h"
#include "storage/Storage.h"
#include "write/LabelLock.h"
#include "write/WriteLines.h"
#include "write/WriterClaim.h"

namespace icl {

class WriterTurn {
 public:
  WriterTurn() = default;
  ~WriterTurn() { end(); }
  WriterTurn(const WriterTurn&) = delete;
  WriterTurn& operator=(const WriterTurn&) = delete;

  // Takes the turn at the label of `location`, logging as `function`; the
  // storage's facts (Storage.h) are looked up here. 0: go on (an empty location, or a directory
  // that was not there, takes nothing: the load that follows reports it). -1: the turn could not be
  // had; `error` is set and an Error line says why (the lock or the claim could not be taken in
  // time or at all, or on shared storage the label's name stayed stale: ServerLookup.h).
  int take(EvDebug& log, const char* function, const char* location, TICLError& error);
  // The lock was tried while the directory was not there: nothing guards a
  // write, so a change must take its turn again.
  bool directoryWasMissing() const { return lock_.directoryWasMissing(); }
  // A stale claim was taken over: a writer died in its change, and may have
  // left a temporary file.
  bool tookOverClaim() const { return seen_.tookOver; }

  // Just before a rename (see above). `loaded`: the label as a look by name
  // saw it when it was loaded (LoadReport::named), or null when there was
  // none.
  RenameVerdict stillOurs(const std::string& labelPath, const struct stat* loaded);
  // Releases the claim and the lock (also when the turn goes, or is taken
  // again); true when the claim was this writer's to the end (read again;
  // where no claim is taken, the lock cannot have been lost without the
  // claim's help, and true).
  bool end();

 private:
  int takeClaim(EvDebug& log, const char* function, const LabelDirectory& dir, TICLError& error);

  LabelLock lock_;
  WriterClaim claim_;
  ClaimSeen seen_;
  StorageFacts facts_;
  Clock::time_point deadline_;
  pid_t owner_ = 0;  // the process that took the claim
};

}  // namespace icl

#endif
