#include "LockWaitReport.h"

#include "CallbackSlot.h"
#include "ICLToolSupport.h"
#include "LabelLock.h"

namespace icl {
namespace {

CallbackSlot<ICLLabelLockWaitCallback>& waitCallback() {
  static auto* slot = new CallbackSlot<ICLLabelLockWaitCallback>;  // waits may run during exit
  return *slot;
}

}  // namespace

void LockWaitReport::waiting() {
  const auto now = std::chrono::steady_clock::now();
  if (!refusedBefore_) {
    firstRefusal_ = now;
    refusedBefore_ = true;
  }
  if (!waitCallback().isSet()) return;
  const long long waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - firstRefusal_).count();
  waitCallback().call(waited);
}

}  // namespace icl

void ICLToolSetLabelLockWaitLimit(long long milliseconds) {
  icl::setLabelLockWaitLimit(std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0));
}

void ICLToolSetLabelLockWaitCallback(ICLLabelLockWaitCallback callback, void* context) {
  icl::waitCallback().set(callback, context);
}
