// fixPath and CreateDirRecursive.

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FaultInjector.h"
#include "ICLRoutines.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "sys/SysCalls.h"

namespace icl {
namespace test {
namespace {

const char* const kFix = "fixPath";
const char* const kCreate = "ICLController::CreateDirRecursive";
const int kNotAbsolute = 0x23000180;

// The temporary directory without links or doubled slashes, as the
// canonical form of a path under it must begin.
std::string realBase(const TempDir& dir) {
  char resolved[PATH_MAX];
  if (realpath(dir.path().c_str(), resolved) == nullptr) return dir.path();
  return resolved;
}

bool isDir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string withBackslashes(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// A writable copy of `text` followed by guard bytes that must stay intact.
struct Buffer {
  explicit Buffer(const std::string& text, size_t room = 0) : bytes(text.begin(), text.end()) {
    bytes.push_back('\0');
    bytes.resize(std::max(bytes.size(), room), '\0');
    used = bytes.size();
    bytes.resize(used + 8, '~');
  }
  char* data() { return bytes.data(); }
  std::string text() const { return std::string(bytes.data()); }
  bool guardIntact() const {
    for (size_t i = used; i < bytes.size(); ++i) {
      if (bytes[i] != '~') return false;
    }
    return true;
  }
  std::vector<char> bytes;
  size_t used;
};

struct SeamRestore {
  ~SeamRestore() { sys::calls() = sys::realCalls(); }
};

struct FixCase {
  std::string input;
  std::string expected;
  int returned;
};

TEST(FixPath, PutsAbsolutePathsInCanonicalFormAndRefusesOthersUnchanged) {
  const FixCase cases[] = {
      {"/a//b/", "/a/b/", 0},
      {"\\srv\\ic\\cache1", "/srv/ic/cache1", 0},
      {"/a/./b/../c", "/a/c", 0},
      {"/a/../../b", "/b", 0},
      {"/../x", "/x", 0},
      {"/a/..", "/a/..", 0},
      {"/a/.", "/a/.", 0},
      {"/", "/", 0},
      {"//", "/", 0},
      {"\\", "/", 0},
      {"a/b", "a/b", kNotAbsolute},
      {"", "", kNotAbsolute},
      // What follows from the same steps.
      {"/a///", "/a/", 0},
      {"\\\\server\\share\\", "/server/share/", 0},
      {"/.x/..x/.../", "/.x/..x/.../", 0},
      {"/a/b/./\\./c", "/a/b/c", 0},
      {"/a/./", "/a/", 0},
      {"/./", "/", 0},
      {"/a/b/../../..", "/..", 0},
      {"/..\\..\\x", "/x", 0},
      {"/a\\..x", "/a/..x", 0},
      {"./a", "./a", kNotAbsolute},
      {"C:\\idx", "C:\\idx", kNotAbsolute},
  };
  for (const FixCase& c : cases) {
    SCOPED_TRACE("input [" + c.input + "]");
    LogCapture log;
    ICLController ctl("hostA", "/");
    Buffer buffer(c.input);
    EXPECT_EQ(ctl.fixPath(buffer.data()), c.returned);
    EXPECT_EQ(buffer.text(), c.expected);
    EXPECT_TRUE(buffer.guardIntact()) << "wrote past the caller's buffer";
    std::vector<LogLine> expectedLog;
    if (c.returned != 0) {
      expectedLog.push_back(errorLine(kFix, "Path [" + c.input + "] must be absolute"));
    }
    EXPECT_EQ(log.lines(), expectedLog);
  }

  LogCapture log;
  ICLController ctl("hostA", "/");
  EXPECT_EQ(ctl.fixPath(nullptr), kNotAbsolute);
  EXPECT_EQ(log.lines(), std::vector<LogLine>{errorLine(kFix, "Path [(null)] must be absolute")});
}

struct ChainCase {
  const char* name;
  std::string input;
  std::string canonical;
  std::vector<std::string> created;  // in the order they must be logged
};

TEST(CreateDirRecursive, CreatesMissingParentsFirstAndLeavesTheCanonicalForm) {
  TempDir dir;
  const std::string base = realBase(dir);
  writeFile(base + "/file", "x");
  const ChainCase cases[] = {
      {"two missing levels", base + "/x/y", base + "/x/y", {base + "/x", base + "/x/y"}},
      {"backslashes, dots and doubled separators", withBackslashes(base) + "\\bs\\.\\p\\\\q",
       base + "/bs/p/q",
       {base + "/bs", base + "/bs/p", base + "/bs/p/q"}},
      {"trailing slash", base + "/t/u/", base + "/t/u/", {base + "/t", base + "/t/u"}},
      {"everything exists", base + "/x/y", base + "/x/y", {}},
      {"last prefix is a regular file", base + "/file", base + "/file", {}},
      {"the root", "/", "/", {}},
  };
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ICLController ctl("hostA", "/");
    Buffer buffer(c.input);
    EXPECT_EQ(ctl.CreateDirRecursive(buffer.data()), 0);
    EXPECT_EQ(buffer.text(), c.canonical);
    EXPECT_TRUE(buffer.guardIntact());
    std::vector<LogLine> expected;
    for (const std::string& d : c.created) {
      expected.push_back(debugLine(kCreate, "Creating directory [" + d + "]"));
      EXPECT_TRUE(isDir(d)) << d;
    }
    EXPECT_EQ(log.lines(), expected);
  }
}

struct RefusalCase {
  const char* name;
  const char* input;  // may be null
  std::vector<LogLine> lines;
};

TEST(CreateDirRecursive, RefusesNullEmptyAndRelativePathsCreatingNothing) {
  const char* const relative = "icl-dirprobe-relative/a";
  const RefusalCase cases[] = {
      {"null", nullptr, {errorLine(kCreate, "The directory path is empty.")}},
      {"empty",
       "",
       {errorLine(kFix, "Path [] must be absolute"),
        errorLine(kCreate, "The destination path must start from slash.")}},
      {"relative",
       relative,
       {errorLine(kFix, std::string("Path [") + relative + "] must be absolute"),
        errorLine(kCreate, "The destination path must start from slash.")}},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ICLController ctl("hostA", "/");
    if (c.input == nullptr) {
      EXPECT_EQ(ctl.CreateDirRecursive(nullptr), -1);
    } else {
      Buffer buffer(c.input);
      EXPECT_EQ(ctl.CreateDirRecursive(buffer.data()), -1);
      EXPECT_EQ(buffer.text(), c.input);
    }
    EXPECT_EQ(log.lines(), c.lines);
  }
  EXPECT_FALSE(fileExists("icl-dirprobe-relative"));
}

TEST(CreateDirRecursive, StopsWithTheErrnoTextWhereAPrefixCannotBeExaminedOrCreated) {
  TempDir dir;
  const std::string base = realBase(dir);
  writeFile(base + "/file", "x");
  {
    SCOPED_TRACE("a path through a regular file");
    LogCapture log;
    ICLController ctl("hostA", "/");
    Buffer buffer(base + "/file/sub/deeper");
    EXPECT_EQ(ctl.CreateDirRecursive(buffer.data()), -1);
    EXPECT_EQ(log.lines(), std::vector<LogLine>{errorLine(
                               kCreate, "Failed to stat directory [" + base +
                                            "/file/sub]:\n[Not a directory]")});
    EXPECT_EQ(readFile(base + "/file"), "x");
  }
  {
    SCOPED_TRACE("mkdir refused at the second level; the first stays");
    FaultInjector faults;
    faults.failNth(2, EACCES, false, {SysOp::Mkdir});
    LogCapture log;
    ICLController ctl("hostA", "/");
    Buffer buffer(base + "/m/n/o");
    EXPECT_EQ(ctl.CreateDirRecursive(buffer.data()), -1);
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  debugLine(kCreate, "Creating directory [" + base + "/m]"),
                  debugLine(kCreate, "Creating directory [" + base + "/m/n]"),
                  errorLine(kCreate, "Failed to create directory [" + base +
                                         "/m/n]:\n[Permission denied]")}));
    EXPECT_TRUE(isDir(base + "/m"));
    EXPECT_FALSE(fileExists(base + "/m/n"));
  }
  {
    SCOPED_TRACE("stat fails with another errno than ENOENT");
    // One stat per prefix of the base, then the first new one.
    long prefixes = static_cast<long>(std::count(base.begin(), base.end(), '/'));
    FaultInjector faults;
    faults.failNth(prefixes + 1, EIO, false, {SysOp::Stat});
    LogCapture log;
    ICLController ctl("hostA", "/");
    Buffer buffer(base + "/s/t");
    EXPECT_EQ(ctl.CreateDirRecursive(buffer.data()), -1);
    EXPECT_EQ(log.lines(), std::vector<LogLine>{errorLine(
                               kCreate, "Failed to stat directory [" + base +
                                            "/s]:\n[Input/output error]")});
    EXPECT_EQ(faults.calls(SysOp::Mkdir), 0);
  }
}

