// du: the disk usage of an index cache, in one walk of each well-known
// sub-directory, and whether that total is complete.

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Feedback.h"
#include "ICLRoutines.h"
#include "ICLToolSupport.h"
#include "IdxCacheDirInfo.h"
#include "ZUPlatformInfo.h"
#include "diskusage/WellKnownDirs.h"
#include "sys/JoinPath.h"

namespace icl {
namespace tool {
namespace {

// The library reads its per-entry switch once, in the first
// getIndexCacheDiskUsageKB of the process; a call on "" reads it and
// measures nothing, and its "does not exist" line is no news.
void switchOnEntryLines(LogLines& log) {
  ZUPlatformInfo::setRegInt("~Keeper", "nAddZukpLogForIcdSize", 1);
  log.setMuted(true);
  getIndexCacheDiskUsageKB("");
  log.setMuted(false);
}

// For the lifetime of a du run: each part of the tree the library's walks
// leave out of the total, as a line for the operator.
class WalkGapList {
 public:
  WalkGapList() { ICLToolSetWalkGapCallback(&WalkGapList::add, this); }
  ~WalkGapList() { ICLToolSetWalkGapCallback(nullptr, nullptr); }
  WalkGapList(const WalkGapList&) = delete;
  WalkGapList& operator=(const WalkGapList&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  static void add(const char* path, const char* call, int error, void* self) {
    std::string why = error != 0                 ? format("%s: %s", call, strerror(error))
                      : strcmp(call, "log") == 0 ? "a log call threw"
                                                 : "moved or replaced during the walk";
    static_cast<WalkGapList*>(self)->lines_.push_back(
        format("cannot read %s: %s", path, why.c_str()));
  }

  std::vector<std::string> lines_;
};

// A name the walk may measure: present, or there in a way access() cannot
// tell (its walk then says why it is left out). Only an absent one is
// skipped, as the library skips it.
bool mayBePresent(const std::string& path) {
  return access(path.c_str(), F_OK) == 0 || errno != ENOENT;
}

// An incomplete total is still the size of what could be read, printed as
// such, but the run fails: a script must not take it for the whole.
void reportGaps(const WalkGapList& gaps, Report& report) {
  const size_t n = gaps.lines().size();
  report.values().addBool("complete", n == 0);
  if (n == 0) return;
  report.incomplete(
      format("%zu part%s of the index cache could not be read; the total leaves %s out", n,
             n == 1 ? "" : "s", n == 1 ? "it" : "them"),
      gaps.lines());
}

// Each sub-directory walked once, summed as getIndexCacheDiskUsageKB sums;
// a text line and a JSON item for each.
long long measureEach(const std::string& dir, const std::vector<std::string>& present,
                      const WalkGapList& gaps, std::vector<std::string>& lines,
                      std::vector<std::string>& items) {
  long long total = 0;
  for (const std::string& name : present) {
    const size_t gapsBefore = gaps.lines().size();
    const long long kb = getDiskUsage(sys::joinPath(dir, name.c_str()).c_str());
    const bool complete = gaps.lines().size() == gapsBefore;
    if (kb > 0) total += kb;
    lines.push_back(kb < 0     ? format("  %-16s cannot be read", name.c_str())
                    : complete ? format("  %-16s %lld KB", name.c_str(), kb)
                               : format("  %-16s %lld KB, incomplete", name.c_str(), kb));
    items.push_back(
        JsonObject().addString("name", name).addInt("kb", kb).addBool("complete", complete).str());
  }
  return total;
}

// No directory to measure, as DoesPathExist just found: its error (an empty
// or too long path, a directory that cannot be examined), or none there.
void failAsMissing(ICLController& controller, Report& report) {
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
  const std::string dir = convertSlashes(inv.dir.c_str());
  std::vector<std::string> present;
  for (int i = 0; i < idxcache::kWellKnownDirCount; ++i) {
    const char* name = GetIdxCacheDirList(i);
    if (mayBePresent(sys::joinPath(dir, name))) present.push_back(name);
  }

  long long total = 0;
  std::vector<std::string> lines;
  std::vector<std::string> items;
  ProgressLine progress(inv);  // cleared before the report is printed
  WalkGapList gaps;
  if (!inv.detail) {
    total = getIndexCacheDiskUsageKB(inv.dir.c_str());
    if (total < 0) {  // gone since the check: asked once more, for why
      controller.DoesPathExist(exists);
      failAsMissing(controller, report);
      return;
    }
  } else {
    if (inv.verbose) switchOnEntryLines(log);
    total = measureEach(dir, present, gaps, lines, items);
  }
  report.say(format("%s: %lld KB", inv.dir.c_str(), total));
  for (const std::string& line : lines) report.say(line);
  report.values().addInt("kb", total).addBool("indexCache", !present.empty());
  if (inv.detail) report.values().addJson("subdirectories", jsonArray(items));
  reportGaps(gaps, report);
  if (present.empty()) {
    report.note("none of the well-known sub-directories is here: is it an index cache?");
  }
}

}  // namespace tool
}  // namespace icl
