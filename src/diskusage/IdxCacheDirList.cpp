#include "IdxCacheDirInfo.h"
#include "diskusage/WellKnownDirs.h"

namespace {

// The sub-directories that make up an index cache, in the order they are summed.
const char* const sLocalIdxCacheDirList[] = {
    "ZU_Index", "ZU_FcsIndex", "ZU_Opt1", "ZU_SnapMetadata", "CatalogServer", "ZU_SIDB",
};

static_assert(sizeof sLocalIdxCacheDirList / sizeof sLocalIdxCacheDirList[0] ==
                  icl::idxcache::kWellKnownDirCount,
              "one name per well-known sub-directory");

}  // namespace

const char* GetIdxCacheDirList(int index) {
  // Callers loop until they see this text, so it is returned, never thrown.
  if (index < 0 || index >= icl::idxcache::kWellKnownDirCount) {
    return "sIdxCacheDirList: index out of range";
  }
  return sLocalIdxCacheDirList[index];
}
