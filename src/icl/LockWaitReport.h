#ifndef ICL_ICL_LOCKWAITREPORT_H
#define ICL_ICL_LOCKWAITREPORT_H

// Tells the callback of ICLToolSetLabelLockWaitCallback (ICLToolSupport.h)
// how long a writer has waited for the label lock. One per wait; used by
// the wait loop of LabelLock.

#include <chrono>

namespace icl {

class LockWaitReport {
 public:
  // After each refused attempt. Does nothing but read the clock when no
  // callback is set.
  void waiting();

 private:
  std::chrono::steady_clock::time_point firstRefusal_;
  bool refusedBefore_ = false;
};

}  // namespace icl

#endif
