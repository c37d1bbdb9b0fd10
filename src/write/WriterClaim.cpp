#include "write/WriterClaim.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <thread>

#include "sys/FileIo.h"
#include "sys/JoinPath.h"
#include "sys/SysCalls.h"
#include "toolsupport/LockWaitReport.h"
#include "write/WriterIdentity.h"

namespace icl {
namespace {

const size_t kTagLimit = 128;
// Failed creates in a row, with no claim standing, before a refusal counts.
const int kRefusalsWithoutClaim = 3;

// Claims the threads of this process hold now: a claim of this process found
// while it holds none is a leftover of an earlier change.
std::atomic<int> gClaimsHeldHere{0};

// A claim found at the name.
struct Sighting {
  bool regular = true;
  std::string tag;
  off_t size = 0;
  struct timespec changed = {};
};

bool sameClaim(const Sighting& a, const Sighting& b) {
  return a.tag == b.tag && a.size == b.size && a.changed.tv_sec == b.changed.tv_sec &&
         a.changed.tv_nsec == b.changed.tv_nsec;
}

// The tag `path` holds (never through a link). 0, or an errno (ENOENT: none).
int readTag(const std::string& path, std::string& tag) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  sys::UniqueFd fd(sys::openRetry(path.c_str(), flags));
  if (!fd.valid()) return errno;
  // Claims come and go under one name: on FUSE, the cache may hold a gone one's tag.
  bool direct = sys::readAroundPageCache(fd.get(), flags);
  char text[kTagLimit];
  const ssize_t got = sys::readOnceDirect(fd.get(), flags, direct, text, sizeof text);
  if (got < 0) return errno;
  tag.assign(text, static_cast<size_t>(got));
  if (!tag.empty() && tag.back() == '\n') tag.pop_back();
  return 0;
}

int examine(const std::string& path, Sighting& claim) {
  struct stat st;
  if (sys::calls().lstat(path.c_str(), &st) != 0) return errno;
  claim.regular = S_ISREG(st.st_mode);
  claim.size = st.st_size;
  claim.changed = st.st_ctim;
  return claim.regular ? readTag(path, claim.tag) : 0;
}

// The claims standing in this writer's way, as it watches them.
class Watch {
 public:
  void saw(const Sighting& claim, ClaimSeen& seen) {
    const Clock::time_point now = Clock::now();
    if (seen.claimsSeen == 0 || !sameClaim(claim, last_)) {
      last_ = claim;
      since_ = now;
      ownerGoneSightings_ = 0;
      ++seen.claimsSeen;
    }
    seen.holder = claim.tag;
    seen.unchangedFor = std::chrono::duration_cast<std::chrono::milliseconds>(now - since_);
  }
  // A claim whose writer is gone must be seen so twice: its writer may have
  // removed it and ended between this writer's read and its question, and
  // the name may already hold the next writer's claim.
  bool stale(const Sighting& claim, const ClaimSeen& seen) {
    const bool ownerGone = tagOfDeadLocalWriter(claim.tag) ||
                           (tagOfThisProcess(claim.tag) && gClaimsHeldHere.load() == 0);
    if (ownerGone && ++ownerGoneSightings_ >= 2) return true;
    return seen.unchangedFor >= (claim.tag.empty() ? kEmptyClaimStaleAfter : kClaimStaleAfter);
  }

 private:
  Sighting last_;
  Clock::time_point since_;
  int ownerGoneSightings_ = 0;
};

// Removes the claim judged stale, and only that one (see the header).
bool takeOver(const std::string& path, const Sighting& judged) {
  const std::string aside = path + ".tmp-" + uniqueTag();
  if (sys::calls().rename(path.c_str(), aside.c_str()) != 0) return false;
  std::string moved;
  if (readTag(aside, moved) == 0 && moved == judged.tag) {
    sys::calls().unlink(aside.c_str());  // one that stays is swept as a leftover
    return true;
  }
  // A claim made after it was judged: back to its name.
  if (sys::calls().rename(aside.c_str(), path.c_str()) != 0) sys::calls().unlink(aside.c_str());
  return false;
}

}  // namespace

int WriterClaim::create() {
  sys::UniqueFd fd(
      sys::openRetry(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.valid()) return errno;
  const std::string text = tag_ + "\n";
  const int err = sys::writeFull(fd.get(), text.data(), text.size()) != 0 ? errno : fd.close();
  if (err != 0) {
    sys::calls().unlink(path_.c_str());  // one that stays is taken over as this process's
    return err;
  }
  held_ = true;
  ++gClaimsHeldHere;
  return 0;
}

ClaimResult WriterClaim::take(const std::string& path, Clock::time_point deadline, ClaimSeen& seen,
                              int& err) {
  release();
  path_ = path;
  tag_ = uniqueTag();
  Backoff wait(INT_MAX, std::chrono::milliseconds(1), std::chrono::milliseconds(100), deadline);
  wait.withJitter();
  Watch watch;
  LockWaitReport report;
  int refusals = 0;
  for (;;) {
    err = create();
    if (err == 0) return ClaimResult::Held;
    if (err == EROFS) return ClaimResult::Unclaimed;
    const int created = err;
    Sighting standing;
    const int looked = examine(path, standing);
    if (looked != ENOENT && (looked != 0 || !standing.regular)) {
      err = looked;  // 0 for a non-file at the name
      return ClaimResult::Failed;
    }
    if (looked == ENOENT && created != EEXIST) {
      // Nothing stands there: the create failed on its own.
      if (created != EACCES && created != EPERM) return ClaimResult::Failed;
      if (!sys::directoryWritable(sys::directoryOf(path))) return ClaimResult::Unclaimed;
      if (++refusals == kRefusalsWithoutClaim) return ClaimResult::Failed;
    } else if (looked == 0) {
      refusals = 0;
      watch.saw(standing, seen);
      report.waitingForClaim(seen.holder, seen.unchangedFor);
      if (watch.stale(standing, seen) && takeOver(path, standing)) {
        seen.takenOver = standing.tag;
        seen.tookOver = true;
        continue;
      }
    }
    if (!wait.pause()) {
      err = 0;
      return ClaimResult::TimedOut;
    }
  }
}

bool WriterClaim::stillOurs(int& err) const {
  err = 0;
  if (!held_) return true;
  std::string tag;
  err = readTag(path_, tag);
  if (err == ENOENT) err = 0;
  return err == 0 && tag == tag_;
}

bool WriterClaim::release() {
  if (!held_) return true;
  abandon();
  std::string tag;
  if (readTag(path_, tag) != 0 || tag != tag_) {
    // A take-over that judged an earlier claim may have moved ours aside for
    // a moment and be putting it back: look once more before saying so.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (readTag(path_, tag) != 0 || tag != tag_) return false;
  }
  // One that stays is taken over by the next writer as a gone writer's.
  sys::calls().unlink(path_.c_str());
  return true;
}

void WriterClaim::abandon() {
  if (!held_) return;
  held_ = false;
  --gClaimsHeldHere;
}

}  // namespace icl
