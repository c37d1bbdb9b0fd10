#include "diskusage/DescriptorBudget.h"

#include <sys/resource.h>

namespace icl {
namespace idxcache {

size_t descriptorBudget() {
  size_t budget = kMaxOpenDirs;
  struct rlimit limit;
  // Read on every walk: a host may lower or raise its limit at any time.
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur / 4 < budget) {
    budget = static_cast<size_t>(limit.rlim_cur / 4);
  }
  return budget < kMinOpenDirs ? kMinOpenDirs : budget;
}

}  // namespace idxcache
}  // namespace icl
