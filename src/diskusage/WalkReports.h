#ifndef ICL_DISKUSAGE_WALKREPORTS_H
#define ICL_DISKUSAGE_WALKREPORTS_H

// What disk-usage walks tell operator tools (ICLToolSupport.h): the parts
// they leave out, and their progress. With no callback set, telling costs
// one untaken branch.

#include <chrono>

#include "ICLToolSupport.h"

namespace icl::idxcache {

// Tells the gap callback, if one is set, that `path` was left out because
// `call` failed with `error` (0 where no call's errno says why).
void reportWalkGap(const char* path, const char* call, int error);

// Counts what one walk has seen for the progress callback: about every
// 100 ms, and once more when the meter goes away at the walk's end. A meter
// made while no callback is set stays idle for its whole walk.
class WalkMeter {
 public:
  WalkMeter();
  ~WalkMeter();
  WalkMeter(const WalkMeter&) = delete;  // a copy would report the walk's end twice
  WalkMeter& operator=(const WalkMeter&) = delete;

  void addFile(long long bytes) {
    if (active_) count(1, 0, bytes);
  }
  void addDirectory() {
    if (active_) count(0, 1, 0);
  }

 private:
  void count(long long files, long long directories, long long bytes);

  const bool active_;
  ICLWalkProgress progress_ = {0, 0, 0, 0};
  unsigned events_ = 0;  // the clock is read once every 256
  std::chrono::steady_clock::time_point lastReport_;
};

}  // namespace icl::idxcache

#endif
