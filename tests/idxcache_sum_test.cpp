// The index cache sum: well-known names, getIndexCacheDiskUsageKB's results
// and log lines. Detailed logging stays off here (the setting is never set
// in this process); the detail cases run in child processes elsewhere.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "FaultInjector.h"
#include "IdxCacheDirInfo.h"
#include "LogCapture.h"
#include "TempDir.h"

namespace icl {
namespace test {
namespace {

const char* const kSum = "getIndexCacheDiskUsageKB";
const char* const kWalk = "getDiskUsage";

void sizedFile(const std::string& path, off_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, size), 0) << path;
  close(fd);
}

std::string finishedLine(const std::string& path, long long kb) {
  return "Finished processing of the path [" + path + "]: returning size [" + std::to_string(kb) +
         "] KB.";
}

std::string noSubDirsLine(const std::string& path) {
  return "Finished processing of the path [" + path +
         "]: there are no well-known sub-directories. Returning size [0] KB.";
}

TEST(IdxCacheDirList, NamesTheSixSubDirectoriesInOrderAndRefusesOtherIndexes) {
  const char* const expected[] = {"ZU_Index",        "ZU_FcsIndex",   "ZU_Opt1",
                                  "ZU_SnapMetadata", "CatalogServer", "ZU_SIDB"};
  for (int i = 0; i < 6; ++i) EXPECT_STREQ(GetIdxCacheDirList(i), expected[i]) << i;
  for (int i : {-1, 6, 7, -2147483647 - 1, 2147483647}) {
    EXPECT_STREQ(GetIdxCacheDirList(i), "sIdxCacheDirList: index out of range") << i;
  }
}

struct SumCase {
  const char* name;
  std::function<void(const std::string& cache)> build;
  bool trailingSlash;
  long long expected;
  // Beyond the final "Finished processing" line; {cache} stands for the path.
  std::vector<LogLine> before;
};

std::string expand(std::string text, const std::string& cache) {
  for (size_t at; (at = text.find("{cache}")) != std::string::npos;) text.replace(at, 7, cache);
  return text;
}

TEST(IndexCacheDiskUsage, WorkedSizesAndEdgeCases) {
  const SumCase cases[] = {
      {"no well-known sub-directory",
       [](const std::string& c) { makeDir(c + "/other"); },
       false,
       0,
       {}},
      {"only ZU_Index with 10 and 2048 bytes: 1 + 3",
       [](const std::string& c) {
         makeDir(c + "/ZU_Index");
         sizedFile(c + "/ZU_Index/a", 10);
         sizedFile(c + "/ZU_Index/b", 2048);
       },
       false,
       4,
       {}},
      {"the same with a trailing slash",
       [](const std::string& c) {
         makeDir(c + "/ZU_Index");
         sizedFile(c + "/ZU_Index/a", 10);
         sizedFile(c + "/ZU_Index/b", 2048);
       },
       true,
       4,
       {}},
      {"0, 1023, 1024, 2048 bytes and nested: 1 + 1 + 2 + 3",
       [](const std::string& c) {
         makeDir(c + "/ZU_SIDB");
         makeDir(c + "/ZU_SIDB/x");
         makeDir(c + "/ZU_SIDB/x/y");
         sizedFile(c + "/ZU_SIDB/zero", 0);
         sizedFile(c + "/ZU_SIDB/x/k1023", 1023);
         sizedFile(c + "/ZU_SIDB/x/y/k1024", 1024);
         makeDir(c + "/CatalogServer");
         sizedFile(c + "/CatalogServer/k2048", 2048);
       },
       false,
       7,
       {}},
      {"two empty files and an empty sub-directory: 2",
       [](const std::string& c) {
         makeDir(c + "/ZU_Opt1");
         sizedFile(c + "/ZU_Opt1/e1", 0);
         sizedFile(c + "/ZU_Opt1/e2", 0);
         makeDir(c + "/ZU_Opt1/empty");
       },
       false,
       2,
       {}},
      {"links, a FIFO and files outside the six add nothing",
       [](const std::string& c) {
         makeDir(c + "/ZU_FcsIndex");
         sizedFile(c + "/big", 50 << 20);
         makeDir(c + "/elsewhere");
         sizedFile(c + "/elsewhere/f", 9000);
         ASSERT_EQ(symlink((c + "/big").c_str(), (c + "/ZU_FcsIndex/tobig").c_str()), 0);
         ASSERT_EQ(symlink((c + "/elsewhere").c_str(), (c + "/ZU_FcsIndex/todir").c_str()), 0);
         ASSERT_EQ(symlink("missing", (c + "/ZU_FcsIndex/dangling").c_str()), 0);
         ASSERT_EQ(mkfifo((c + "/ZU_FcsIndex/fifo").c_str(), 0644), 0);
         sizedFile(c + "/ZU_FcsIndex/one", 1);
       },
       false,
       1,
       {}},
      {"a well-known name that is a link to a directory is followed",
       [](const std::string& c) {
         makeDir(c + "/real");
         sizedFile(c + "/real/f", 3000);
         ASSERT_EQ(symlink((c + "/real").c_str(), (c + "/ZU_SnapMetadata").c_str()), 0);
       },
       false,
       3,
       {}},
      {"a well-known name that is a file is found but fails to open",
       [](const std::string& c) {
         sizedFile(c + "/ZU_Opt1", 5000);
         makeDir(c + "/ZU_Index");
         sizedFile(c + "/ZU_Index/f", 100);
       },
       false,
       1,
       {errorLine(kWalk, "Find first file returned an invalid handle for path [{cache}/ZU_Opt1]")}},
      {"all six summed",
       [](const std::string& c) {
         for (int i = 0; i < 6; ++i) {
           std::string sub = c + "/" + GetIdxCacheDirList(i);
           makeDir(sub);
           sizedFile(sub + "/f", static_cast<off_t>(i) * 1024);  // 1 + 2 + ... + 6
         }
       },
       false,
       21,
       {}},
  };
  for (const SumCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string cache = dir.file("cache");
    makeDir(cache);
    c.build(cache);
    const std::string asGiven = c.trailingSlash ? cache + "/" : cache;
    LogCapture log;
    EXPECT_EQ(getIndexCacheDiskUsageKB(asGiven.c_str()), c.expected);
    std::vector<LogLine> expected;
    for (const LogLine& line : c.before) {
      expected.push_back(LogLine{line.level, line.function, expand(line.message, cache)});
    }
    bool none = std::string(c.name) == "no well-known sub-directory";
    expected.push_back(
        debugLine(kSum, none ? noSubDirsLine(asGiven) : finishedLine(asGiven, c.expected)));
    EXPECT_EQ(log.lines(), expected);
  }
}

TEST(IndexCacheDiskUsage, ALocationWrittenWithBackslashesIsMeasuredWhereItWasFound) {
  TempDir dir;
  makeDir(dir.file("ZU_Index"));
  sizedFile(dir.file("ZU_Index/f"), 2048);
  std::string backslashed = dir.path();
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  LogCapture log;
  EXPECT_EQ(getIndexCacheDiskUsageKB(backslashed.c_str()), 3);
  EXPECT_EQ(log.lines(), std::vector<LogLine>{debugLine(kSum, finishedLine(backslashed, 3))});
}

TEST(IndexCacheDiskUsage, AMissingEmptyNullOrOverLongLocationIsMinusOneWithItsLines) {
  TempDir dir;
  const std::string missing = dir.file("missing");
  const std::string file = dir.file("file");
  writeFile(file, "x");
  const std::string overLong = dir.path() + "/" + std::string(300, 'n');

  struct Case {
    const char* name;
    const char* path;
    std::vector<LogLine> lines;
  };
  const Case cases[] = {
      {"missing",
       missing.c_str(),
       {debugLine("ICLController::DoesPathExist",
                  "Path - [" + missing + "]: [No such file or directory]"),
        debugLine(kSum, "Path [" + missing + "] does not exist")}},
      {"a regular file",
       file.c_str(),
       {debugLine("ICLController::DoesPathExist", "Path - [" + file + "] Not Found"),
        debugLine(kSum, "Path [" + file + "] does not exist")}},
      {"empty",
       "",
       {errorLine("ICLController::DoesPathExist",
                  "Received an empty path string as an iclLocation."),
        debugLine(kSum, "Path [] does not exist: check failure")}},
      {"null",
       nullptr,
       {errorLine("ICLController::ICLController",
                  "Index cache location is null; it is treated as empty."),
        errorLine("ICLController::DoesPathExist",
                  "Received an empty path string as an iclLocation."),
        debugLine(kSum, "Path [NULL] does not exist: check failure")}},
      {"longer than 255 characters",
       overLong.c_str(),
       {errorLine("ICLController::ICLController",
                  "Index cache location is longer than 255 characters; it is treated as empty."),
        errorLine("ICLController::DoesPathExist",
                  "Received an empty path string as an iclLocation."),
        debugLine(kSum, "Path [" + overLong + "] does not exist: check failure")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    FaultInjector calls;
    EXPECT_EQ(getIndexCacheDiskUsageKB(c.path), -1);
    EXPECT_EQ(log.lines(), c.lines);
    EXPECT_EQ(calls.calls(SysOp::Access), 0) << "no sub-directory is looked for";
    EXPECT_EQ(calls.calls(SysOp::Openat), 0);
  }
}

TEST(IndexCacheDiskUsage, AFailedSubDirectoryAddsNothingAndTheOthersStillCount) {
  TempDir dir;
  const std::string cache = dir.file("cache");
  makeDir(cache);
  makeDir(cache + "/ZU_Index");
  sizedFile(cache + "/ZU_Index/f", 4096);  // 5, lost below
  makeDir(cache + "/ZU_FcsIndex");
  sizedFile(cache + "/ZU_FcsIndex/f", 1);  // 1
  makeDir(cache + "/ZU_SIDB");             // empty: 0

  LogCapture log;
  FaultInjector faults;
  faults.failNth(1, EACCES, false, {SysOp::Openat});  // ZU_Index's own open
  EXPECT_EQ(getIndexCacheDiskUsageKB(cache.c_str()), 1);
  EXPECT_EQ(log.lines(),
            (std::vector<LogLine>{
                errorLine(kWalk, "Find first file returned an invalid handle for path [" + cache +
                                     "/ZU_Index]"),
                debugLine(kSum, finishedLine(cache, 1))}));
  EXPECT_EQ(faults.calls(SysOp::Access), 6) << "each name is looked for once, with access()";
  EXPECT_EQ(faults.calls(SysOp::Openat), faults.calls(SysOp::Close) + 1)
      << "every directory opened is closed (the failed open needs no close)";
}

}  // namespace
}  // namespace test
}  // namespace icl
