#include "diskusage/SizeWalk.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "EvEvent.h"
#include "ZuException.h"
#include "diskusage/DirRecords.h"
#include "diskusage/ListingBuffer.h"
#include "diskusage/OpenAncestors.h"
#include "diskusage/ShownName.h"
#include "diskusage/WalkFrame.h"
#include "diskusage/WalkGaps.h"
#include "diskusage/WalkMeter.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace idxcache {

const char* const kDiskUsageFunction = "getDiskUsage";

namespace {

constexpr size_t kNoFrame = static_cast<size_t>(-1);

// The size walk. Its results and log lines, in their order, are those of a
// recursive walk (opendir, readdir, an lstat of each full path, a try block
// around each directory's entries), but its state is a list of frames on
// the heap (WalkFrame.h), each directory is opened relative to its parent
// within a budget of descriptors (OpenAncestors.h), and all listings share
// one buffer (ListingBuffer.h). The entry type from the listing decides:
// directories are entered without a stat, links and special files are
// passed over, only regular files and entries of unknown type get one
// fstatat. Paths and names from disk are shown escaped (ShownName.h).
// Each part it leaves out for want of reading it has an Error line, and is
// told to the gap callback right after (WalkGaps.h).
//
// Invariant: path_.frames[0, top] are the directories being walked, from
// the root down, each in the phase of its next step, and path_.text is the
// top's path.
class SizeWalk {
 public:
  SizeWalk(bool detail, size_t maxOpen) : detail_(detail), dirs_(path_, listings_, maxOpen) {}

  long long run(const char* path);

 private:
  long long runMachine();
  size_t catcherLevel() const;
  void unwindTo(size_t level, Phase phase);

  bool openTop();
  void walkTop();
  bool visitEntry(Frame& frame, int dirFd, const char* record);
  long long finishTop();
  void descend(Frame& parent, const char* name);
  void deliver(long long result);
  void popTop();

  ShownName shownPath() const { return ShownName(path_.text.c_str()); }
  void reportOpenFailure(int err);
  void reportLost();
  void reportListFailure(int err);
  void reportStatFailure(const char* name, int err);

  const bool detail_;
  EvEvent log_;
  WalkPath path_;
  ListingBuffer listings_;
  OpenAncestors dirs_;
  std::string pendingText_;  // the caught exception, for the catching frame
  int pendingInt_ = 0;
  int lostError_ = 0;  // why the top was not found again: an errno or kNotTheSame
  WalkMeter meter_;    // progress for ICLToolSetWalkProgressCallback
};

long long SizeWalk::run(const char* path) {
  if (path == nullptr) {
    if (detail_) log_.Debug(kDiskUsageFunction, "Starting processing path [%s]", "NULL");
    log_.Error(kDiskUsageFunction, "Find first file returned an invalid handle for path [%s]",
               "NULL");
    return -1;
  }
  path_.text.assign(path);
  path_.frames.emplace_back();
  path_.frames[0].reset(path_.text.size());
  path_.top = 0;
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
    Frame& frame = path_.topFrame();
    switch (frame.phase) {
      case Phase::Start:
        frame.phase = Phase::Open;
        if (detail_) {
          log_.Debug(kDiskUsageFunction, "Starting processing path [%s]", shownPath().c_str());
        }
        break;
      case Phase::Open:
        if (openTop()) {
          frame.phase = Phase::Walk;
        } else if (path_.top == 0) {
          return -1;
        } else {
          deliver(-1);
        }
        break;
      case Phase::Walk:
        walkTop();  // may push a frame: `frame` is not used after this
        break;
      case Phase::Lost:
        reportLost();
        deliver(-1);
        break;
      case Phase::CaughtZu:
        log_.Error(kDiskUsageFunction, "[%s]", pendingText_.c_str());
        reportWalkGap(shownPath().c_str(), "log", 0);
        frame.total = -1;
        frame.phase = Phase::Finish;
        break;
      case Phase::CaughtInt:
        frame.total = -1;
        log_.Debug(kDiskUsageFunction,
                   "    processing path [%s]. Reset size to -1 due to exception  [%d] caught",
                   shownPath().c_str(), pendingInt_);
        reportWalkGap(shownPath().c_str(), "log", 0);
        frame.phase = Phase::Finish;
        break;
      case Phase::Finish: {
        long long total = finishTop();
        if (path_.top == 0) return total;
        deliver(total);
        break;
      }
    }
  }
}

size_t SizeWalk::catcherLevel() const {
  const size_t top = path_.top;
  if (path_.frames[top].phase == Phase::Walk) return top;
  return top == 0 ? kNoFrame : top - 1;
}

void SizeWalk::unwindTo(size_t level, Phase phase) {
  while (path_.top > level) popTop();
  Frame& frame = path_.topFrame();
  path_.text.resize(frame.pathLen);
  listings_.clear();
  frame.listing.discard();  // its walk is over: the entries left are not handled
  frame.phase = phase;
}

bool SizeWalk::openTop() {
  const int err = dirs_.openTop();
  if (err == 0) {
    meter_.addDirectory();
    return true;
  }
  if (err == ENOENT && path_.top > 0) {
    // Removed since it was listed: a live cache changes while it is measured.
    log_.Debug(kDiskUsageFunction, "Path [%s] was removed during the walk; it adds nothing.",
               shownPath().c_str());
  } else {
    reportOpenFailure(err);
  }
  return false;
}

