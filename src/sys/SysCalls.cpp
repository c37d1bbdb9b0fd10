#include "SysCalls.h"

#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace icl {
namespace sys {
namespace {

int realOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

int realOpenat(int dirFd, const char* path, int flags, mode_t mode) {
  return ::openat(dirFd, path, flags, mode);
}

int realFcntlLock(int fd, int command, struct flock* lock) { return ::fcntl(fd, command, lock); }

ssize_t realGetdents64(int fd, void* buffer, size_t count) {
  return ::syscall(SYS_getdents64, fd, buffer, count);
}

const Calls kRealCalls = {
    realOpen,  realOpenat, ::close,   ::read,    ::write,  ::fsync,
    ::fstat,   ::stat,     ::lstat,   ::fstatat, ::access, ::mkdir,
    ::rename,  ::unlink,   ::fchmod,  ::fchown,  realFcntlLock, realGetdents64,
    ::ftruncate, ::statfs,  ::getxattr,
};

}  // namespace

Calls gLiveCalls = kRealCalls;

const Calls& realCalls() { return kRealCalls; }

}  // namespace sys
}  // namespace icl
