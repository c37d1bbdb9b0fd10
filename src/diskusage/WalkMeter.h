#ifndef ICL_DISKUSAGE_WALKMETER_H
#define ICL_DISKUSAGE_WALKMETER_H

// Counts what one disk-usage walk has seen and reports it to the callback
// of ICLToolSetWalkProgressCallback (ICLToolSupport.h): about every 100 ms,
// and once more when the meter goes away at the walk's end. A meter made
// while no callback is set stays idle for its whole walk: one untaken
// branch per entry.

#include <chrono>

#include "ICLToolSupport.h"

namespace icl {
namespace idxcache {

// One per walk, never copied: it reports its last figures when it goes.
class WalkMeter {
 public:
  WalkMeter(const WalkMeter&) = delete;
  WalkMeter& operator=(const WalkMeter&) = delete;
  WalkMeter();
  ~WalkMeter();

  void addFile(long long bytes) {
    if (!active_) return;
    ++progress_.files;
    progress_.bytes += bytes;
    tick();
  }
  void addDirectory() {
    if (!active_) return;
    ++progress_.directories;
    tick();
  }

 private:
  // The clock is read once every kEventsPerClockRead entries.
  static constexpr unsigned kEventsPerClockRead = 256;

  void tick() {
    if (++events_ % kEventsPerClockRead == 0) reportIfDue();
  }
  void reportIfDue();

  const bool active_;
  ICLWalkProgress progress_ = {0, 0, 0, 0};
  unsigned events_ = 0;
  std::chrono::steady_clock::time_point lastReport_;
};

}  // namespace idxcache
}  // namespace icl

#endif