void SizeWalk::walkTop() {
  Frame& frame = path_.topFrame();
  if (!frame.fd.valid()) {
    lostError_ = dirs_.reopenTop();
    if (lostError_ != 0) {
      frame.phase = Phase::Lost;
      return;
    }
  }
  const int dirFd = frame.fd.get();
  int err = 0;
  for (;;) {
    const char* record = listings_.next(frame.listing, dirFd, &err);
    if (record == nullptr) {
      if (err != 0) reportListFailure(err);
      frame.phase = Phase::Finish;
      return;
    }
    if (visitEntry(frame, dirFd, record)) return;  // a child is the top now: `frame` is stale
  }
}

// The walk's one step per entry of the top directory, in listing order,
// "." and ".." included: counts a regular file, passes over anything that
// is not a directory, and enters a directory, returning true (the child's
// frame is the top then, and `frame` may have moved).
bool SizeWalk::visitEntry(Frame& frame, int dirFd, const char* record) {
  const char* name = recordName(record);
  const unsigned char type = recordType(record);
  if (type == DT_DIR) {
    if (isDotOrDotDot(name)) return false;
    descend(frame, name);
    return true;
  }
  if (type != DT_REG && type != DT_UNKNOWN) return false;  // links, devices, pipes, sockets
  if (type == DT_UNKNOWN && isDotOrDotDot(name)) return false;
  struct stat st;
  if (sys::retryEintr(sys::calls().fstatat, dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    reportStatFailure(name, errno);
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    const long long kb = static_cast<long long>(st.st_size) / 1024 + 1;
    frame.total += kb;
    meter_.addFile(st.st_size);
    if (detail_) {
      log_.Debug(kDiskUsageFunction,
                 "    processing path [%s]. Adding size [%lld] KB from file [%s]",
                 shownPath().c_str(), kb, ShownName(name).c_str());
    }
  } else if (S_ISDIR(st.st_mode)) {
    descend(frame, name);
    return true;
  }
  return false;
}

long long SizeWalk::finishTop() {
  dirs_.reopenParentThroughDotDot();
  dirs_.closeTop();
  const Frame& frame = path_.topFrame();
  if (detail_) {
    log_.Debug(kDiskUsageFunction,
               "Finished processing path [%s]. Returning recursive size [%lld] KB",
               shownPath().c_str(), frame.total);
  }
  return frame.total;
}

void SizeWalk::descend(Frame& parent, const char* name) {
  path_.text.push_back('/');  // as the recursive walk formed it, also after a trailing '/'
  path_.text.append(name);
  listings_.park(parent.listing);  // the child refills the buffer
  if (path_.top + 1 == path_.frames.size()) path_.frames.emplace_back();  // `parent` moves
  ++path_.top;
  path_.topFrame().reset(path_.text.size());
}

void SizeWalk::deliver(long long result) {
  popTop();
  Frame& parent = path_.topFrame();
  if (result >= 0) parent.total += result;
  if (detail_) {
    // The parent's path and the child's name, side by side in the path's text.
    path_.text[parent.pathLen] = '\0';
    log_.Debug(
        kDiskUsageFunction, "    processing path [%s]. Adding size [%lld] KB from folder [%s]",
        shownPath().c_str(), result, ShownName(path_.text.c_str() + parent.pathLen + 1).c_str());
  }
  path_.text.resize(parent.pathLen);
}

void SizeWalk::popTop() {
  dirs_.closeTop();
  path_.topFrame().listing.discard();
  --path_.top;
  listings_.clear();
}

// The line hosts know first, then one that names the call and its errno.
void SizeWalk::reportOpenFailure(int err) {
  const ShownName shown = shownPath();
  log_.Error(kDiskUsageFunction, "Find first file returned an invalid handle for path [%s]",
             shown.c_str());
  log_.Error(kDiskUsageFunction, "Failed to open the directory [%s] (openat):\n[%s]", shown.c_str(),
             strerror(err));
  reportWalkGap(shown.c_str(), "openat", err);
}

// An evicted directory that cannot be opened again as the one it was.
void SizeWalk::reportLost() {
  const ShownName shown = shownPath();
  log_.Error(kDiskUsageFunction, "Find first file returned an invalid handle for path [%s]",
             shown.c_str());
  if (lostError_ == OpenAncestors::kNotTheSame) {
    log_.Error(kDiskUsageFunction,
               "The directory [%s] was moved or replaced during the walk; it adds nothing.",
               shown.c_str());
    reportWalkGap(shown.c_str(), "openat", 0);
  } else {
    log_.Error(kDiskUsageFunction, "Failed to open the directory [%s] again (openat):\n[%s]",
               shown.c_str(), strerror(lostError_));
    reportWalkGap(shown.c_str(), "openat", lostError_);
  }
}

void SizeWalk::reportListFailure(int err) {
  log_.Error(kDiskUsageFunction, "Failed to read the directory [%s]:\n[%s]", shownPath().c_str(),
             strerror(err));
  reportWalkGap(shownPath().c_str(), "getdents64", err);
}

void SizeWalk::reportStatFailure(const char* name, int err) {
  const std::string entry = path_.text + "/" + name;
  const ShownName shown(entry.c_str());
  if (err == ENOENT) {
    log_.Debug(kDiskUsageFunction, "Path [%s] was removed during the walk; it adds nothing.",
               shown.c_str());
  } else {
    log_.Error(kDiskUsageFunction, "Failed to stat [%s]:\n[%s]", shown.c_str(), strerror(err));
    reportWalkGap(shown.c_str(), "fstatat", err);
  }
}

}  // namespace

long long measureDirectory(const char* path, bool detail, size_t maxOpenDirs) {
  SizeWalk walk(detail, maxOpenDirs);
  return walk.run(path);
}

}  // namespace idxcache
}  // namespace icl
