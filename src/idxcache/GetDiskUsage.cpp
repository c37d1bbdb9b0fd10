#include "IdxCacheDirInfo.h"
#include "idxcache/DescriptorBudget.h"
#include "idxcache/DetailLogging.h"
#include "idxcache/SizeWalk.h"

long long getDiskUsage(const char* path) {
  // Before any getIndexCacheDiskUsageKB the setting is unread (-1): no detail.
  return icl::idxcache::measureDirectory(path, icl::idxcache::detailLogging() == 1,
                                         icl::idxcache::descriptorBudget());
}
