// test-dir: the capability test of a directory.

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "Commands.h"
#include "ICLRoutines.h"

namespace icl {
namespace tool {
namespace {

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The library creates only absolute directories: a relative one is taken
// from the current directory here, as a shell user means it.
std::string absolute(const std::string& dir) {
  const std::string path = convertSlashes(dir.c_str());
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  if (path[0] == '/' || error) return path;  // without a cwd the library says what is wrong
  return (cwd / path).string();
}

}  // namespace

void runTestDir(const Invocation& inv, Report& report, LogLines&) {
  const std::string dir = absolute(inv.dir);
  const bool existed = isDirectory(dir);
  ICLController controller(inv.host ? inv.host->c_str() : nullptr, dir.c_str());
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

}  // namespace tool
}  // namespace icl
