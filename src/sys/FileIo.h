#ifndef ICL_SYS_FILEIO_H
#define ICL_SYS_FILEIO_H

// Descriptor ownership and whole-buffer I/O on top of the seam. Every call
// here goes through sys::calls(), retries EINTR, and reports failures as
// -1 with errno set by the call that failed.

#include <errno.h>
#include <sys/types.h>

#include <string>

namespace icl {
namespace sys {

// How often one call is repeated after EINTR: a signal storm ends far
// sooner, a file system that answers nothing else never does.
const int kEintrRetries = 1000;

// Calls `call(args...)` again while it fails with EINTR, at most
// kEintrRetries times more, and returns its last result, errno as that call
// left it (EINTR still, after the last). For calls that are safe to repeat:
// never close, whose descriptor is gone even on EINTR.
template <typename Call, typename... Args>
auto retryEintr(Call call, Args... args) -> decltype(call(args...)) {
  decltype(call(args...)) result;
  int retries = 0;
  do {
    result = call(args...);
  } while (result == -1 && errno == EINTR && retries++ < kEintrRetries);
  return result;
}

// Owns one descriptor and closes it through the seam when it goes away.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now. Returns 0, or the errno of a failed close; the descriptor is
  // gone either way (Linux frees it even on error, so EINTR is not retried
  // and counts as closed).
  int close();

 private:
  int fd_ = -1;
};

int openRetry(const char* path, int flags, mode_t mode = 0);
int openatRetry(int dirFd, const char* path, int flags, mode_t mode = 0);

// Reads until `count` bytes or the end of the file. Returns the bytes read
// (fewer than `count` only at the end), or -1.
ssize_t readFull(int fd, void* buffer, size_t count);

// One read (repeated only when interrupted): for a small file that one read
// returns whole (a claim, a line of /proc), where the read that would only
// find the end is a call saved. Returns the bytes read, or -1.
ssize_t readOnce(int fd, void* buffer, size_t count);

// Writes all `count` bytes. Returns 0, or -1; a write that makes no progress
// reports ENOSPC.
int writeFull(int fd, const void* buffer, size_t count);

int fsyncRetry(int fd);

// Whether this process could create or replace files in `directory`. Only a
// clear refusal (EACCES, EPERM, EROFS) counts as no; an error that says
// nothing counts as yes.
bool directoryWritable(const std::string& directory);

// Where `fd` (opened with `openFlags`) is on FUSE, makes its reads bypass
// the kernel's page cache (O_DIRECT, set after the open, so the file system
// itself opens nothing differently) and answers true. A path-based FUSE
// server (bindfs, sshfs) gives a name one kernel inode whatever file it holds,
// so a process still reading a file since replaced under that name refills
// the cache with the old bytes, and every later reader would read those.
bool readAroundPageCache(int fd, int openFlags);
// As readOnce, for a descriptor whose reads readAroundPageCache made
// `direct`: one the FUSE server's backing file refuses (EINVAL: passthrough
// to a block file system wants aligned buffers) is made through the page
// cache instead, and `direct` cleared.
ssize_t readOnceDirect(int fd, int openFlags, bool& direct, void* buffer, size_t count);

}  // namespace sys
}  // namespace icl

#endif
