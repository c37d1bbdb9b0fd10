#include <unistd.h>

#include <string>

#include "EvEvent.h"
#include "ICLRoutines.h"
#include "IdxCacheDirInfo.h"
#include "idxcache/DetailLogging.h"
#include "idxcache/WellKnownDirs.h"
#include "sys/JoinPath.h"
#include "sys/SysCalls.h"

namespace {

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
  if (!exists) {
    log.Debug(function, "Path [%s] does not exist", shown);
    return false;
  }
  return true;
}

}  // namespace

long long getIndexCacheDiskUsageKB(const char* path) {
  static const char* const kFunction = "getIndexCacheDiskUsageKB";
  EvEvent log;
  icl::idxcache::readDetailLoggingOnce();
  if (!indexCacheDirExists(log, kFunction, path)) return -1;

  const bool detail = icl::idxcache::detailLogging() == 1;
  // Measured where the existence check found it: backslashes are separators.
  const std::string base = convertSlashes(path);

  long long total = 0;
  bool found = false;
  for (int index = 0; index < icl::idxcache::kWellKnownDirCount; ++index) {
    const std::string subDir = icl::sys::joinPath(base, GetIdxCacheDirList(index));
    // Whatever keeps access() from seeing it (absent, unreachable) passes it
    // over silently: the sub-directories are optional.
    if (icl::sys::calls().access(subDir.c_str(), F_OK) != 0) continue;
    found = true;
    long long size = getDiskUsage(subDir.c_str());
    if (size > 0) {
      total += size;
    } else if (detail) {
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
