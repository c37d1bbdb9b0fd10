#ifndef ICL_SYS_SYSCALLS_H
#define ICL_SYS_SYSCALLS_H

// The one seam between the library and the file system.
//
// Every file-system call the library makes goes through this table. By default
// its entries are the C library's own calls; tests replace entries to make the
// n-th call fail (ENOSPC, EIO, EINTR, ...) or to watch what is called. The
// entries have the calls' own contracts: -1 (or NULL-like) with errno set.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <sys/types.h>

namespace icl {
namespace sys {

struct Calls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*openat)(int dirFd, const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*fsync)(int fd);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*fstatat)(int dirFd, const char* path, struct stat* st, int flags);
  int (*access)(const char* path, int mode);
  int (*mkdir)(const char* path, mode_t mode);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  // fcntl with a lock record: F_SETLK, F_SETLKW, F_GETLK and the F_OFD_ forms.
  int (*fcntlLock)(int fd, int command, struct flock* lock);
  // Raw directory listing into `buffer` (struct linux_dirent64 records).
  ssize_t (*getdents64)(int fd, void* buffer, size_t count);
  int (*ftruncate)(int fd, off_t length);
  // Which file system holds `path` (f_type): local, FUSE, NFS, ...
  int (*statfs)(const char* path, struct statfs* st);
  ssize_t (*getxattr)(const char* path, const char* name, void* value, size_t size);
};

// The live table. Tests may replace entries; restore them with realCalls().
extern Calls gLiveCalls;

inline Calls& calls() { return gLiveCalls; }

// The C library's calls, as the live table holds them by default.
const Calls& realCalls();

}  // namespace sys
}  // namespace icl

#endif
