#include "IdxCacheDirInfo.h"
#include "diskusage/DescriptorBudget.h"
#include "diskusage/DetailLogging.h"
#include "diskusage/SizeWalk.h"

long long getDiskUsage(const char* path) {
  // Before any getIndexCacheDiskUsageKB the setting is unread (-1): no detail.
  return icl::idxcache::measureDirectory(path, icl::idxcache::detailLogging() == 1,
                                         icl::idxcache::descriptorBudget());
}