// Stands in for another process that creates the same name between our
// stat and our mkdir.
std::string gRivalMakes;
int mkdirAfterRival(const char* path, mode_t mode) {
  if (gRivalMakes == "directory") {
    sys::realCalls().mkdir(path, 0755);
  } else {
    writeFile(path, "");
  }
  return sys::realCalls().mkdir(path, mode);
}

TEST(CreateDirRecursive, ADirectoryCreatedMeanwhileByAnotherProcessCountsAsCreated) {
  TempDir dir;
  const std::string base = realBase(dir);
  SeamRestore restore;
  sys::calls().mkdir = mkdirAfterRival;
  {
    gRivalMakes = "directory";
    LogCapture log;
    ICLController ctl("hostA", "/");
    Buffer buffer(base + "/r/s");
    EXPECT_EQ(ctl.CreateDirRecursive(buffer.data()), 0);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{
                               debugLine(kCreate, "Creating directory [" + base + "/r]"),
                               debugLine(kCreate, "Creating directory [" + base + "/r/s]")}));
    EXPECT_TRUE(isDir(base + "/r/s"));
  }
  {
    gRivalMakes = "file";
    LogCapture log;
    ICLController ctl("hostA", "/");
    Buffer buffer(base + "/f/g");
    EXPECT_EQ(ctl.CreateDirRecursive(buffer.data()), -1);
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  debugLine(kCreate, "Creating directory [" + base + "/f]"),
                  errorLine(kCreate, "Failed to create directory [" + base +
                                         "/f]:\n[File exists]")}));
  }
}

TEST(CreateDirRecursive, ProcessesCreatingOverlappingChainsAtOnceAllSucceed) {
  TempDir dir;
  const std::string base = realBase(dir);
  const int kRounds = 30;
  const int kChildren = 4;
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const std::string shared = base + "/r" + std::to_string(round) + "/a/b/c/d";
    std::vector<pid_t> children;
    for (int i = 0; i < kChildren; ++i) {
      // Half of them ask for the very same chain, the others for a sibling.
      const std::string target = shared + "/leaf" + std::to_string(i % 2);
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        close(gate[1]);
        char byte;
        while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ICLController ctl("hostA", "/");
        std::vector<char> buffer(target.begin(), target.end());
        buffer.push_back('\0');
        int rc = ctl.CreateDirRecursive(buffer.data());
        _exit(rc == 0 && isDir(target) ? 0 : 1);
      }
      children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);  // releases every child at once
    for (pid_t pid : children) {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
    }
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace test
}  // namespace icl
