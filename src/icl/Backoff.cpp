#include "Backoff.h"

#include <algorithm>
#include <thread>

namespace icl {

Clock::time_point deadlineAfter(std::chrono::milliseconds wait) {
  const Clock::time_point now = Clock::now();
  if (wait.count() <= 0) return now;
  const auto room =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
  return wait >= room ? Clock::time_point::max() : now + wait;
}

bool Backoff::pause() {
  if (expired()) return false;
  const Clock::time_point now = Clock::now();
  const auto untilDeadline = deadline_ - now;
  std::this_thread::sleep_for(std::min<Clock::duration>(next_, untilDeadline));
  next_ = std::min(next_ * 2, cap_);
  --left_;
  ++taken_;
  return true;
}

}  // namespace icl
