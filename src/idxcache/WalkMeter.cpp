#include "idxcache/WalkMeter.h"

#include "icl/CallbackSlot.h"

namespace icl {
namespace idxcache {
namespace {

constexpr std::chrono::milliseconds kReportInterval(100);

CallbackSlot<ICLWalkProgressCallback>& progressCallback() {
  static auto* slot = new CallbackSlot<ICLWalkProgressCallback>;  // walks may run during exit
  return *slot;
}

}  // namespace

WalkMeter::WalkMeter()
    : active_(progressCallback().isSet()), lastReport_(std::chrono::steady_clock::now()) {}

WalkMeter::~WalkMeter() {
  if (!active_) return;
  progress_.finished = 1;
  progressCallback().call(static_cast<const ICLWalkProgress*>(&progress_));
}

void WalkMeter::reportIfDue() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastReport_ < kReportInterval) return;
  lastReport_ = now;
  progressCallback().call(static_cast<const ICLWalkProgress*>(&progress_));
}

}  // namespace idxcache
}  // namespace icl

void ICLToolSetWalkProgressCallback(ICLWalkProgressCallback callback, void* context) {
  icl::idxcache::progressCallback().set(callback, context);
}
