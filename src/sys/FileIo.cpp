#include "FileIo.h"

#include <errno.h>
#include <linux/magic.h>
#include <unistd.h>

#include "SysCalls.h"

namespace icl {
namespace sys {

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) calls().close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) calls().close(fd_);
    fd_ = other.release();
  }
  return *this;
}

int UniqueFd::close() {
  if (fd_ < 0) return 0;
  int fd = release();
  if (calls().close(fd) == 0) return 0;
  int err = errno;
  return err == EINTR ? 0 : err;
}

int openRetry(const char* path, int flags, mode_t mode) {
  return retryEintr(calls().open, path, flags, mode);
}

int openatRetry(int dirFd, const char* path, int flags, mode_t mode) {
  return retryEintr(calls().openat, dirFd, path, flags, mode);
}

bool directoryWritable(const std::string& directory) {
  if (calls().access(directory.c_str(), W_OK) == 0) return true;
  return !(errno == EACCES || errno == EPERM || errno == EROFS);
}

bool readAroundPageCache(int fd, int openFlags) {
  struct statfs fs;
  if (calls().fstatfs(fd, &fs) != 0 || static_cast<unsigned long>(fs.f_type) != FUSE_SUPER_MAGIC) {
    return false;
  }
  return calls().setFlags(fd, openFlags | O_DIRECT) == 0;
}

ssize_t readOnceDirect(int fd, int openFlags, bool& direct, void* buffer, size_t count) {
  const ssize_t got = readOnce(fd, buffer, count);
  if (got >= 0 || errno != EINVAL || !direct) return got;
  direct = false;
  if (calls().setFlags(fd, openFlags) != 0) {
    errno = EINVAL;  // the read's error, not the fcntl's
    return -1;
  }
  return readOnce(fd, buffer, count);
}

ssize_t readFull(int fd, void* buffer, size_t count) {
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = retryEintr(calls().read, fd, out + done, count - done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t readOnce(int fd, void* buffer, size_t count) {
  return retryEintr(calls().read, fd, buffer, count);
}

int writeFull(int fd, const void* buffer, size_t count) {
  const char* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = retryEintr(calls().write, fd, in + done, count - done);
    if (n < 0) return -1;
    if (n == 0) {
      errno = ENOSPC;
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

int fsyncRetry(int fd) { return retryEintr(calls().fsync, fd); }

}  // namespace sys
}  // namespace icl
