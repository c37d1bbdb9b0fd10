// test-dir and du: the capability test and the disk usage of a directory.

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "ICLRoutines.h"
#include "IdxCacheDirInfo.h"
#include "ZUPlatformInfo.h"

namespace icl {
namespace tool {
namespace {

// GetIdxCacheDirList names index 0 to 5.
const int kWellKnownDirCount = 6;

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void runTestDir(const Invocation& inv, Report& report) {
  const bool existed = isDirectory(convertSlashes(inv.dir.c_str()));
  ICLController controller(inv.host ? inv.host->c_str() : nullptr, inv.dir.c_str());
  if (controller.canFilesBeCreatedInDirectory() != 0) {
    report.fail(controller);
    return;
  }
  report.values().addBool("created", !existed);
  if (!existed) report.say(inv.dir + ": created");
  report.say(inv.dir +
             ": files can be created, written, read back, locked, re-owned, re-moded and "
             "removed here");
}

void runDiskUsage(const Invocation& inv, Report& report) {
  // The setting is read once, by the first size query: set it before.
  if (inv.detail) ZUPlatformInfo::setRegInt("~Keeper", "nAddZukpLogForIcdSize", 1);
  const long long total = getIndexCacheDiskUsageKB(inv.dir.c_str());
  if (total < 0) {
    report.fail("not an existing directory, so it has no size");
    return;
  }
  report.say(format("%s: %lld KB", inv.dir.c_str(), total));
  report.values().addInt("kb", total);
  if (!inv.detail) return;

  std::string base = inv.dir;
  if (base.back() != '/') base += '/';
  std::vector<std::string> items;
  for (int i = 0; i < kWellKnownDirCount; ++i) {
    const char* name = GetIdxCacheDirList(i);
    const std::string sub = base + name;
    if (access(sub.c_str(), F_OK) != 0) continue;  // absent: the library skips it too
    const long long kb = getDiskUsage(sub.c_str());
    report.say(kb < 0 ? format("  %-16s cannot be read", name)
                      : format("  %-16s %lld KB", name, kb));
    items.push_back(JsonObject().addString("name", name).addInt("kb", kb).str());
  }
  report.values().addJson("subdirectories", jsonArray(items));
}

}  // namespace tool
}  // namespace icl
