// du: the disk usage of an index cache, in one walk of each well-known
// sub-directory.

#include <unistd.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Feedback.h"
#include "ICLRoutines.h"
#include "IdxCacheDirInfo.h"
#include "ZUPlatformInfo.h"

namespace icl {
namespace tool {
namespace {

// GetIdxCacheDirList names index 0 to 5.
const int kWellKnownDirCount = 6;

// The library reads its per-entry switch once, in the first
// getIndexCacheDiskUsageKB of the process; a call on "" reads it and
// measures nothing, and its "does not exist" line is no news.
void switchOnEntryLines(LogLines& log) {
  ZUPlatformInfo::setRegInt("~Keeper", "nAddZukpLogForIcdSize", 1);
  log.setMuted(true);
  getIndexCacheDiskUsageKB("");
  log.setMuted(false);
}

void failAsMissing(ICLController& controller, Report& report) {
  controller.ConstructICLPath();  // names the reason: an empty path, or no directory
  const TICLError error = controller.GetICLError();
  report.fail(controller, error != ICL_ERROR_NONE ? error : ICL_ERROR_PATH_NOT_FOUND);
}

}  // namespace

void runDiskUsage(const Invocation& inv, Report& report, LogLines& log) {
  ICLController controller(inv.host ? inv.host->c_str() : nullptr, inv.dir.c_str());
  bool exists = false;
  if (controller.DoesPathExist(exists) != 0 || !exists) {
    failAsMissing(controller, report);
    return;
  }
  std::string base = convertSlashes(inv.dir.c_str());
  if (base.back() != '/') base += '/';
  std::vector<std::string> present;  // absent ones are skipped, as the library skips them
  for (int i = 0; i < kWellKnownDirCount; ++i) {
    if (access((base + GetIdxCacheDirList(i)).c_str(), F_OK) == 0) {
      present.push_back(GetIdxCacheDirList(i));
    }
  }

  long long total = 0;
  std::vector<std::string> lines;
  std::vector<std::string> items;
  ProgressLine progress(inv);  // cleared before the report is printed
  if (!inv.detail) {
    total = getIndexCacheDiskUsageKB(inv.dir.c_str());
    if (total < 0) {  // gone since the check
      failAsMissing(controller, report);
      return;
    }
  } else {
    // Each sub-directory walked once, summed as getIndexCacheDiskUsageKB sums.
    if (inv.verbose) switchOnEntryLines(log);
    for (const std::string& name : present) {
      const long long kb = getDiskUsage((base + name).c_str());
      if (kb > 0) total += kb;
      lines.push_back(kb < 0 ? format("  %-16s cannot be read", name.c_str())
                             : format("  %-16s %lld KB", name.c_str(), kb));
      items.push_back(JsonObject().addString("name", name).addInt("kb", kb).str());
    }
  }
  report.say(format("%s: %lld KB", inv.dir.c_str(), total));
  for (const std::string& line : lines) report.say(line);
  report.values().addInt("kb", total).addBool("indexCache", !present.empty());
  if (inv.detail) report.values().addJson("subdirectories", jsonArray(items));
  if (present.empty()) {
    report.note("none of the well-known sub-directories is here: is it an index cache?");
  }
}

}  // namespace tool
}  // namespace icl
