#ifndef ICL_DISKUSAGE_WALKGAPS_H
#define ICL_DISKUSAGE_WALKGAPS_H

// The parts of a tree a disk-usage walk leaves out of its total, told to the
// callback of ICLToolSetWalkGapCallback (ICLToolSupport.h). With no callback
// set, telling costs one untaken branch.

namespace icl {
namespace idxcache {

// Tells the callback, if one is set, that `path` was left out because
// `call` failed with `error` (0 where no call's errno says why).
void reportWalkGap(const char* path, const char* call, int error);

}  // namespace idxcache
}  // namespace icl

#endif
