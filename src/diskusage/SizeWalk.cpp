#include "diskusage/SizeWalk.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "EvEvent.h"
#include "ZuException.h"
#include "diskusage/ShownName.h"
#include "diskusage/WalkReports.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl::idxcache {

namespace {

constexpr char kDiskUsageFunction[] = "getDiskUsage";  // every line of a walk is logged under it
constexpr size_t kListingBytes = 32 * 1024;
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
constexpr int kNotTheSame = -1;  // a directory opened again is not the one the walk left

// getdents64 records (struct linux_dirent64) are read at their fields'
// offsets: one is usually much shorter than a whole struct dirent64.
constexpr size_t kNameOffset = offsetof(struct dirent64, d_name);

// One directory on the walk's path, from the root (level 0) down to the one
// the walk is in, the top.
struct Frame {
  sys::UniqueFd fd;      // closed early past the descriptor bound, then opened again
  bool idKnown = false;  // what it is (device, inode), recorded when it was closed early
  struct stat id = {};
  std::vector<char> records;  // read from its listing, handled up to pos
  size_t pos = 0;
  bool listed = false;  // getdents64 has reported the end, or failed
  int listErr = 0;      // the errno of a failed listing, said at its end
  size_t pathLen = 0;   // the length of the walk's path at this level
  long long total = 0;
};

// Who catches what a log line throws, as a recursive walk's try block around
// each directory's entries would: the top for the lines of its entries, its
// parent for its own Starting, open, caught-exception and Finished lines.
// Its value: the catching frame's place counted back from the last frame.
enum Guard : size_t { kOwn = 1, kParent = 2 };
enum class Caught { None, Zu, Int };

// The walk: a loop over an explicit stack of frames, so no tree is too deep
// for the native stack. Directories are opened relative to their parents; at
// most maxOpen_ are held: the root and the deepest ones. One closed early is
// opened again through its child's "..", or else name by name from its
// deepest open ancestor, each step checked to be the directory that was
// left. Only regular files and entries of unknown type get an fstatat. Each
// part left out has an Error line and is told to the gap callback.
class SizeWalk {
 public:
  SizeWalk(bool detail, size_t maxOpen)
      : detail_(detail),
        maxOpen_(static_cast<long>(std::max(maxOpen, kMinOpenDirs))),
        scratch_(kListingBytes) {}

  long long run(const char* path) {
    if (path == nullptr) {
      if (detail_) log_.Debug(kDiskUsageFunction, "Starting processing path [%s]", "NULL");
      log_.Error(kDiskUsageFunction, "Find first file returned an invalid handle for path [%s]",
                 "NULL");
      return -1;
    }
    text_ = path;
    enter(nullptr);
    while (!frames_.empty()) {
      if (caught_ != Caught::None) {
        endCaughtWalk();
      } else if (!top().fd.valid()) {
        // Closed early: opened again, or lost, and then it hands -1 up.
        const int err = reopenTop();
        if (err != 0 && reportUnopened(err, true)) leave(-1);
      } else {
        visitNext();
      }
    }
    return result_;
  }

 private:
  Frame& top() { return frames_.back(); }

