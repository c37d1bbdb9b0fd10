#ifndef ICL_DISKUSAGE_SIZEWALK_H
#define ICL_DISKUSAGE_SIZEWALK_H

#include <stddef.h>

namespace icl::idxcache {

// Fewest directory descriptors a walk may hold (the root, the top, its
// parent and one spare for opening an ancestor again), and most.
constexpr size_t kMinOpenDirs = 4;
constexpr size_t kMaxOpenDirs = 64;

// The size in KB of the directory `path` and everything below it, as
// getDiskUsage reports it: each regular file counts length / 1024 + 1,
// nothing else counts, links are never followed below `path`. -1 when
// `path` cannot be opened, or when a ZuException or int thrown by a log
// call ends its walk; other exceptions leave to the caller. `detail`
// switches the per-entry Debug lines on; paths and names in its lines are
// escaped (ShownName.h), so a name from disk cannot split one. At most
// `maxOpenDirs` directory descriptors (at least kMinOpenDirs) are held at
// any time, however deep the tree.
long long measureDirectory(const char* path, bool detail, size_t maxOpenDirs);

// How many directories a walk may hold open: a quarter of the soft open-file
// limit, so the host keeps most of its descriptors, at most kMaxOpenDirs.
// Read on every walk: a host may change its limit at any time.
size_t descriptorBudget();

}  // namespace icl::idxcache

#endif
