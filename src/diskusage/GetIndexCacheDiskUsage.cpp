#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "EvEvent.h"
#include "ICLRoutines.h"
#include "IdxCacheDirInfo.h"
#include "diskusage/DetailLogging.h"
#include "diskusage/ShownName.h"
#include "diskusage/WalkGaps.h"
#include "diskusage/WellKnownDirs.h"
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

// Whether the well-known sub-directory `subDir` is there to be walked. An
// absent one (also a dangling link) is passed over silently: they are
// optional. One whose presence cannot be told (no search permission on the
// index cache, a loop of links) is a part of the total left out, and said.
bool wellKnownDirPresent(EvEvent& log, const char* function, const std::string& subDir) {
  if (icl::sys::calls().access(subDir.c_str(), F_OK) == 0) return true;
  const int err = errno;
  if (err == ENOENT) return false;
  const icl::idxcache::ShownName shown(subDir.c_str());
  log.Error(function, "Cannot tell whether [%s] exists (access):\n[%s]", shown.c_str(),
            strerror(err));
  icl::idxcache::reportWalkGap(shown.c_str(), "access", err);
  return false;
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
    // access() follows a link: a well-known sub-directory that is a link is
    // measured where it leads, and only links below it are never followed.
    if (!wellKnownDirPresent(log, kFunction, subDir)) continue;
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
