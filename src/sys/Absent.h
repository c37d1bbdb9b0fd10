#ifndef ICL_SYS_ABSENT_H
#define ICL_SYS_ABSENT_H

// The one rule for "nothing stands at that name": only ENOENT and ENOTDIR
// say so. Any other failure to examine a path (EIO, EACCES, ESTALE,
// ENOTCONN, ...) says nothing about whether it exists, and is reported as
// the failure it is.

#include <errno.h>

namespace icl {
namespace sys {

inline bool meansAbsent(int err) { return err == ENOENT || err == ENOTDIR; }

}  // namespace sys
}  // namespace icl

#endif
