#ifndef ICL_ICL_CALLBACKSLOT_H
#define ICL_ICL_CALLBACKSLOT_H

// A process-wide callback that one thread may replace while others call it.
// Callers share a lock while they call and the setter takes it alone, so
// once set() returns the callback it replaced is not running and never runs
// again. A callback must not call set() (it would wait for itself).

#include <atomic>
#include <mutex>
#include <shared_mutex>

namespace icl {

template <typename Callback>
class CallbackSlot {
 public:
  void set(Callback callback, void* context) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    callback_ = callback;
    context_ = callback != nullptr ? context : nullptr;
    isSet_.store(callback != nullptr, std::memory_order_relaxed);
  }

  // Whether a callback is set, without the lock: for skipping all work when
  // none is. A callback set or cleared meanwhile may be seen late.
  bool isSet() const { return isSet_.load(std::memory_order_relaxed); }

  // Calls the callback if one is set now; with none set, takes no lock.
  template <typename... Args>
  void call(Args... args) {
    if (!isSet()) return;
    std::shared_lock<std::shared_mutex> lock(mutex_);
    if (callback_ != nullptr) callback_(args..., context_);
  }

 private:
  std::shared_mutex mutex_;
  Callback callback_ = nullptr;
  void* context_ = nullptr;
  std::atomic<bool> isSet_{false};
};

// The process's one slot for callbacks of type Callback. Never destroyed:
// waits and walks that call it may still run while the process exits.
template <typename Callback>
CallbackSlot<Callback>& processSlot() {
  static auto* slot = new CallbackSlot<Callback>;
  return *slot;
}

}  // namespace icl

#endif
