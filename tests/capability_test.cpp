// The directory capability test (canFilesBeCreatedInDirectory): what it
// answers, the lines that report a failing step, what it leaves behind, and
// that it never acts on a file it did not write itself.

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "FaultInjector.h"
#include "ICLRoutines.h"
#include "LogCapture.h"
#include "TempDir.h"

namespace icl::test {
namespace {

using Lines = std::vector<std::string>;
const std::string kSentence = "This is a write test to see if the index cache directory is valid.\n";

// The answer, the error code and every log line.
std::string probe(const std::string& location) {
  LogCapture log;
  ICLController controller("hostA", location.c_str());
  const int rc = controller.canFilesBeCreatedInDirectory();
  std::string out = std::to_string(rc) + " " + std::to_string(controller.GetICLError());
  for (const std::string& line : log.lines()) out += " | " + line;
  return out;
}

TEST(CapabilityTest, PassesAndLeavesTheDirectoryAsItWas) {
  TempDir dir;
  std::string backslashed = dir.file("new/deeper");
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  makeDir(dir.file("labelled"));
  writeFile(dir.file("labelled/icl_label.txt"), "INDEXCACHEPOOLID = 3\n");
  makeDir(dir.file("leftover"));
  writeFile(dir.file("leftover/test_rdwrite.txt"), "an earlier, longer scratch text\n" + kSentence);
  for (const std::string& location : {dir.path() + "/", backslashed, dir.file("labelled"), dir.file("leftover")}) {
    EXPECT_EQ(probe(location).substr(0, 3), "0 0") << location;
  }
  Lines left;  // without any scratch file
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) left.push_back(entry.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (Lines{dir.file("labelled"), dir.file("labelled/icl_label.txt"), dir.file("leftover"),
                         dir.file("new"), dir.file("new/deeper")}));
  EXPECT_EQ(readFile(dir.file("labelled/icl_label.txt")), "INDEXCACHEPOOLID = 3\n");
}

TEST(CapabilityTest, EachFailingStepHasItsCodeAndLines) {
  TempDir dir;
  ASSERT_EQ(chdir(dir.path().c_str()), 0);  // where a relative path would be made
  writeFile(dir.file("plain"), "x");
  const std::string scratch = dir.file("test_rdwrite.txt"), label = dir.file("icl_label.txt");
  std::vector<SysOp> trace;
  {
    FaultInjector clean;
    ASSERT_EQ(probe(dir.path()).substr(0, 3), "0 0");
    trace = clean.trace();
  }
  auto before = [&trace](SysOp op, SysOp anchor) {
    return std::count(trace.begin(), std::find(trace.begin(), trace.end(), anchor), op);
  };
  const std::string d = "D ICLController::canFilesBeCreatedInDirectory: ", e = "E" + d.substr(1);
  const std::string notOpened = e + "fopen() failed to open the file for writing. [" + scratch +
                                "] Index cache label could not be written.";
  const std::string missingLabel = "D ZUPITextFileOpen::reloadFile: File [" + label + "] does not exist.";
  const std::string chown = "returned by stat while checking for file chown capabilities.";
  auto failed = [&](const std::string& step, const std::string& why) {
    return " | " + e + "Test file [" + scratch + "]: " + step + " failed: [" + why + "]";
  };
  const struct {
    std::string location;  // "": the directory
    SysOp op;              // Ftruncate with nth 0: none
    long nth;
    int err;
    std::string report;  // the answer, the error code, the lines
  } cases[] = {
      {"rel/x", SysOp::Ftruncate, 0, 0,
       "-1 3 | D ICLController::DoesPathExist: Path - [rel/x]: [No such file or directory] | E fixPath: Path [rel/x] must be "
       "absolute | E ICLController::CreateDirRecursive: The destination path must start from slash. | " + e +
           "Could not create directory: [rel/x]"},
      {dir.file("made/./here"), SysOp::Mkdir, 1, EACCES,
       "-1 3 | D ICLController::DoesPathExist: Path - [" + dir.file("made/./here") + "]: [No such file or directory] | "
       "D ICLController::CreateDirRecursive: Creating directory [" + dir.file("made") + "] | E ICLController::"
       "CreateDirRecursive: Failed to create directory [" + dir.file("made") + "]:\n[Permission denied] | " + e +
           "Could not create directory: [" + dir.file("made/here") + "]"},
      {dir.file("plain"), SysOp::Ftruncate, 0, 0,
       "-1 10 | D ICLController::DoesPathExist: Path - [" + dir.file("plain") + "] Not Found | " + e + "fopen() failed "
       "to open the file for writing. [" + dir.file("plain/test_rdwrite.txt") + "] Index cache label could not be written. | " + e +
           "Test file [" + dir.file("plain/test_rdwrite.txt") + "]: creating failed: [Not a directory]"},
      {"", SysOp::Open, 1, EACCES, "-1 10 | " + notOpened + failed("creating", "Permission denied")},
      {"", SysOp::Fstat, 1, EIO, "-1 10 | " + notOpened + failed("examining", "Input/output error")},
      {"", SysOp::Ftruncate, 1, EIO, "-1 10 | " + notOpened + failed("emptying", "Input/output error")},
      {"", SysOp::Write, 1, ENOSPC, "-1 10 | " + d + "fopen failed to open the file for writing. [" + scratch +
                                        "] Index cache label could not be written." + failed("writing", "No space left on device")},
      {"", SysOp::Close, 1, EIO, "-1 10 | " + d + "fopen failed to open the file for writing. [" + scratch +
                                     "] Index cache label could not be written." + failed("closing", "Input/output error")},
      {"", SysOp::Open, before(SysOp::Open, SysOp::FcntlLock) - 1, EACCES,
       "-1 10 | E ZUPITextFileOpen::reloadFile: fopen() failed to open the file [" + scratch + "]. | E ZUPITextFileOpen::"
       "reloadFile: Could not load the file [" + scratch + "]: open() failed: [Permission denied] | " + e +
           "fopen() failed to open the test file for reading. [" + scratch + "] Index cache label could not be written."},
      {"", SysOp::Open, before(SysOp::Open, SysOp::FcntlLock), EACCES,
       "-1 10 | " + d + "open failed to open the test file for read/write to do the file lock test. File [" + scratch +
           "] "},
      {"", SysOp::FcntlLock, 1, EINVAL, "-1 13 | " + e + "fcntl() failed to establish a file lock - file locks are not "
                                        "supported in the path specified for the index cache."},
      {"", SysOp::FcntlLock, 1, EINTR, "-1 12 | " + e + "fcntl ()failed to establish a file lock. File [" + scratch + "]"},
      {"", SysOp::FcntlLock, 1, ENOLCK,
       "-1 12 | " + e + "Unknown fcntl error [37] returned while checking for file locking capabilities."},
      {"", SysOp::FcntlLock, 2, EBADF, "0 0 | " + d + "fcntl failed to release a file lock | " + missingLabel},
      {"", SysOp::Fstat, before(SysOp::Fstat, SysOp::Fchown), ENOENT,
       "-1 15 | " + e + "File " + scratch + " does not exist | " + e + "Error [2] " + chown},
      {"", SysOp::Fstat, before(SysOp::Fstat, SysOp::Fchown), EIO,
       "-1 15 | " + e + "stat() for " + scratch + " failed | " + e + "Error [5] " + chown},
      {"", SysOp::Fchown, 1, EPERM,
       "-1 15 | " + e + "Error [1] returned while checking for file chown capabilities by stetting GUID [" +
           std::to_string(getegid()) + "] and UID [" + std::to_string(geteuid()) + "] for [" + scratch + "]."},
      {"", SysOp::Fchmod, 1, EPERM, "-1 14 | " + e + "Error [1] returned while checking for file chmod capabilities."},
      {"", SysOp::Unlink, 1, EBUSY, "0 0 | " + d + "Failed to remove [" + scratch + "], errno [16] | " + missingLabel},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(scratch);
    FaultInjector faults;
    faults.failNth(c.nth, c.err, c.op == SysOp::Mkdir, {c.op});
    const std::string report = probe(c.location.empty() ? dir.path() : c.location);
    EXPECT_EQ(report, c.report) << sysOpName(c.op) << " #" << c.nth;
    EXPECT_EQ(fileExists(scratch), c.op == SysOp::Unlink) << "a failed check removes its scratch file";
  }
  struct stat st;  // only the removal was refused: the scratch file got its new mode
  EXPECT_EQ(stat(scratch.c_str(), &st) == 0 ? st.st_mode & 07777 : 0, 0777u);
  EXPECT_EQ(probe(""), "-1 4 | E ICLController::DoesPathExist: Received an empty path string as an iclLocation. | " + e +
                           "Failed to determine if path exists.");
}

TEST(CapabilityTest, NeverActsOnAFileItDidNotWrite) {
  for (int plant = 0; plant < 4; ++plant) {
    TempDir dir;
    const std::string scratch = dir.file("test_rdwrite.txt"), victim = dir.file("victim");
    writeFile(victim, "precious\n", 0640);
    ASSERT_EQ(plant == 0   ? symlink(victim.c_str(), scratch.c_str())
              : plant == 1 ? link(victim.c_str(), scratch.c_str())
              : plant == 2 ? symlink(dir.file("never").c_str(), scratch.c_str())
                           : mkfifo(scratch.c_str(), 0666), 0);
    struct stat before, after;
    ASSERT_EQ(lstat(scratch.c_str(), &before), 0);
    EXPECT_EQ(probe(dir.path()).substr(0, 6), "-1 10 ") << plant;
    ASSERT_EQ(lstat(scratch.c_str(), &after), 0);
    EXPECT_EQ(std::to_string(after.st_mode) + readFile(victim), std::to_string(before.st_mode) + "precious\n");
    EXPECT_FALSE(fileExists(dir.file("never")));
  }
  TempDir dir;  // an existing label that cannot be opened for update
  makeDir(dir.file("icl_label.txt"));
  EXPECT_EQ(probe(dir.path()), "-1 10 | E ZUPITextFileOpen::reloadFile: File [" + dir.file("icl_label.txt") +
                                   "] is not a regular file. | D ICLController::canFilesBeCreatedInDirectory: fopen "
                                   "failed to open the existing ICL file for writing. ICL file: [" +
                                   dir.file("icl_label.txt") + "] ");
}

}  // namespace
}  // namespace icl::test
