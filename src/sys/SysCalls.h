#ifndef ICL_SYS_SYSCALLS_H
#define ICL_SYS_SYSCALLS_H

// The one seam between the library and the file system.
//
// Every file-system call the library makes goes through this table. By default
// its entries are the C library's own calls; tests replace entries to make the
// n-th call fail (ENOSPC, EIO, EINTR, ...) or to watch what is called. The
// calls themselves are listed in SysCallList.h.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <sys/xattr.h>

#include "SysCallList.h"

namespace icl {
namespace sys {

template <typename Function>
using CallPointer = Function*;

// One entry per row of ICL_SYS_CALLS, named by its member column.
struct Calls {
#define ICL_SYS_CALL_ENTRY(Id, member, text, Type, real) CallPointer<Type> member;
  ICL_SYS_CALLS(ICL_SYS_CALL_ENTRY)
#undef ICL_SYS_CALL_ENTRY
};

// The live table. Tests may replace entries; restore them with realCalls().
extern Calls gLiveCalls;

inline Calls& calls() { return gLiveCalls; }

// The C library's calls, as the live table holds them by default.
const Calls& realCalls();

}  // namespace sys
}  // namespace icl

#endif
