#include "idxcache/WalkGaps.h"

#include "ICLToolSupport.h"
#include "icl/CallbackSlot.h"

namespace icl {
namespace idxcache {
namespace {

CallbackSlot<ICLWalkGapCallback>& gapCallback() {
  static auto* slot = new CallbackSlot<ICLWalkGapCallback>;  // walks may run during exit
  return *slot;
}

}  // namespace

void reportWalkGap(const char* path, const char* call, int error) {
  if (!gapCallback().isSet()) return;
  gapCallback().call(path, call, error);
}

}  // namespace idxcache
}  // namespace icl

void ICLToolSetWalkGapCallback(ICLWalkGapCallback callback, void* context) {
  icl::idxcache::gapCallback().set(callback, context);
}
