// The disk-usage API: the well-known sub-directories, their sum, the walk
// of one directory, and the per-entry logging switch they obey.

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <iterator>
#include <mutex>
#include <string>

#include "EvEvent.h"
#include "ICLRoutines.h"
#include "IdxCacheDirInfo.h"
#include "ZUPlatformInfo.h"
#include "diskusage/ShownName.h"
#include "diskusage/SizeWalk.h"
#include "diskusage/WalkReports.h"
#include "diskusage/WellKnownDirs.h"
#include "sys/JoinPath.h"
#include "sys/SysCalls.h"

namespace {

// The sub-directories that make up an index cache, in the order they are summed.
const char* const sLocalIdxCacheDirList[] = {
    "ZU_Index", "ZU_FcsIndex", "ZU_Opt1", "ZU_SnapMetadata", "CatalogServer", "ZU_SIDB",
};
static_assert(std::size(sLocalIdxCacheDirList) == icl::idxcache::kWellKnownDirCount);

// The setting "nAddZukpLogForIcdSize" in section "~Keeper": -1 until the
// first sum reads it, then 0 or 1; only 1 switches the detailed lines on.
// Concurrent first sums wait for the one read; later changes are never seen.
std::atomic<int> doDebugLogging{-1};
std::once_flag gReadOnce;

bool detailLogging() { return doDebugLogging.load(std::memory_order_acquire) == 1; }

// True when `path` names an existing directory, as the label controller
// sees it; logs why not otherwise.
bool indexCacheDirExists(EvEvent& log, const char* function, const char* path) {
  const char* shown = path != nullptr ? path : "NULL";
  // The controller refuses a null or over-long location and treats it as
  // empty, which is the "check failure" answer.
  ICLController controller(nullptr, path);
  bool exists = false;
  if (controller.DoesPathExist(exists) == -1) {
    log.Debug(function, "Path [%s] does not exist: check failure", shown);
    return false;
  }
  if (!exists) log.Debug(function, "Path [%s] does not exist", shown);
  return exists;
}

// Whether the well-known sub-directory `subDir` is there to be walked. An
// absent one (also a dangling link) is passed over silently: they are
// optional. One whose presence cannot be told (no search permission on the
// index cache, a loop of links) is a part of the total left out, and said.
bool wellKnownDirPresent(EvEvent& log, const char* function, const std::string& subDir) {
  if (icl::sys::calls().access(subDir.c_str(), F_OK) == 0) return true;
  const int err = errno;
  if (err == ENOENT) return false;
  const std::string shown = icl::idxcache::shownName(subDir);
  log.Error(function, "Cannot tell whether [%s] exists (access):\n[%s]", shown.c_str(),
            strerror(err));
  icl::idxcache::reportWalkGap(shown.c_str(), "access", err);
  return false;
}

}  // namespace

const char* GetIdxCacheDirList(int index) {
  // Callers loop until they see this text, so it is returned, never thrown.
  if (index < 0 || index >= icl::idxcache::kWellKnownDirCount) {
    return "sIdxCacheDirList: index out of range";
  }
  return sLocalIdxCacheDirList[index];
}

long long getIndexCacheDiskUsageKB(const char* path) {
  static const char* const kFunction = "getIndexCacheDiskUsageKB";
  EvEvent log;
  std::call_once(gReadOnce, [] {
    ZUPlatformInfo platform;
    int value = 0;
    int found = platform.getRegInt("~Keeper", "nAddZukpLogForIcdSize", &value);
    doDebugLogging.store(found != 0 && value != 0 ? 1 : 0, std::memory_order_release);
  });
  if (!indexCacheDirExists(log, kFunction, path)) return -1;
  // Measured where the existence check found it: backslashes are separators.
  const std::string base = convertSlashes(path);
  long long total = 0;
  bool found = false;
  for (int index = 0; index < icl::idxcache::kWellKnownDirCount; ++index) {
    const std::string subDir = icl::sys::joinPath(base, GetIdxCacheDirList(index));
    // access() follows a link: a well-known sub-directory that is a link is
    // measured where it leads, and only links below it are never followed.
    if (!wellKnownDirPresent(log, kFunction, subDir)) continue;
    found = true;
    long long size = getDiskUsage(subDir.c_str());
    if (size > 0) {
      total += size;
    } else if (detailLogging()) {
      log.Debug(kFunction, "For path [%s] size is [%lld] KB. Either empty or failed folder.",
                subDir.c_str(), size);
    }
  }
  if (found) {
    log.Debug(kFunction, "Finished processing of the path [%s]: returning size [%lld] KB.", path,
              total);
  } else {
    log.Debug(kFunction,
              "Finished processing of the path [%s]: there are no well-known sub-directories. "
              "Returning size [%lld] KB.",
              path, total);
  }
  return total;
}

long long getDiskUsage(const char* path) {
  // Before any getIndexCacheDiskUsageKB the setting is unread (-1): no detail.
  return icl::idxcache::measureDirectory(path, detailLogging(), icl::idxcache::descriptorBudget());
}
