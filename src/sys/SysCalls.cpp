#include "SysCalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace icl {
namespace sys {
namespace {

// Adapters for the rows whose C library function has another signature.

int realOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

int realOpenat(int dirFd, const char* path, int flags, mode_t mode) {
  return ::openat(dirFd, path, flags, mode);
}

// Asks with the effective ids, as the calls that follow will be judged: a
// set-user-ID host may write where its real user may not.
int realAccess(const char* path, int mode) { return ::faccessat(AT_FDCWD, path, mode, AT_EACCESS); }

int realFcntlLock(int fd, int command, struct flock* lock) { return ::fcntl(fd, command, lock); }

int realSetFlags(int fd, int flags) { return ::fcntl(fd, F_SETFL, flags); }

// Asks the file system for the file's attributes before answering from the
// kernel's copy: a FUSE client (bindfs, sshfs) keeps the size it last saw for
// a while, and reads stop at that size, so a label another client has since
// replaced with a longer one would load cut short, its last lines missing. A
// failed refresh leaves the answer to fstat, whose own failure is the one told.
int realFstat(int fd, struct stat* st) {
  struct statx fresh;
  (void)::statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE | STATX_MTIME, &fresh);
  return ::fstat(fd, st);
}

ssize_t realGetdents64(int fd, void* buffer, size_t count) {
  return ::syscall(SYS_getdents64, fd, buffer, count);
}

constexpr Calls makeRealCalls() {
  Calls real{};
#define ICL_SYS_CALL_REAL(Id, member, text, Type, function) real.member = function;
  ICL_SYS_CALLS(ICL_SYS_CALL_REAL)
#undef ICL_SYS_CALL_REAL
  return real;
}

constexpr Calls kRealCalls = makeRealCalls();

}  // namespace

Calls gLiveCalls = kRealCalls;

const Calls& realCalls() { return kRealCalls; }

}  // namespace sys
}  // namespace icl
