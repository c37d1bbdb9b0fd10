#include "idxcache/SizeWalk.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "EvEvent.h"
#include "ZuException.h"
#include "idxcache/DescriptorBudget.h"
#include "idxcache/DirRecords.h"
#include "idxcache/WalkMeter.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace idxcache {

const char* const kDiskUsageFunction = "getDiskUsage";

namespace {

// The size walk.
//
// It behaves as a recursive walk would: each directory's result is its own
// total, or -1 when it cannot be opened; a negative result adds nothing to
// the parent; with detail on, every directory logs "Starting processing
// path", one line per regular file and per sub-directory (after that
// sub-directory's own lines), and "Finished processing path", in listing
// order. But its state lives on the heap (one Frame per level of the
// current path), so no tree is too deep for the native stack, and it never
// forms a full path for a system call: each directory is opened relative to
// its parent's descriptor and each file examined relative to its
// directory's.
//
// Exceptions from log calls (a host's sink may throw) are caught where the
// recursive walk would catch them. A directory's guarded part is the
// listing of its entries: the per-entry lines, the stat failures, and
// everything a sub-directory hands back to it, including that
// sub-directory's "Starting processing path", open failure, "Finished
// processing path" and exception lines, which lie outside the
// sub-directory's own guard. So a ZuException or int thrown while the top
// frame is in Phase::Walk is caught by the top frame; thrown in any other
// phase, by its parent; thrown by the outermost directory's own lines, it
// leaves the walk. The catching frame logs it ("[%s]" as an Error, or the
// reset line as Debug), its result becomes -1, and it finishes as usual.
// Any other exception leaves the walk; the frames' descriptors close as it
// unwinds.
//
// Descriptors: at most maxOpen are held. The root stays open, and so do the
// top and its parent; past the bound the shallowest other open ancestor is
// evicted: the rest of its listing is read into its Frame, its device and
// inode are recorded, and it is closed. It is opened again when the walk
// comes back up, through its child's "..", or, failing that, name by name
// from the root; each step must show the recorded device and inode, else
// the directory is reported as one that cannot be opened rather than a
// moved tree counted in its place.
//
// Listing: getdents64 into one buffer, reused by whichever directory is
// the top. Before descending, the parent's records not yet handled move
// into its Frame (at most one buffer's worth), so the child can refill the
// buffer. The entry type from the listing decides: directories are entered
// without a stat, links and special files are skipped, only regular files
// and entries of unknown type get one fstatat.

constexpr size_t kListingBufferSize = 32 * 1024;
constexpr int kRootFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;  // the root may be a link
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr size_t kNoFrame = static_cast<size_t>(-1);

enum class Phase : unsigned char {
  Start,      // log "Starting processing path"
  Open,       // open the directory
  Walk,       // handle its entries: the guarded part
  Lost,       // evicted, and could not be found again
  CaughtZu,   // a ZuException ended the walk of this directory
  CaughtInt,  // an int ended it
  Finish,     // close, log "Finished processing path", hand the total up
};

struct Frame {
  sys::UniqueFd fd;    // invalid before Open and while evicted
  size_t pathLen = 0;  // length of the walk's path while this frame is the top
  long long total = 0;
  Phase phase = Phase::Start;
  std::vector<char> saved;  // listing records not handled yet
  size_t savedPos = 0;
  bool listed = false;      // getdents64 reported the end, or failed
  int listErrno = 0;        // a failed listing, reported when the walk reaches it
  bool identified = false;  // dev and ino recorded at eviction
  dev_t dev = 0;
  ino_t ino = 0;

  void reset(size_t length) {
    pathLen = length;
    total = 0;
    phase = Phase::Start;
    saved.clear();  // keeps its capacity for the next directory at this depth
    savedPos = 0;
    listed = false;
    listErrno = 0;
    identified = false;
  }
};

class SizeWalk {
 public:
  SizeWalk(bool detail, size_t maxOpen)
      : detail_(detail),
        maxOpen_(std::max(maxOpen, kMinOpenDirs)),
        buffer_(new char[kListingBufferSize]) {}

  long long run(const char* path);

 private:
  long long runMachine();
  size_t catcherLevel() const;
  void unwindTo(size_t level, Phase phase);

  bool openTop();
  void walkTop();
  long long finishTop();
  void descend(Frame& parent, const char* name);
  void deliver(long long result);
  void popTop();

  const char* nextRecord(Frame& frame);
  ssize_t readListing(int fd);
  void reportListFailure(int err);
  void reportStatFailure(const char* name, int err);

  bool evictOne();
  void drainListing(Frame& frame);
  void reopenThroughDotDot(const Frame& child, Frame& parent);
  bool reopenFromRoot();
  bool isSameDirectory(int fd, const Frame& frame) const;

