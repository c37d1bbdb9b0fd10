// test-dir: the capability test of a directory.

#include <stdio.h>
#include <string.h>
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

// A step of the capability test, known by the words of the Error line the
// library writes when it fails; `reason` where that line gives none of its
// own in "failed: [reason]" or "Error [errno]".
struct TestStep {
  const char* words;
  const char* step;
  const char* reason;
};

// In the order they are tried on a line.
const TestStep kTestSteps[] = {
    {"could not be examined: stat() failed: [", "examining the label", nullptr},
    {"could not be opened for update: ", "opening the label for update", nullptr},
    {"] is not a regular file.", "opening the label for update", "it is not a regular file"},
    {"] bytes a label may hold", "opening the label for update",
     "it is larger than a label may be"},
    {"]: mkdir() failed: [", "creating the directory", nullptr},
    {"]: stat() failed: [", "examining the directories on its path", nullptr},
    {"Could not create directory: [", "creating the directory", nullptr},
    {"]: creating failed: [", "creating a test file", nullptr},
    {"]: examining failed: [", "examining the test file", nullptr},
    {"]: writing failed: [", "writing the test file", nullptr},
    {"]: closing failed: [", "closing the test file", nullptr},
    {"failed to open the test file for reading.", "reading the test file back", nullptr},
    {"] does not read back as it was written.", "reading the test file back",
     "it does not read back as it was written"},
    {"]: opening for reading and writing failed: [",
     "opening the test file for reading and writing", nullptr},
    {"] is no longer the file this check created.", "opening the test file for reading and writing",
     "another file took its place"},
    {"]: locking failed: [", "locking the test file", nullptr},
    {"returned by stat while checking for file chown", "examining the test file", nullptr},
    {"while checking for file chown capabilities", "giving the test file its owner again", nullptr},
    {"while checking for file chmod capabilities", "changing the test file's permissions", nullptr},
    {"]: removing failed: [", "removing the test file", nullptr},
};

// The reason a line gives: "... failed: [reason]", or "Error [errno] ...".
std::string reasonOf(const std::string& message) {
  std::string reason = loggedReason(message);
  int err = 0;
  if (reason.empty() && sscanf(message.c_str(), "Error [%d]", &err) == 1) reason = strerror(err);
  return reason;
}

// "<step> failed: <reason>" for the step the test's last Error line names,
// the reason from that line or, where it gives none, from a line before it
// (the reader's, for the read back); empty when no line names a step.
std::string failedStep(const LogLines& log) {
  std::string step, reason;
  for (const LogLine& line : log.errors()) {
    const std::string said = reasonOf(line.message);
    if (line.function == "ICLController::canFilesBeCreatedInDirectory") {
      for (const TestStep& s : kTestSteps) {
        if (line.message.find(s.words) == std::string::npos) continue;
        step = s.step;
        if (s.reason != nullptr) reason = s.reason;
        break;
      }
    }
    if (!said.empty()) reason = said;
  }
  if (step.empty()) return "";
  return step + " failed" + (reason.empty() ? "" : ": " + reason);
}

}  // namespace

void runTestDir(const Invocation& inv, Report& report, LogLines& log) {
  const std::string dir = absolute(inv.dir);
  const bool existed = isDirectory(dir);
  ICLController controller(inv.host ? inv.host->c_str() : nullptr, dir.c_str());
  if (controller.canFilesBeCreatedInDirectory() != 0) {
    report.fail(controller, controller.GetICLError(), failedStep(log));
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
