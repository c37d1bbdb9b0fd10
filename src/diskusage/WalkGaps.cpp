#include "diskusage/WalkGaps.h"

#include "ICLToolSupport.h"
#include "icl/CallbackSlot.h"

namespace icl {
namespace idxcache {
void reportWalkGap(const char* path, const char* call, int error) {
  if (!processSlot<ICLWalkGapCallback>().isSet()) return;
  processSlot<ICLWalkGapCallback>().call(path, call, error);
}

}  // namespace idxcache
}  // namespace icl

void ICLToolSetWalkGapCallback(ICLWalkGapCallback callback, void* context) {
  icl::processSlot<ICLWalkGapCallback>().set(callback, context);
}
