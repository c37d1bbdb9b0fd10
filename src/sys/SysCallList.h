#ifndef ICL_SYS_SYSCALLLIST_H
#define ICL_SYS_SYSCALLLIST_H

// Every call of the file-system seam, described once, one row a call:
//
//   Id      the call's operation in tests (icl::test::SysOp::Id)
//   member  its entry in the table sys::Calls
//   text    its name in traces and test messages
//   Type    its function type; the entry has the call's own contract
//           (-1 with errno set on failure)
//   real    the C library's function behind it; where the C library's
//           signature differs, an adapter of that name in SysCalls.cpp
//
// The table, its real entries, and the fault injector's operations, names
// and wrappers are all expanded from this list, each by member name, never
// by position. Adding a call to the seam is one row here (and an adapter,
// when it needs one).
//
// access checks the effective ids (faccessat with AT_EACCESS), as every
// other call is checked; fcntlLock is fcntl with a lock record (F_SETLK,
// F_SETLKW, F_GETLK and the F_OFD_ forms); getdents64 lists a directory raw
// into a buffer of struct linux_dirent64 records; statfs tells which file
// system holds a path (local, FUSE, NFS, ...), fstatfs which holds a
// descriptor; setFlags is fcntl F_SETFL (O_DIRECT, O_NONBLOCK, ...); fstat
// asks the file system, not the kernel's copy of the attributes (SysCalls.cpp
// says why).

// clang-format off
#define ICL_SYS_CALLS(X) \
  X(Open,       open,       "open",       int(const char* path, int flags, mode_t mode),                realOpen)       \
  X(Openat,     openat,     "openat",     int(int dirFd, const char* path, int flags, mode_t mode),     realOpenat)     \
  X(Close,      close,      "close",      int(int fd),                                                  ::close)        \
  X(Read,       read,       "read",       ssize_t(int fd, void* buffer, size_t count),                  ::read)         \
  X(Write,      write,      "write",      ssize_t(int fd, const void* buffer, size_t count),            ::write)        \
  X(Fsync,      fsync,      "fsync",      int(int fd),                                                  ::fsync)        \
  X(Fstat,      fstat,      "fstat",      int(int fd, struct stat* st),                                 realFstat)      \
  X(Stat,       stat,       "stat",       int(const char* path, struct stat* st),                       ::stat)         \
  X(Lstat,      lstat,      "lstat",      int(const char* path, struct stat* st),                       ::lstat)        \
  X(Fstatat,    fstatat,    "fstatat",    int(int dirFd, const char* path, struct stat* st, int flags), ::fstatat)      \
  X(Access,     access,     "access",     int(const char* path, int mode),                              realAccess)     \
  X(Mkdir,      mkdir,      "mkdir",      int(const char* path, mode_t mode),                           ::mkdir)        \
  X(Rename,     rename,     "rename",     int(const char* from, const char* to),                        ::rename)       \
  X(Unlink,     unlink,     "unlink",     int(const char* path),                                        ::unlink)       \
  X(Fchmod,     fchmod,     "fchmod",     int(int fd, mode_t mode),                                     ::fchmod)       \
  X(Fchown,     fchown,     "fchown",     int(int fd, uid_t owner, gid_t group),                        ::fchown)       \
  X(FcntlLock,  fcntlLock,  "fcntl",      int(int fd, int command, struct flock* lock),                 realFcntlLock)  \
  X(Getdents64, getdents64, "getdents64", ssize_t(int fd, void* buffer, size_t count),                  realGetdents64) \
  X(Ftruncate,  ftruncate,  "ftruncate",  int(int fd, off_t length),                                    ::ftruncate)    \
  X(Statfs,     statfs,     "statfs",     int(const char* path, struct statfs* st),                     ::statfs)       \
  X(Fstatfs,    fstatfs,    "fstatfs",    int(int fd, struct statfs* st),                               ::fstatfs)      \
  X(SetFlags,   setFlags,   "fcntl(F_SETFL)", int(int fd, int flags),                             realSetFlags)   \
  X(Getxattr,   getxattr,   "getxattr",   ssize_t(const char* path, const char* name, void* value, size_t size), ::getxattr)
// clang-format on

#endif
