#include "diskusage/DetailLogging.h"

#include <atomic>
#include <mutex>

#include "ZUPlatformInfo.h"

namespace icl {
namespace idxcache {
namespace {

// -1 until read; only the value 1 switches the detailed lines on.
std::atomic<int> doDebugLogging{-1};
std::once_flag gReadOnce;

}  // namespace

void readDetailLoggingOnce() {
  std::call_once(gReadOnce, [] {
    ZUPlatformInfo platform;
    int value = 0;
    int found = platform.getRegInt("~Keeper", "nAddZukpLogForIcdSize", &value);
    doDebugLogging.store(found != 0 && value != 0 ? 1 : 0, std::memory_order_release);
  });
}

int detailLogging() { return doDebugLogging.load(std::memory_order_acquire); }

}  // namespace idxcache
}  // namespace icl