  // Logs one line. A ZuException or int from the host's sink is caught here,
  // for the frame `guard` names: false then, the caller stops, and the loop
  // ends that frame's walk. Above the root nobody catches; other exceptions
  // leave the walk, its descriptors closed on the way.
  __attribute__((format(printf, 4, 5))) bool say(Guard guard, EvLogLevel level, const char* format,
                                                 ...) {
    char line[EV_MAX_MESSAGE + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    try {
      (log_.*(level == EV_LOG_ERROR ? &EvDebug::Error : &EvDebug::Debug))(kDiskUsageFunction, "%s",
                                                                          line);
      return true;
    } catch (const ZuException& thrown) {
      if (frames_.size() < guard) throw;
      caughtText_ = thrown.formatError();
      caught_ = Caught::Zu;
    } catch (int thrown) {
      if (frames_.size() < guard) throw;
      caughtInt_ = thrown;
      caught_ = Caught::Int;
    }
    catcher_ = frames_.size() - guard;
    return false;
  }

  // Makes the directory `name` of the top (with no top, the root) the top:
  // logs its start and opens it; one that cannot be opened hands -1 up.
  void enter(const char* name) {
    // A '/' also after a trailing '/': the walk has always formed paths so.
    if (name != nullptr) text_.append("/").append(name);
    frames_.emplace_back();
    top().pathLen = text_.size();
    if (detail_ &&
        !say(kParent, EV_LOG_DEBUG, "Starting processing path [%s]", shownName(text_).c_str())) {
      return;
    }
    const int err = openTop();
    if (err == 0) return meter_.addDirectory();
    if (reportUnopened(err, false)) leave(-1);
  }

  // One record of the top: a regular file counts, a directory is entered,
  // anything else passes; after the last, the top finishes.
  void visitNext() {
    Frame& frame = top();
    const char* record = nextRecord(frame);
    if (record == nullptr) return finishTop();
    const char* name = record + kNameOffset;
    const auto type = static_cast<unsigned char>(record[offsetof(struct dirent64, d_type)]);
    const bool dots = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
    if (dots || (type != DT_DIR && type != DT_REG && type != DT_UNKNOWN)) return;
    if (type == DT_DIR) return enter(name);
    struct stat st;
    const int fd = frame.fd.get();
    if (sys::retryEintr(sys::calls().fstatat, fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      const int err = errno;
      const std::string entry = shownName(text_ + "/" + name);
      if (err == ENOENT) {  // removed since it was listed: no gap
        say(kOwn, EV_LOG_DEBUG, "Path [%s] was removed during the walk; it adds nothing.",
            entry.c_str());
      } else if (say(kOwn, EV_LOG_ERROR, "Failed to stat [%s]:\n[%s]", entry.c_str(),
                     strerror(err))) {
        reportWalkGap(entry.c_str(), "fstatat", err);
      }
      return;
    }
    if (S_ISDIR(st.st_mode)) return enter(name);
    if (!S_ISREG(st.st_mode)) return;
    const long long kb = static_cast<long long>(st.st_size) / 1024 + 1;
    frame.total += kb;
    meter_.addFile(st.st_size);
    if (detail_) {
      say(kOwn, EV_LOG_DEBUG, "    processing path [%s]. Adding size [%lld] KB from file [%s]",
          shownName(text_).c_str(), kb, shownName(name).c_str());
    }
  }

  // The end of the top's listing: a failed one is said, then the top is
  // closed and its total handed up.
  void finishTop() {
    Frame& frame = top();
    if (frame.listErr != 0) {
      if (!say(kOwn, EV_LOG_ERROR, "Failed to read the directory [%s]:\n[%s]",
               shownName(text_).c_str(), strerror(frame.listErr))) {
        return;
      }
      reportWalkGap(shownName(text_).c_str(), "getdents64", frame.listErr);
    }
    reopenParentThroughDotDot();
    frame.fd.close();  // a failed close of a directory loses nothing
    if (!detail_ || say(kParent, EV_LOG_DEBUG,
                        "Finished processing path [%s]. Returning recursive size [%lld] KB",
                        shownName(text_).c_str(), frame.total)) {
      leave(frame.total);
    }
  }

  // Pops the top and hands `result` to its parent, which adds it unless it
  // is negative; at the root it is the walk's result.
  void leave(long long result) {
    frames_.pop_back();
    result_ = result;  // the walk's result, when the root is the last to go
    if (frames_.empty()) return;
    Frame& parent = top();
    if (result >= 0) parent.total += result;
    if (detail_) {
      say(kOwn, EV_LOG_DEBUG, "    processing path [%s]. Adding size [%lld] KB from folder [%s]",
          shownName(text_.substr(0, parent.pathLen)).c_str(), result,
          shownName(text_.substr(parent.pathLen + 1)).c_str());
    }
    text_.resize(parent.pathLen);
  }

  // The frame that caught an exception from a log line ends its walk: the
  // frames above it go, and it finishes with -1.
  void endCaughtWalk() {
    frames_.resize(catcher_ + 1);
    Frame& frame = top();
    text_.resize(frame.pathLen);
    frame.listErr = 0;  // the entries left are not handled: it finishes now
    frame.total = -1;
    const std::string path = shownName(text_);
    if (std::exchange(caught_, Caught::None) == Caught::Zu
            ? say(kParent, EV_LOG_ERROR, "[%s]", caughtText_.c_str())
            : say(kParent, EV_LOG_DEBUG,
                  "    processing path [%s]. Reset size to -1 due to exception  [%d] caught",
                  path.c_str(), caughtInt_)) {
      reportWalkGap(path.c_str(), "log", 0);
      finishTop();
    }
  }

  // The top's next record, or nullptr at the end of its listing. A damaged
  // record (longer than what is left, or its name not ended inside it) ends
  // the listing with EIO: nothing after it can be trusted.
  const char* nextRecord(Frame& frame) {
    while (frame.pos == frame.records.size() && !frame.listed) readListing(frame);
    const char* record = frame.records.data() + frame.pos;
    const size_t left = frame.records.size() - frame.pos;
    uint16_t length = 0;
    if (left > kNameOffset) memcpy(&length, record + offsetof(dirent64, d_reclen), 2);
    if (length > kNameOffset && length <= left &&
        memchr(record + kNameOffset, '\0', length - kNameOffset) != nullptr) {
      frame.pos += length;
      return record;
    }
    if (left != 0) frame.listErr = EIO;
    return nullptr;
  }

  // Adds one getdents64 of `frame` to its records; at the end of its listing,
  // or when that fails, it is listed.
  void readListing(Frame& frame) {
    frame.records.erase(frame.records.begin(), frame.records.begin() + frame.pos);  // handled
    frame.pos = 0;
    const ssize_t n =
        sys::retryEintr(sys::calls().getdents64, frame.fd.get(), scratch_.data(), kListingBytes);
    if (n < 0) frame.listErr = errno;
    frame.listed = n <= 0;
    if (n > 0) frame.records.insert(frame.records.end(), scratch_.data(), scratch_.data() + n);
  }

  // Opens the top: the root by its path, any other by its name in its
  // parent, first closing ancestors early past the bound. 0, or the errno.
  int openTop() {
    const size_t level = frames_.size() - 1;
    const int at = level == 0 ? AT_FDCWD : frames_[level - 1].fd.get();
    const char* name = text_.c_str() + (level == 0 ? 0 : frames_[level - 1].pathLen + 1);
    auto isOpen = [](const Frame& frame) { return frame.fd.valid(); };
    while (std::count_if(frames_.begin(), frames_.end(), isOpen) >= maxOpen_ && evictOne()) {
    }
    for (;;) {
      const int fd = sys::openatRetry(at, name, level == 0 ? kDirFlags & ~O_NOFOLLOW : kDirFlags);
      const int err = fd < 0 ? errno : 0;
      if (fd >= 0) top().fd = sys::UniqueFd(fd);
      // Other descriptors of the process may have used up its limit.
      if ((err != EMFILE && err != ENFILE) || !evictOne()) return err;
    }
  }

  // Opens the top, closed early, name by name from its deepest open
  // ancestor. 0, the errno of a failed open, or kNotTheSame.
  int reopenTop() {
    size_t from = frames_.size() - 2;  // the root is never closed early
    while (!frames_[from].fd.valid()) --from;
    sys::UniqueFd at;
    for (size_t level = from + 1; level < frames_.size(); ++level) {
      const size_t begin = frames_[level - 1].pathLen + 1;
      const std::string name = text_.substr(begin, frames_[level].pathLen - begin);
      sys::UniqueFd next(sys::openatRetry(at.valid() ? at.get() : frames_[from].fd.get(),
                                          name.c_str(), kDirFlags));
      if (!next.valid()) return errno;
      if (!isSame(next.get(), frames_[level])) return kNotTheSame;
      at = std::move(next);
    }
    top().fd = std::move(at);
    return 0;
  }

  // At the end of the top, while its parent is closed early: opens the
  // parent through the top's "..", if that is still the same directory.
  void reopenParentThroughDotDot() {
    if (frames_.size() < 3) return;
    Frame& parent = frames_[frames_.size() - 2];
    if (!top().fd.valid() || parent.fd.valid()) return;
    sys::UniqueFd fd(sys::openatRetry(top().fd.get(), "..", kDirFlags));
    if (fd.valid() && isSame(fd.get(), parent)) parent.fd = std::move(fd);
  }

  // Closes the shallowest open ancestor other than the root, the top and its
  // parent, after reading the rest of its listing and recording what it is.
  // False when there is none.
  bool evictOne() {
    for (size_t level = 1; level + 2 < frames_.size(); ++level) {
      Frame& frame = frames_[level];
      if (!frame.fd.valid()) continue;
      while (!frame.listed) readListing(frame);
      frame.idKnown = sys::calls().fstat(frame.fd.get(), &frame.id) == 0;
      frame.fd.close();  // as at a directory's end, a failed close loses nothing
      return true;
    }
    return false;
  }

  bool isSame(int fd, const Frame& frame) const {
    struct stat st;
    return frame.idKnown && sys::calls().fstat(fd, &st) == 0 && st.st_dev == frame.id.st_dev &&
           st.st_ino == frame.id.st_ino;
  }

  // A directory that cannot be opened (`again`: after it was closed early):
  // the line hosts know, then one that says why. One removed since it was
  // listed is no gap: a live cache changes while it is measured.
  bool reportUnopened(int err, bool again) {
    const std::string path = shownName(text_);
    if (err == ENOENT && !again && frames_.size() > 1) {
      return say(kParent, EV_LOG_DEBUG, "Path [%s] was removed during the walk; it adds nothing.",
                 path.c_str());
    }
    const bool said =
        say(kParent, EV_LOG_ERROR, "Find first file returned an invalid handle for path [%s]",
            path.c_str()) &&
        (err == kNotTheSame
             ? say(kParent, EV_LOG_ERROR,
                   "The directory [%s] was moved or replaced during the walk; it adds nothing.",
                   path.c_str())
             : say(kParent, EV_LOG_ERROR, "Failed to open the directory [%s]%s (openat):\n[%s]",
                   path.c_str(), again ? " again" : "", strerror(err)));
    if (said) reportWalkGap(path.c_str(), "openat", std::max(err, 0));
    return said;
  }

  const bool detail_;
  const long maxOpen_;  // as std::count_if counts
  EvEvent log_;
  WalkMeter meter_;            // progress for ICLToolSetWalkProgressCallback
  std::string text_;           // the top's path: a '/' before each level's name
  std::vector<Frame> frames_;  // the root first, the top last
  std::vector<char> scratch_;  // where getdents64 reads
  long long result_ = -1;
  Caught caught_ = Caught::None;  // pending for the frame at level catcher_
  size_t catcher_ = 0;
  std::string caughtText_;
  int caughtInt_ = 0;
};

}  // namespace

long long measureDirectory(const char* path, bool detail, size_t maxOpenDirs) {
  return SizeWalk(detail, maxOpenDirs).run(path);
}

size_t descriptorBudget() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxOpenDirs;
  return std::min<size_t>(kMaxOpenDirs, limit.rlim_cur / 4);
}

}  // namespace icl::idxcache
