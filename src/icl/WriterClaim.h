#ifndef ICL_ICL_WRITERCLAIM_H
#define ICL_ICL_WRITERCLAIM_H

// A writer's claim on a label directory: a file created exclusively.
//
// Record locks only exclude writers whose file systems pass them on to one
// another; bind mounts, FUSE file systems with their locks off and NFS with
// local locks keep them on one client, and a network partition can drop a
// lock without telling its holder. Creating a name with O_EXCL, by contrast,
// is decided by the server on every network file system. So a writer that
// holds the writers' lock (LabelLock.h) also creates the claim file
// "icl_label.claim" and removes it when it is done: where locks work, the
// claim is always free when the lock is, and nothing changes for anyone;
// where they do not, the second writer finds the first one's claim and waits.
//
// The claim holds its writer's tag (WriterIdentity.h). A claim is taken over
// (removed, then created afresh) only when it is stale:
//   - its tag names a writer of this host whose process is gone, or this
//     very process (which holds the lock, so that claim is a leftover), or
//   - the same claim file has stood unchanged for kClaimStaleAfter while
//     this writer waited (a live writer holds it for milliseconds), or for
//     kEmptyClaimStaleAfter while still empty (its writer writes its tag
//     right after creating it, so it died in between), or
//   - its modification time is more than kClaimAgeLimit in the past.
// Two writers that take over one stale claim at once can both believe they
// hold it; each checks just before it replaces the label that the name
// still holds its own claim (stillOurs), so at most the first goes on.

#include <sys/types.h>

#include <chrono>
#include <string>

#include "Backoff.h"

namespace icl {

const std::chrono::seconds kClaimStaleAfter(10);
const std::chrono::seconds kEmptyClaimStaleAfter(1);
const std::chrono::minutes kClaimAgeLimit(10);

enum class ClaimResult {
  Held,  // the claim is ours until release() or destruction
  // This process may not create files here: it cannot replace the label
  // either, so it goes on without a claim and its write fails on its own.
  Unclaimed,
  TimedOut,  // a live writer's claim stood until the deadline
  Failed,    // any other failure; a non-file at the name has err 0
};

class WriterClaim {
 public:
  WriterClaim() = default;
  ~WriterClaim() { release(); }
  WriterClaim(const WriterClaim&) = delete;
  WriterClaim& operator=(const WriterClaim&) = delete;

  // Creates `path` exclusively with this writer's tag, waiting until
  // `deadline` while another writer's live claim stands there. `err` is the
  // errno behind Failed; `holder` the tag of the claim last found there
  // (for the log), `tookOver` whether a stale claim was removed.
  ClaimResult take(const std::string& path, Clock::time_point deadline, int& err,
                   std::string& holder, bool& tookOver);
  // True while the name still holds the file this writer created (or when
  // no claim was taken). `err` is the errno of a failed look.
  bool stillOurs(int& err) const;
  // Removes the claim if the name still holds ours.
  void release();
  // Forgets the claim without touching it: for a forked child, whose
  // parent still holds it.
  void abandon() { held_ = false; }

 private:
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool held_ = false;
};

}  // namespace icl

#endif
