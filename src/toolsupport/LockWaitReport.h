#ifndef ICL_WRITE_LOCKWAITREPORT_H
#define ICL_WRITE_LOCKWAITREPORT_H

// Tells the wait callbacks of ICLToolSupport.h how long a writer has waited
// for the label lock or for another writer's claim. One per wait.

#include <chrono>
#include <string>

namespace icl {

class LockWaitReport {
 public:
  // After each refused attempt at the lock. Does nothing but read the clock
  // when no callback is set.
  void waiting();
  // After each attempt at the claim that found `holder`'s claim standing,
  // which this writer has watched stand unchanged for `unchangedFor`: the
  // lock's callback hears of it as of any wait, the claim's callback also
  // learns whose claim it is.
  void waitingForClaim(const std::string& holder, std::chrono::milliseconds unchangedFor);

 private:
  long long sinceFirstRefusal();

  std::chrono::steady_clock::time_point firstRefusal_;
  bool refusedBefore_ = false;
};

}  // namespace icl

#endif
