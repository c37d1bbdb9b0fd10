#include "toolsupport/LockWaitReport.h"

#include "ICLToolSupport.h"
#include "toolsupport/CallbackSlot.h"
#include "write/LabelLock.h"

namespace icl {

long long LockWaitReport::sinceFirstRefusal() {
  const auto now = std::chrono::steady_clock::now();
  if (!refusedBefore_) {
    firstRefusal_ = now;
    refusedBefore_ = true;
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(now - firstRefusal_).count();
}

void LockWaitReport::waiting() {
  const long long waited = sinceFirstRefusal();
  processSlot<ICLLabelLockWaitCallback>().call(waited);
}

void LockWaitReport::waitingForClaim(const std::string& holder,
                                     std::chrono::milliseconds unchangedFor) {
  // Whose claim first, so that the lock's callback knows what the wait is for.
  processSlot<ICLLabelClaimWaitCallback>().call(holder.c_str(),
                                                static_cast<long long>(unchangedFor.count()));
  waiting();
}

}  // namespace icl

void ICLToolSetLabelLockWaitLimit(long long milliseconds) {
  icl::setLabelLockWaitLimit(std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0));
}

void ICLToolSetLabelLockWaitCallback(ICLLabelLockWaitCallback callback, void* context) {
  icl::processSlot<ICLLabelLockWaitCallback>().set(callback, context);
}

void ICLToolSetLabelClaimWaitCallback(ICLLabelClaimWaitCallback callback, void* context) {
  icl::processSlot<ICLLabelClaimWaitCallback>().set(callback, context);
}
