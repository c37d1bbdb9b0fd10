#include "diskusage/WalkMeter.h"

#include "icl/CallbackSlot.h"

namespace icl {
namespace idxcache {
namespace {

constexpr std::chrono::milliseconds kReportInterval(100);

}  // namespace

WalkMeter::WalkMeter()
    : active_(processSlot<ICLWalkProgressCallback>().isSet()),
      lastReport_(std::chrono::steady_clock::now()) {}

WalkMeter::~WalkMeter() {
  if (!active_) return;
  progress_.finished = 1;
  processSlot<ICLWalkProgressCallback>().call(static_cast<const ICLWalkProgress*>(&progress_));
}

void WalkMeter::reportIfDue() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastReport_ < kReportInterval) return;
  lastReport_ = now;
  processSlot<ICLWalkProgressCallback>().call(static_cast<const ICLWalkProgress*>(&progress_));
}

}  // namespace idxcache
}  // namespace icl

void ICLToolSetWalkProgressCallback(ICLWalkProgressCallback callback, void* context) {
  icl::processSlot<ICLWalkProgressCallback>().set(callback, context);
}
