#include "WriterClaim.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "WriterIdentity.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

const size_t kTagLimit = 128;

// A claim found at the name, and since when this writer has seen it as is.
struct StandingClaim {
  struct stat st = {};
  std::string tag;
};

struct FirstSeen {
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec changed = {};
  Clock::time_point since;
};

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Reads the claim at `path` without following a link. 0, or an errno.
int examineClaim(const std::string& path, StandingClaim& claim) {
  if (sys::calls().lstat(path.c_str(), &claim.st) != 0) return errno;
  if (!S_ISREG(claim.st.st_mode)) return 0;
  sys::UniqueFd fd(
      sys::openRetry(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return errno;
  char text[kTagLimit + 1] = {};
  const ssize_t got = sys::readFull(fd.get(), text, kTagLimit);
  if (got < 0) return errno;
  claim.tag.assign(text, static_cast<size_t>(got));
  if (!claim.tag.empty() && claim.tag.back() == '\n') claim.tag.pop_back();
  return 0;
}

bool isStale(const StandingClaim& claim, FirstSeen& seen) {
  // This process holds the lock now, so a claim of its own is one an earlier
  // writer of it failed to remove.
  if (claim.tag == writerTag() || tagOfDeadLocalWriter(claim.tag)) return true;
  if (time(nullptr) - claim.st.st_mtime > std::chrono::seconds(kClaimAgeLimit).count()) {
    return true;
  }
  const Clock::time_point now = Clock::now();
  if (seen.device != claim.st.st_dev || seen.inode != claim.st.st_ino ||
      seen.changed.tv_sec != claim.st.st_ctim.tv_sec ||
      seen.changed.tv_nsec != claim.st.st_ctim.tv_nsec) {
    seen = FirstSeen{claim.st.st_dev, claim.st.st_ino, claim.st.st_ctim, now};
    return false;
  }
  return now - seen.since >= (claim.tag.empty() ? Clock::duration(kEmptyClaimStaleAfter)
                                                : Clock::duration(kClaimStaleAfter));
}

// Removes the stale claim if the name still holds that very file.
bool removeStaleClaim(const std::string& path, const StandingClaim& claim) {
  struct stat now;
  if (sys::calls().lstat(path.c_str(), &now) != 0 || !sameFile(now, claim.st)) return false;
  return sys::calls().unlink(path.c_str()) == 0;
}

}  // namespace

ClaimResult WriterClaim::take(const std::string& path, Clock::time_point deadline, int& err,
                              std::string& holder, bool& tookOver) {
  release();
  path_ = path;
  err = 0;
  tookOver = false;
  const std::string tag = writerTag() + "\n";
  Backoff wait(INT_MAX, std::chrono::milliseconds(1), std::chrono::milliseconds(10), deadline);
  FirstSeen seen;
  for (;;) {
    sys::UniqueFd fd(
        sys::openRetry(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.valid()) {
      struct stat st;
      if (sys::writeFull(fd.get(), tag.data(), tag.size()) != 0 ||
          sys::calls().fstat(fd.get(), &st) != 0) {
        err = errno;
        sys::calls().unlink(path.c_str());
        return ClaimResult::Failed;
      }
      device_ = st.st_dev;
      inode_ = st.st_ino;
      held_ = true;
      return ClaimResult::Held;
    }
    err = errno;
    if (err == EACCES || err == EPERM || err == EROFS) return ClaimResult::Unclaimed;
    if (err != EEXIST) return ClaimResult::Failed;
    StandingClaim claim;
    err = examineClaim(path, claim);
    if (err != 0 && err != ENOENT) return ClaimResult::Failed;
    if (err == 0 && !S_ISREG(claim.st.st_mode)) return ClaimResult::Failed;
    if (err == 0) holder = claim.tag;
    if (err == 0 && isStale(claim, seen) && removeStaleClaim(path, claim)) tookOver = true;
    if (!wait.pause()) {
      err = 0;
      return ClaimResult::TimedOut;
    }
  }
}

bool WriterClaim::stillOurs(int& err) const {
  err = 0;
  if (!held_) return true;
  struct stat st;
  if (sys::calls().lstat(path_.c_str(), &st) != 0) {
    err = errno;
    return false;
  }
  return st.st_dev == device_ && st.st_ino == inode_;
}

void WriterClaim::release() {
  if (!held_) return;
  held_ = false;
  struct stat st;
  if (sys::calls().lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
    sys::calls().unlink(path_.c_str());
  }
}

}  // namespace icl
