#include "diskusage/OpenAncestors.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "diskusage/DescriptorBudget.h"
#include "sys/SysCalls.h"

namespace icl {
namespace idxcache {
namespace {

constexpr int kRootFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;  // the root may be a link
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

OpenAncestors::OpenAncestors(WalkPath& path, ListingBuffer& listings, size_t maxOpen)
    : path_(path), listings_(listings), maxOpen_(std::max(maxOpen, kMinOpenDirs)) {}

int OpenAncestors::openTop() {
  int fd;
  int err = 0;
  if (path_.top == 0) {
    fd = sys::openatRetry(AT_FDCWD, path_.text.c_str(), kRootFlags);
    if (fd < 0) err = errno;
  } else {
    while (count_ >= maxOpen_ && evictOne()) {
    }
    const int parentFd = path_.frames[path_.top - 1].fd.get();
    for (;;) {
      fd = sys::openatRetry(parentFd, path_.topName(), kDirFlags);
      if (fd >= 0) break;
      err = errno;
      // Other descriptors of the process may have used up the limit.
      if ((err != EMFILE && err != ENFILE) || !evictOne()) break;
    }
  }
  if (fd < 0) return err;
  path_.topFrame().fd = sys::UniqueFd(fd);
  ++count_;
  return 0;
}

int OpenAncestors::reopenTop() {
  const size_t top = path_.top;
  if (top == 0) return kNotTheSame;  // the root is never evicted
  size_t start = top - 1;
  while (!path_.frames[start].fd.valid()) --start;
  int at = path_.frames[start].fd.get();
  sys::UniqueFd current;
  char name[NAME_MAX + 1];
  for (size_t level = start + 1; level <= top; ++level) {
    const Frame& frame = path_.frames[level];
    if (!frame.id.known) return kNotTheSame;
    const size_t begin = path_.frames[level - 1].pathLen + 1;
    const size_t length = frame.pathLen - begin;
    if (length > NAME_MAX) return kNotTheSame;
    memcpy(name, path_.text.data() + begin, length);
    name[length] = '\0';
    int fd = sys::openatRetry(at, name, kDirFlags);
    if (fd < 0) return errno;
    sys::UniqueFd next(fd);
    if (!isSameDirectory(next.get(), frame.id)) return kNotTheSame;
    current = std::move(next);
    at = current.get();
  }
  path_.topFrame().fd = std::move(current);
  ++count_;
  firstOpen_ = std::min(firstOpen_, top);
  return 0;
}

void OpenAncestors::reopenParentThroughDotDot() {
  const size_t top = path_.top;
  if (top < 2) return;  // the root is never evicted
  const Frame& child = path_.frames[top];
  Frame& parent = path_.frames[top - 1];
  if (!child.fd.valid() || parent.fd.valid() || !parent.id.known) return;
  int fd = sys::openatRetry(child.fd.get(), "..", kDirFlags);
  if (fd < 0) return;  // reopenTop tries next
  sys::UniqueFd candidate(fd);
  if (!isSameDirectory(candidate.get(), parent.id)) return;  // the child was moved
  parent.fd = std::move(candidate);
  ++count_;
  firstOpen_ = std::min(firstOpen_, top - 1);
}

void OpenAncestors::closeTop() {
  Frame& frame = path_.topFrame();
  if (!frame.fd.valid()) return;
  frame.fd.close();
  --count_;
}

bool OpenAncestors::evictOne() {
  // Never the root (reopening starts there), the top or its parent.
  for (size_t level = std::max<size_t>(firstOpen_, 1); level + 1 < path_.top; ++level) {
    Frame& frame = path_.frames[level];
    if (!frame.fd.valid()) continue;
    listings_.drain(frame.listing, frame.fd.get());
    struct stat st;
    frame.id.known = sys::calls().fstat(frame.fd.get(), &st) == 0;
    if (frame.id.known) {
      frame.id.dev = st.st_dev;
      frame.id.ino = st.st_ino;
    }
    frame.fd.close();  // as in closeTop, a failed close loses nothing
    --count_;
    firstOpen_ = level + 1;
    return true;
  }
  return false;
}

bool OpenAncestors::isSameDirectory(int fd, const DirIdentity& id) const {
  struct stat st;
  if (sys::calls().fstat(fd, &st) != 0) return false;
  return id.known && st.st_dev == id.dev && st.st_ino == id.ino;
}

}  // namespace idxcache
}  // namespace icl
