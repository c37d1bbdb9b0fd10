#include "sys/Backoff.h"

#include <algorithm>
#include <functional>
#include <random>
#include <thread>

namespace icl {

Clock::time_point deadlineAfter(std::chrono::milliseconds wait) {
  const Clock::time_point now = Clock::now();
  if (wait.count() <= 0) return now;
  const auto room =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
  return wait >= room ? Clock::time_point::max() : now + wait;
}

namespace {

// A generator seeded once per thread by the clock and the thread: no system
// call, and no two threads or processes in step.
unsigned draw() {
  thread_local std::minstd_rand generator(
      static_cast<unsigned>(Clock::now().time_since_epoch().count() ^
                            std::hash<std::thread::id>()(std::this_thread::get_id())));
  return static_cast<unsigned>(generator());
}

// 75-125 % of `pause`.
Clock::duration jittered(std::chrono::milliseconds pause) {
  const auto nominal = std::chrono::duration_cast<Clock::duration>(pause);
  return nominal * 3 / 4 + nominal * static_cast<long>(draw() % 501) / 1000;
}

}  // namespace

bool drawOneIn(unsigned n) { return n <= 1 || draw() % n == 0; }

bool Backoff::pause() {
  if (expired()) return false;
  const Clock::time_point now = Clock::now();
  const auto untilDeadline = deadline_ - now;
  const Clock::duration wanted =
      jitter_ ? jittered(next_) : std::chrono::duration_cast<Clock::duration>(next_);
  std::this_thread::sleep_for(std::min<Clock::duration>(wanted, untilDeadline));
  next_ = std::min(next_ * 2, cap_);
  --left_;
  ++taken_;
  return true;
}

}  // namespace icl
