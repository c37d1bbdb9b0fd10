// show: the label's identity as the library reads it, and every access path
// line, which the library never lists (it only looks for its own).

#include <stdint.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "ICLRoutines.h"
#include "ICLToolSupport.h"

namespace icl {
namespace tool {
namespace {

struct AccessPath {
  std::string idText;  // as normalised: spaces gone, nothing from '#' on
  bool plain;          // the id reads back as printf "%d" writes it
  int32_t id;
  std::string host;  // the text after '#', trimmed
};

void addAccessPath(const char* idText, int plain, int32_t id, const char* host, void* paths) {
  static_cast<std::vector<AccessPath>*>(paths)->push_back(AccessPath{idText, plain != 0, id, host});
}

// `text` as one shell word: as it is when nothing in it is special to sh.
std::string shellWord(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789_-+=.,:/@%") == std::string::npos;
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

void runShow(const Invocation& inv, Report& report, LogLines&) {
  ICLController controller(inv.host ? inv.host->c_str() : nullptr, inv.dir.c_str());
  std::vector<AccessPath> paths;
  const int read = ICLToolReadAccessPaths(controller, inv.dir.c_str(), &addAccessPath, &paths);
  if (read < 0) {
    report.fail(controller);
    if (controller.GetICLError() == ICL_ERROR_FILE_NOT_FOUND) {
      const std::string dir = shellWord(inv.dir);
      report.hint("to write one: icl new " + dir + " --pool ID --cache ID --path ID --marker N");
      report.hint("          or: icl update " + dir +
                  " --pool ID --cache ID --path ID --allow-new --marker N");
    }
    return;
  }
  if (read > 0) {
    // Replaced or removed since the read.
    report.fail(controller, ICL_ERROR_FILE_READ);
    report.say(format("loading it again for its access path lines failed (reader code %d)", read));
    return;
  }
  ICLData data;
  controller.GetICLData(data);

  const std::string labelPath = ICLToolLabelPath(inv.dir.c_str());
  report.say("label   " + labelPath);
  report.say(format("pool    %d", data.indexCachePoolID));
  report.say(format("cache   %d", data.indexCacheID));
  report.say(format("marker  %lld", static_cast<long long>(data.timeStampMarker)));
  report.say(format("access paths: %zu", paths.size()));
  std::vector<std::string> items;
  for (const AccessPath& p : paths) {
    JsonObject item;
    if (p.plain) {
      item.addInt("id", p.id);
      report.say(format("  %-6d %s", p.id, p.host.c_str()));
    } else {
      item.addNull("id").addString("text", p.idText);
      report.say(format("  %-6s %s   (not a plain decimal id: never matched)", p.idText.c_str(),
                        p.host.c_str()));
    }
    items.push_back(item.addString("host", p.host).str());
  }
  report.values()
      .addString("label", labelPath)
      .addInt("pool", data.indexCachePoolID)
      .addInt("cache", data.indexCacheID)
      .addInt("marker", data.timeStampMarker)
      .addJson("accessPaths", jsonArray(items));
}

}  // namespace tool
}  // namespace icl