  const bool detail_;
  const size_t maxOpen_;
  EvEvent log_;
  std::unique_ptr<char[]> buffer_;
  size_t bufPos_ = 0;  // the top frame's unread records are buffer_[bufPos_, bufEnd_)
  size_t bufEnd_ = 0;
  std::string path_;           // the top frame's full path, for log lines only
  std::vector<Frame> frames_;  // [0, top_] is the current path; deeper ones are kept for reuse
  size_t top_ = 0;
  size_t openCount_ = 0;
  size_t firstOpen_ = 1;     // no level in [1, firstOpen_) holds a descriptor
  std::string pendingText_;  // the caught exception, for the catching frame
  int pendingInt_ = 0;
  WalkMeter meter_;  // progress for ICLToolSetWalkProgressCallback
};

long long SizeWalk::run(const char* path) {
  if (path == nullptr) {
    if (detail_) log_.Debug(kDiskUsageFunction, "Starting processing path [%s]", "NULL");
    log_.Error(kDiskUsageFunction, "Find first file returned an invalid handle for path [%s]",
               "NULL");
    return -1;
  }
  path_.assign(path);
  frames_.emplace_back();
  frames_[0].reset(path_.size());
  top_ = 0;
  for (;;) {
    try {
      return runMachine();
    } catch (const ZuException& caught) {
      size_t level = catcherLevel();
      if (level == kNoFrame) throw;
      pendingText_ = caught.formatError();
      unwindTo(level, Phase::CaughtZu);
    } catch (int caught) {
      size_t level = catcherLevel();
      if (level == kNoFrame) throw;
      pendingInt_ = caught;
      unwindTo(level, Phase::CaughtInt);
    }
  }
}

long long SizeWalk::runMachine() {
  for (;;) {
    Frame& frame = frames_[top_];
    switch (frame.phase) {
      case Phase::Start:
        frame.phase = Phase::Open;
        if (detail_) log_.Debug(kDiskUsageFunction, "Starting processing path [%s]", path_.c_str());
        break;
      case Phase::Open:
        if (openTop()) {
          frame.phase = Phase::Walk;
        } else if (top_ == 0) {
          return -1;
        } else {
          deliver(-1);
        }
        break;
      case Phase::Walk:
        walkTop();  // may push a frame: `frame` is not used after this
        break;
      case Phase::Lost:
        log_.Error(kDiskUsageFunction, "Find first file returned an invalid handle for path [%s]",
                   path_.c_str());
        deliver(-1);
        break;
      case Phase::CaughtZu:
        log_.Error(kDiskUsageFunction, "[%s]", pendingText_.c_str());
        frame.total = -1;
        frame.phase = Phase::Finish;
        break;
      case Phase::CaughtInt:
        frame.total = -1;
        log_.Debug(kDiskUsageFunction,
                   "    processing path [%s]. Reset size to -1 due to exception  [%d] caught",
                   path_.c_str(), pendingInt_);
        frame.phase = Phase::Finish;
        break;
      case Phase::Finish: {
        long long total = finishTop();
        if (top_ == 0) return total;
        deliver(total);
        break;
      }
    }
  }
}

size_t SizeWalk::catcherLevel() const {
  if (frames_[top_].phase == Phase::Walk) return top_;
  return top_ == 0 ? kNoFrame : top_ - 1;
}

void SizeWalk::unwindTo(size_t level, Phase phase) {
  while (top_ > level) popTop();
  Frame& frame = frames_[top_];
  path_.resize(frame.pathLen);
  bufPos_ = bufEnd_ = 0;
  frame.saved.clear();  // its walk is over: the entries left are not handled
  frame.savedPos = 0;
  frame.phase = phase;
}

bool SizeWalk::openTop() {
  Frame& frame = frames_[top_];
  int fd;
  int err = 0;
  if (top_ == 0) {
    fd = sys::openatRetry(AT_FDCWD, path_.c_str(), kRootFlags);
    if (fd < 0) err = errno;
  } else {
    while (openCount_ >= maxOpen_ && evictOne()) {
    }
    const int parentFd = frames_[top_ - 1].fd.get();
    const char* name = path_.c_str() + frames_[top_ - 1].pathLen + 1;
    for (;;) {
      fd = sys::openatRetry(parentFd, name, kDirFlags);
      if (fd >= 0) break;
      err = errno;
      // Other descriptors of the process may have used up the limit.
      if ((err != EMFILE && err != ENFILE) || !evictOne()) break;
    }
  }
  if (fd < 0) {
    if (err == ENOENT && top_ > 0) {
      // Removed since it was listed: a live cache changes while it is measured.
      log_.Debug(kDiskUsageFunction, "Path [%s] was removed during the walk; it adds nothing.",
                 path_.c_str());
    } else {
      log_.Error(kDiskUsageFunction, "Find first file returned an invalid handle for path [%s]",
                 path_.c_str());
    }
    return false;
  }
  frame.fd = sys::UniqueFd(fd);
  ++openCount_;
  meter_.addDirectory();
  return true;
}

void SizeWalk::walkTop() {
  Frame& frame = frames_[top_];
  if (!frame.fd.valid() && !reopenFromRoot()) {
    frame.phase = Phase::Lost;
    return;
  }
  const int dirFd = frame.fd.get();
  for (;;) {
    const char* record = nextRecord(frame);
    if (record == nullptr) {
      frame.phase = Phase::Finish;
      return;
    }
    const char* name = recordName(record);
    const unsigned char type = recordType(record);
    if (type == DT_DIR) {
      if (isDotOrDotDot(name)) continue;
      descend(frame, name);
      return;
    }
    if (type != DT_REG && type != DT_UNKNOWN) continue;  // links, devices, pipes, sockets
    if (type == DT_UNKNOWN && isDotOrDotDot(name)) continue;
    struct stat st;
    int rc;
    do {
      rc = sys::calls().fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      reportStatFailure(name, errno);
      continue;
    }
    if (S_ISREG(st.st_mode)) {
      const long long kb = static_cast<long long>(st.st_size) / 1024 + 1;
      frame.total += kb;
      meter_.addFile(st.st_size);
      if (detail_) {
        log_.Debug(kDiskUsageFunction,
                   "    processing path [%s]. Adding size [%lld] KB from file [%s]", path_.c_str(),
                   kb, name);
      }
    } else if (S_ISDIR(st.st_mode)) {
      descend(frame, name);
      return;
    }
  }
}

long long SizeWalk::finishTop() {
  Frame& frame = frames_[top_];
  if (top_ >= 2 && frame.fd.valid() && !frames_[top_ - 1].fd.valid()) {
    reopenThroughDotDot(frame, frames_[top_ - 1]);
  }
  if (frame.fd.valid()) {
    // A failed close of a directory loses nothing; the descriptor is gone
    // either way.
    frame.fd.close();
    --openCount_;
  }
  if (detail_) {
    log_.Debug(kDiskUsageFunction,
               "Finished processing path [%s]. Returning recursive size [%lld] KB", path_.c_str(),
               frame.total);
  }
  return frame.total;
}

void SizeWalk::descend(Frame& parent, const char* name) {
  path_.push_back('/');  // as the recursive walk formed it, also after a trailing '/'
  path_.append(name);
  if (bufPos_ < bufEnd_) {
    // The child refills the buffer; keep what the parent has not handled.
    parent.saved.assign(buffer_.get() + bufPos_, buffer_.get() + bufEnd_);
    parent.savedPos = 0;
  }
  bufPos_ = bufEnd_ = 0;
  if (top_ + 1 == frames_.size()) frames_.emplace_back();  // `parent` is invalid from here
  ++top_;
  frames_[top_].reset(path_.size());
}

void SizeWalk::deliver(long long result) {
  popTop();
  Frame& parent = frames_[top_];
  if (result >= 0) parent.total += result;
  if (detail_) {
    // The parent's path and the child's name, side by side in path_.
    path_[parent.pathLen] = '\0';
    log_.Debug(kDiskUsageFunction,
               "    processing path [%s]. Adding size [%lld] KB from folder [%s]", path_.c_str(),
               result, path_.c_str() + parent.pathLen + 1);
  }
  path_.resize(parent.pathLen);
}

void SizeWalk::popTop() {
  Frame& frame = frames_[top_];
  if (frame.fd.valid()) {
    frame.fd.close();
    --openCount_;
  }
  frame.saved.clear();
  frame.savedPos = 0;
  --top_;
  bufPos_ = bufEnd_ = 0;
}

const char* SizeWalk::nextRecord(Frame& frame) {
  for (;;) {
    if (frame.savedPos < frame.saved.size()) {
      const char* record = frame.saved.data() + frame.savedPos;
      size_t length = recordLength(record, frame.saved.size() - frame.savedPos);
      if (length != 0) {
        frame.savedPos += length;
        return record;
      }
      frame.listed = true;  // a damaged record: nothing after it can be trusted
      frame.listErrno = EIO;
      frame.savedPos = frame.saved.size();
      continue;
    }
    if (bufPos_ < bufEnd_) {
      const char* record = buffer_.get() + bufPos_;
      size_t length = recordLength(record, bufEnd_ - bufPos_);
      if (length != 0) {
        bufPos_ += length;
        return record;
      }
      frame.listed = true;
      frame.listErrno = EIO;
      bufPos_ = bufEnd_ = 0;
      continue;
    }
    if (frame.listErrno != 0) {
      int err = frame.listErrno;
      frame.listErrno = 0;
      reportListFailure(err);
    }
    if (frame.listed) return nullptr;
    frame.saved.clear();
    frame.savedPos = 0;
    ssize_t n = readListing(frame.fd.get());
    if (n < 0) {
      frame.listErrno = errno;
      frame.listed = true;
    } else if (n == 0) {
      frame.listed = true;
    } else {
      bufPos_ = 0;
      bufEnd_ = static_cast<size_t>(n);
    }
  }
}

ssize_t SizeWalk::readListing(int fd) {
  ssize_t n;
  do {
    n = sys::calls().getdents64(fd, buffer_.get(), kListingBufferSize);
  } while (n < 0 && errno == EINTR);
  return n;
}

void SizeWalk::reportListFailure(int err) {
  log_.Error(kDiskUsageFunction, "Failed to read the directory [%s]:\n[%s]", path_.c_str(),
             strerror(err));
}

void SizeWalk::reportStatFailure(const char* name, int err) {
  std::string entry = path_ + "/" + name;
  if (err == ENOENT) {
    log_.Debug(kDiskUsageFunction, "Path [%s] was removed during the walk; it adds nothing.",
               entry.c_str());
  } else {
    log_.Error(kDiskUsageFunction, "Failed to stat [%s]:\n[%s]", entry.c_str(), strerror(err));
  }
}

bool SizeWalk::evictOne() {
  // Never the root (reopening starts there), the top or its parent.
  for (size_t level = std::max<size_t>(firstOpen_, 1); level + 1 < top_; ++level) {
    Frame& frame = frames_[level];
    if (!frame.fd.valid()) continue;
    drainListing(frame);
    struct stat st;
    frame.identified = sys::calls().fstat(frame.fd.get(), &st) == 0;
    if (frame.identified) {
      frame.dev = st.st_dev;
      frame.ino = st.st_ino;
    }
    frame.fd.close();  // as in finishTop, a failed close loses nothing
    --openCount_;
    firstOpen_ = level + 1;
    return true;
  }
  return false;
}

void SizeWalk::drainListing(Frame& frame) {
  // Called while the buffer is free: the top has not read anything yet.
  if (frame.listed) return;
  frame.saved.erase(frame.saved.begin(),
                    frame.saved.begin() + static_cast<ptrdiff_t>(frame.savedPos));
  frame.savedPos = 0;
  for (;;) {
    ssize_t n = readListing(frame.fd.get());
    if (n < 0) {
      frame.listErrno = errno;  // reported when the walk gets back to this point
      frame.listed = true;
      return;
    }
    if (n == 0) {
      frame.listed = true;
      return;
    }
    frame.saved.insert(frame.saved.end(), buffer_.get(), buffer_.get() + n);
  }
}

void SizeWalk::reopenThroughDotDot(const Frame& child, Frame& parent) {
  if (!parent.identified) return;
  int fd = sys::openatRetry(child.fd.get(), "..", kDirFlags);
  if (fd < 0) return;  // reopenFromRoot tries next
  sys::UniqueFd candidate(fd);
  if (!isSameDirectory(candidate.get(), parent)) return;  // the child was moved
  parent.fd = std::move(candidate);
  ++openCount_;
  firstOpen_ = std::min(firstOpen_, top_ - 1);
}

bool SizeWalk::reopenFromRoot() {
  // Start from the deepest ancestor still open (the root at worst) and open
  // each level by name, checking it is the directory that was left.
  if (top_ == 0) return false;  // the root is never evicted
  size_t start = top_ - 1;
  while (!frames_[start].fd.valid()) --start;
  int at = frames_[start].fd.get();
  sys::UniqueFd current;
  char name[NAME_MAX + 1];
  for (size_t level = start + 1; level <= top_; ++level) {
    const Frame& frame = frames_[level];
    if (!frame.identified) return false;
    const size_t begin = frames_[level - 1].pathLen + 1;
    const size_t length = frame.pathLen - begin;
    if (length > NAME_MAX) return false;
    memcpy(name, path_.data() + begin, length);
    name[length] = '\0';
    int fd = sys::openatRetry(at, name, kDirFlags);
    if (fd < 0) return false;
    sys::UniqueFd next(fd);
    if (!isSameDirectory(next.get(), frame)) return false;
    current = std::move(next);
    at = current.get();
  }
  frames_[top_].fd = std::move(current);
  ++openCount_;
  firstOpen_ = std::min(firstOpen_, top_);
  return true;
}

bool SizeWalk::isSameDirectory(int fd, const Frame& frame) const {
  struct stat st;
  if (sys::calls().fstat(fd, &st) != 0) return false;
  return frame.identified && st.st_dev == frame.dev && st.st_ino == frame.ino;
}

}  // namespace

long long measureDirectory(const char* path, bool detail, size_t maxOpenDirs) {
  SizeWalk walk(detail, maxOpenDirs);
  return walk.run(path);
}

}  // namespace idxcache
}  // namespace icl
