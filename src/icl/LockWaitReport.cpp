#include "LockWaitReport.h"

#include "CallbackSlot.h"
#include "ICLToolSupport.h"
#include "LabelLock.h"

namespace icl {
void LockWaitReport::waiting() {
  const auto now = std::chrono::steady_clock::now();
  if (!refusedBefore_) {
    firstRefusal_ = now;
    refusedBefore_ = true;
  }
  if (!processSlot<ICLLabelLockWaitCallback>().isSet()) return;
  const long long waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - firstRefusal_).count();
  processSlot<ICLLabelLockWaitCallback>().call(waited);
}

}  // namespace icl

void ICLToolSetLabelLockWaitLimit(long long milliseconds) {
  icl::setLabelLockWaitLimit(std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0));
}

void ICLToolSetLabelLockWaitCallback(ICLLabelLockWaitCallback callback, void* context) {
  icl::processSlot<ICLLabelLockWaitCallback>().set(callback, context);
}
