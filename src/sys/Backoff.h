#ifndef ICL_ICL_BACKOFF_H
#define ICL_ICL_BACKOFF_H

// The one way this library waits before trying something again.
//
// Every retry and wait (a label load that met another host's replace, the
// writers' lock, another writer's claim, a stale name under the lock) pauses
// through a Backoff: the pauses double from `first` up to `cap`, and there
// are at most `attempts` of them, never ending past `deadline`. So each wait
// is bounded twice over, by a count and by a time, and none sleeps as a
// hidden side effect of a question: pause() is the only call that sleeps.
//
// The bounds in use, stated once:
//   label load on shared storage  10 pauses, 2 ms doubling to 100 ms: 526 ms
//   a stale handle under the lock 10 pauses, 2 ms doubling to 100 ms: 526 ms
//                                 (so a writer that meets a lasting ESTALE
//                                 pauses about 1.05 s in all, then fails)
//   stale name under the lock     12 pauses, 2 ms doubling to 250 ms: 1.5 s
//   writers' lock and claim       1 ms doubling to 100 ms, each pause drawn
//                                 from 75-125 % of its length so that
//                                 waiters spread out (about 10 requests a
//                                 second after the first), until the wait
//                                 limit (labelLockWaitLimit(), 30 s)
//   the tool's re-read of a label 4 pauses, 10 ms doubling to 40 ms: 110 ms
//   a change redone before rename 3 pauses, 10 ms doubling to 100 ms: 70 ms
//   a claim whose writer is gone  taken over once this writer has seen it
//                                 stand unchanged for 10 s (1 s empty)
// A single lock request to a network file system that cannot reach its
// server may itself take as long as that file system's own timeout: no
// deadline here can cut a call short, so a wait can overrun by that much.

#include <chrono>

namespace icl {

using Clock = std::chrono::steady_clock;

// `now` plus `wait`, saturating instead of overflowing: a limit of any size
// is a deadline, the largest ones "never".
Clock::time_point deadlineAfter(std::chrono::milliseconds wait);

// True once in about `n` calls, drawn as the pauses' jitter is: for work
// that is done rarely rather than on every call.
bool drawOneIn(unsigned n);

class Backoff {
 public:
  Backoff(int attempts, std::chrono::milliseconds first, std::chrono::milliseconds cap,
          Clock::time_point deadline = Clock::time_point::max())
      : left_(attempts), next_(first), cap_(cap), deadline_(deadline) {}

  // Each later pause lasts 75-125 % of its nominal length, drawn afresh:
  // waiters that started together do not keep asking together.
  Backoff& withJitter() {
    jitter_ = true;
    return *this;
  }

  // Sleeps for the next pause (cut short at the deadline) and answers true;
  // answers false at once when no attempt or no time is left.
  bool pause();
  // The pauses taken so far.
  int taken() const { return taken_; }
  bool expired() const { return left_ <= 0 || Clock::now() >= deadline_; }

 private:
  int left_;
  int taken_ = 0;
  std::chrono::milliseconds next_;
  std::chrono::milliseconds cap_;
  Clock::time_point deadline_;
  bool jitter_ = false;
};

}  // namespace icl

#endif
