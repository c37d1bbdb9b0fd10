// show: the label's identity as the library reads it, and every access path
// line, which the library never lists (it only looks for its own).

#include <stdint.h>
#include <string.h>

#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "ICLRoutines.h"
#include "LabelBytes.h"
#include "ZUPIFileOpen.h"

namespace icl {
namespace tool {
namespace {

const char* const kAccessPathKey = "USED_BY_ACCESSPATHID:";
const int kLoads = 5;

struct AccessPath {
  std::string idText;  // as normalised: spaces gone, nothing from '#' on
  bool plain;          // the id reads back as printf "%d" writes it
  int32_t id;
  std::string host;  // the text after '#', trimmed
};

std::string trimmed(const char* text) {
  std::string s = text;
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The library only ever matches an id written exactly as "%d" prints it; an
// id written any other way ("012", "+12") is listed but never matched.
std::vector<AccessPath> accessPathLines(ZUPITextFileOpen& reader) {
  std::vector<AccessPath> paths;
  const size_t keyLength = strlen(kAccessPathKey);
  reader.MoveReadPtrToBeginning();
  while (!reader.isEof()) {
    const char* line = reader.readln();
    char normal[1023];
    sanitizeString(normal, line, sizeof normal);
    if (strncmp(normal, kAccessPathKey, keyLength) != 0) continue;
    AccessPath path;
    path.idText = normal + keyLength;
    bool outOfRange = false;
    auto id = parseDecimal(path.idText, std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<int32_t>::max(), outOfRange);
    path.plain = id && std::to_string(*id) == path.idText;
    path.id = path.plain ? static_cast<int32_t>(*id) : 0;
    const char* hash = strchr(line, '#');
    path.host = hash != nullptr ? trimmed(hash + 1) : "";
    paths.push_back(path);
  }
  return paths;
}

}  // namespace

void runShow(const Invocation& inv, Report& report, LogLines&) {
  ICLController controller(inv.host ? inv.host->c_str() : nullptr, inv.dir.c_str());
  if (controller.ReadDataFromICL() != 0) {
    report.fail(controller);
    return;
  }
  ICLData data;
  controller.GetICLData(data);

  const std::string labelPath = labelPathOf(inv.dir);
  ZUPITextFileOpen reader(labelPath.c_str(), nullptr, true);
  for (int load = 1; !reader.isFileOpen() && load < kLoads; ++load) {
    // Another host may have replaced the label since the read above, and
    // this host's name for it may still lead to the old file: both again.
    std::this_thread::sleep_for(std::chrono::milliseconds(10 * load));
    if (controller.ReadDataFromICL() != 0) {
      report.fail(controller);
      return;
    }
    controller.GetICLData(data);
    reader.reloadFile(true);
  }
  if (!reader.isFileOpen()) {
    // Replaced or removed since the read above.
    report.fail(controller, ICL_ERROR_FILE_READ);
    report.say(format("loading it again for its access path lines failed (reader code %d)",
                      reader.getFileIOError()));
    return;
  }
  const std::vector<AccessPath> paths = accessPathLines(reader);

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
