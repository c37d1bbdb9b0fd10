// version: the tool's version, and the icl library the loader found.

#include <link.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "Commands.h"

namespace icl {
namespace tool {
namespace {

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

int findLibrary(struct dl_phdr_info* info, size_t, void* found) {
  const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
  if (baseName(name).rfind("libicl.so", 0) != 0) return 0;
  *static_cast<std::string*>(found) = name;
  return 1;
}

}  // namespace

void runVersion(const Invocation&, Report& report, LogLines&) {
  report.say("icl " ICL_TOOL_VERSION);
  report.values().addString("tool", ICL_TOOL_VERSION);
  // The loader names the library by the name the tool was linked against,
  // its SONAME; the file that name leads to carries the full version.
  std::string loaded;
  dl_iterate_phdr(findLibrary, &loaded);
  if (loaded.empty()) {
    report.values().addNull("library");
    return;
  }
  std::unique_ptr<char, void (*)(void*)> real(realpath(loaded.c_str(), nullptr), free);
  const std::string file = real ? real.get() : loaded;
  const std::string soname = baseName(loaded);
  const std::string prefix = "libicl.so.";
  const std::string version =
      baseName(file).rfind(prefix, 0) == 0 ? baseName(file).substr(prefix.size()) : "";
  report.say(format("library %s, version %s, %s", soname.c_str(),
                    version.empty() ? "unknown" : version.c_str(), file.c_str()));
  JsonObject library;
  library.addString("soname", soname);
  if (version.empty()) {
    library.addNull("version");
  } else {
    library.addString("version", version);
  }
  report.values().addJson("library", library.addString("file", file).str());
}

}  // namespace tool
}  // namespace icl
