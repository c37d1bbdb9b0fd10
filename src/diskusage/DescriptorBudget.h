#ifndef ICL_DISKUSAGE_DESCRIPTORBUDGET_H
#define ICL_DISKUSAGE_DESCRIPTORBUDGET_H

#include <stddef.h>

namespace icl {
namespace idxcache {

// Fewest directory descriptors a walk may hold: the top, its parent, the
// root, and one spare for reopening an ancestor.
constexpr size_t kMinOpenDirs = 4;
constexpr size_t kMaxOpenDirs = 64;

// How many directories a walk may hold open at once: a quarter of the soft
// open-file limit, so the host process keeps most of its descriptors, within
// [kMinOpenDirs, kMaxOpenDirs].
size_t descriptorBudget();

}  // namespace idxcache
}  // namespace icl

#endif
