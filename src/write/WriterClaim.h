#ifndef ICL_WRITE_WRITERCLAIM_H
#define ICL_WRITE_WRITERCLAIM_H

// A writer's claim on a label directory: a file created exclusively.
//
// Record locks only exclude writers whose file systems pass them on to one
// another; bind mounts, FUSE file systems such as sshfs or MooseFS with its
// locks off, and NFS with local locks keep them on one client, some file
// systems refuse them, and a network partition can drop one without telling
// its holder. Creating a name with O_EXCL, by contrast, is decided by the
// server on every network file system. So where locks may not reach every
// writer (WriterTurn.h says where) a writer also creates "icl_label.claim",
// holding its tag (WriterIdentity.h: unique per writer and per change), and
// removes it when it is done; the next writer finds it and waits.
//
// Who holds the claim is decided by the tag the name holds, never by inode
// numbers, which some storage (sshfs) gives per mount and per name:
//  - a failed create is never leave to go on without a claim: whatever the
//    errno (sshfs answers EPERM to the loser of a race), the name is looked
//    at, and a claim standing there is waited for. Only a directory this
//    process may not write (EROFS, or EACCES/EPERM where no claim stands and
//    the directory refuses writes) lets it go on unclaimed: it can replace
//    nothing there either;
//  - a claim is taken over only when stale, judged by what this host can
//    tell without comparing clocks: its tag names a writer of this host that
//    is gone, or this very process while none of its threads holds a claim,
//    on two looks in a row at that very claim;
//    or this writer has itself watched that very claim (same tag, size and
//    change time) stand unchanged for kClaimStaleAfter (kEmptyClaimStaleAfter
//    while still empty: its writer writes its tag right after creating it);
//  - a take-over removes only the claim it judged: it renames the name aside
//    first and reads what it moved; a claim made since it was judged is put
//    back, and whichever claim it displaced finds so at its owner's next
//    look (stillOurs), which reads the tag;
//  - a writer removes the claim at its end only if the name holds its tag.
// What remains: a writer paused for longer than kClaimStaleAfter while it
// holds the claim can be taken over; it then learns so at its next look,
// before its rename or right after it (the write path says which answer
// follows).

#include <chrono>
#include <string>

#include "sys/Backoff.h"

namespace icl {

const std::chrono::seconds kClaimStaleAfter(10);
const std::chrono::seconds kEmptyClaimStaleAfter(1);

enum class ClaimResult {
  Held,       // the claim is ours until release() or destruction
  Unclaimed,  // this process may not create files here: it goes on without a claim
  TimedOut,   // another writer's claim stood until the deadline
  Failed,     // any other failure; a non-file at the name has err 0
};

// What a writer saw of other writers' claims while it waited, for its lines.
struct ClaimSeen {
  std::string holder;  // the tag last found at the name, as read
  // How long this writer watched that very claim stand unchanged.
  std::chrono::milliseconds unchangedFor{0};
  int claimsSeen = 0;     // distinct claims met (a new tag, size or time is a new one)
  std::string takenOver;  // the tag of a stale claim this writer removed
  bool tookOver = false;
};

class WriterClaim {
 public:
  WriterClaim() = default;
  ~WriterClaim() { release(); }
  WriterClaim(const WriterClaim&) = delete;
  WriterClaim& operator=(const WriterClaim&) = delete;

  // Creates `path` exclusively with a new tag of this writer, waiting until
  // `deadline` while another writer's live claim stands there; each refused
  // attempt is reported to the wait callbacks (ICLToolSupport.h). `err` is
  // the errno behind Failed.
  ClaimResult take(const std::string& path, Clock::time_point deadline, ClaimSeen& seen, int& err);
  // Reads the name: true while it holds this writer's tag, or when no claim
  // was taken. `err` is the errno of a failed look (0 when another claim or
  // none stands there).
  bool stillOurs(int& err) const;
  // Removes the claim if the name still holds this writer's tag; true when
  // it did, or when no claim was held: the claim was ours to the end.
  bool release();
  // Forgets the claim without touching it: for a forked child, whose parent
  // still holds it.
  void abandon();
  bool held() const { return held_; }

 private:
  int create();

  std::string path_;
  std::string tag_;
  bool held_ = false;
};

}  // namespace icl

#endif
