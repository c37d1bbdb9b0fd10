#include "diskusage/WalkReports.h"

#include "toolsupport/CallbackSlot.h"

namespace icl::idxcache {

void reportWalkGap(const char* path, const char* call, int error) {
  processSlot<ICLWalkGapCallback>().call(path, call, error);
}

WalkMeter::WalkMeter()
    : active_(processSlot<ICLWalkProgressCallback>().isSet()),
      lastReport_(std::chrono::steady_clock::now()) {}

WalkMeter::~WalkMeter() {
  if (!active_) return;
  progress_.finished = 1;
  processSlot<ICLWalkProgressCallback>().call(static_cast<const ICLWalkProgress*>(&progress_));
}

void WalkMeter::count(long long files, long long directories, long long bytes) {
  progress_.files += files;
  progress_.directories += directories;
  progress_.bytes += bytes;
  if (++events_ % 256 != 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastReport_ < std::chrono::milliseconds(100)) return;
  lastReport_ = now;
  processSlot<ICLWalkProgressCallback>().call(static_cast<const ICLWalkProgress*>(&progress_));
}

}  // namespace icl::idxcache

void ICLToolSetWalkGapCallback(ICLWalkGapCallback callback, void* context) {
  icl::processSlot<ICLWalkGapCallback>().set(callback, context);
}

void ICLToolSetWalkProgressCallback(ICLWalkProgressCallback callback, void* context) {
  icl::processSlot<ICLWalkProgressCallback>().set(callback, context);
}
