// The whole-file text reader and sanitizeString.

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FaultInjector.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "ZUPIFileOpen.h"
#include "sys/SysCalls.h"

namespace icl {
namespace test {
namespace {

const char* const kLoad = "ZUPITextFileOpen::reloadFile";

std::vector<std::string> readAllLines(ZUPITextFileOpen& reader) {
  std::vector<std::string> lines;
  while (!reader.isEof()) lines.emplace_back(reader.readln());
  return lines;
}

struct SplitCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(TextFileReader, SplitsLinesOnRunsOfCrLfAndNulTheSameOnEveryPass) {
  const SplitCase cases[] = {
      {"crlf and blank lines", "A\r\n\r\nB\n", {"A", "B", ""}},
      {"leading terminators and lone CRs", "\n\nA\r\rB", {"A", "B"}},
      {"unterminated last line", "X\nY", {"X", "Y"}},
      {"NUL inside the data", std::string("A\0\0B\r", 5), {"A", "B", ""}},
      {"only terminators", "\r\n\r\n", {""}},
      {"tabs and spaces stay", " a\tb \n", {" a\tb ", ""}},
      {"empty file", "", {}},
  };
  TempDir dir;
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir.file("f.txt"), c.bytes);
    ZUPITextFileOpen reader(dir.file("f.txt").c_str(), nullptr, true);
    ASSERT_TRUE(reader.isFileOpen());
    EXPECT_EQ(reader.getFileIOError(), 0);
    EXPECT_EQ(readAllLines(reader), c.lines);
    EXPECT_TRUE(reader.isEof());
    EXPECT_STREQ(reader.readln(), "");
    reader.MoveReadPtrToBeginning();
    EXPECT_EQ(readAllLines(reader), c.lines) << "second pass";
  }
}

TEST(TextFileReader, GetchReadsBytesAndSeesTheCutsOfAnEarlierPass) {
  TempDir dir;
  writeFile(dir.file("f.txt"), "A\nB");
  ZUPITextFileOpen reader(dir.file("f.txt").c_str(), nullptr, true);
  EXPECT_EQ(reader.getch(), 'A');
  EXPECT_EQ(reader.getch(), '\n');
  EXPECT_EQ(reader.getch(), 'B');
  EXPECT_TRUE(reader.isEof());
  EXPECT_EQ(reader.getch(), 0);
  EXPECT_TRUE(reader.isEof());

  reader.MoveReadPtrToBeginning();
  EXPECT_STREQ(reader.readln(), "A");
  reader.MoveReadPtrToBeginning();
  EXPECT_EQ(reader.getch(), 'A');
  EXPECT_EQ(reader.getch(), '\0') << "the terminator was overwritten by readln";
}

struct CommentCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> calls;  // what successive readNonCommentLine calls return
};

TEST(TextFileReader, ReadNonCommentLineSkipsCommentsOnlyAfterSpaces) {
  const CommentCase cases[] = {
      {"comments before a key", "# head\n   # note\nKEY=1\n", {"KEY=1", ""}},
      {"terminated trailing comment", "KEY=1\n# tail\n", {"KEY=1", ""}},
      {"unterminated trailing comment", "KEY=1\n# tail", {"KEY=1", "# tail"}},
      {"tab before '#'", "\t# x\n", {"\t# x", ""}},
      {"'#' after text", "a # b\n", {"a # b", ""}},
      {"spaces only", "   \n", {"   ", ""}},
  };
  TempDir dir;
  for (const CommentCase& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir.file("f.txt"), c.bytes);
    ZUPITextFileOpen reader(dir.file("f.txt").c_str(), nullptr, true);
    ASSERT_TRUE(reader.isFileOpen());
    std::vector<std::string> got;
    for (size_t i = 0; i < c.calls.size(); ++i) got.emplace_back(reader.readNonCommentLine());
    EXPECT_EQ(got, c.calls);
    EXPECT_TRUE(reader.isEof());
    EXPECT_STREQ(reader.readNonCommentLine(), "");
  }
}

struct SanitizeCase {
  const char* name;
  std::string src;
  int size;
  std::string expected;
};

TEST(SanitizeString, DropsSpacesAndCommentsAndUpperCasesWithinTheLimits) {
  const std::string longLine(1500, 'a');
  const SanitizeCase cases[] = {
      {"key with comment", "  IndexCachePoolId = 12   # pool", 1023, "INDEXCACHEPOOLID=12"},
      {"access path line", "USED_BY_ACCESSPATHID: 7 #any text", 1023, "USED_BY_ACCESSPATHID:7"},
      {"only a comment", "# only a comment", 1023, ""},
      {"spaces inside numbers", "Index Cache Pool Id = 1 2 # note", 1023, "INDEXCACHEPOOLID=12"},
      {"tab stays", "INDEXCACHEID\t= 7", 1023, "INDEXCACHEID\t=7"},
      {"non-letters unchanged", "a-b_c:1.2", 1023, "A-B_C:1.2"},
      {"high bytes pass", "\xe9t\xe9", 1023, "\xe9T\xe9"},
      {"cut at destination size", "abcdef", 4, "ABC"},
      {"size one gives empty", "abc", 1, ""},
      {"long line gives size-1", longLine, 1023, std::string(1022, 'A')},
      {"only 1023 source chars looked at", std::string(1023, ' ') + "X", 2048, ""},
      {"source chars counted before spaces drop", std::string(1022, ' ') + "XY", 2048, "X"},
  };
  for (const SanitizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> dest(static_cast<size_t>(c.size) + 8, '~');
    sanitizeString(dest.data(), c.src.c_str(), c.size);
    EXPECT_EQ(std::string(dest.data()), c.expected);
    for (size_t i = static_cast<size_t>(c.size); i < dest.size(); ++i) {
      ASSERT_EQ(dest[i], '~') << "wrote past the destination size at " << i;
    }
  }
}

TEST(SanitizeString, NullArgumentsAreHarmless) {
  char dest[4] = "xyz";
  sanitizeString(dest, nullptr, 4);
  EXPECT_STREQ(dest, "");
  char untouched[4] = "xyz";
  sanitizeString(untouched, "abc", 0);
  EXPECT_STREQ(untouched, "xyz");
  sanitizeString(nullptr, "abc", 4);  // must not crash
}

TEST(TextFileReader, SizeLimitIs65000BytesAndSetMaxFileSizeTakesEffectOnReload) {
  TempDir dir;
  writeFile(dir.file("exact"), std::string(65000, 'x'));
  writeFile(dir.file("over"), std::string(65001, 'x'));
  {
    ZUPITextFileOpen reader(dir.file("exact").c_str(), nullptr, true);
    EXPECT_TRUE(reader.isFileOpen());
    EXPECT_EQ(reader.getFileIOError(), 0);
    EXPECT_EQ(std::string(reader.readln()), std::string(65000, 'x'));
  }
  LogCapture log;
  ZUPITextFileOpen reader(dir.file("over").c_str(), nullptr, true);
  EXPECT_FALSE(reader.isFileOpen());
  EXPECT_EQ(reader.getFileIOError(), 4);
  EXPECT_EQ(log.lines(), (std::vector<LogLine>{errorLine(
                             kLoad, "File length exceeded the maximum file size supported by API.")}));
  EXPECT_STREQ(reader.readln(), "");

  EXPECT_EQ(reader.setMaxFileSize(65001), 0);
  EXPECT_EQ(reader.reloadFile(true), 0);
  EXPECT_TRUE(reader.isFileOpen());
  EXPECT_EQ(reader.getFileIOError(), 0);
  EXPECT_EQ(std::string(reader.readln()).size(), 65001u);
}

struct FailureCase {
  const char* name;
  int code;
  LogLine line;
};

TEST(TextFileReader, EveryLoadFailureHasItsCodeAndLine) {
  TempDir dir;
  const std::string missing = dir.file("missing.txt");
  const std::string fifo = dir.file("fifo");
  const std::string directory = dir.file("subdir");
  const std::string plain = dir.file("plain.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  makeDir(directory);
  writeFile(plain, "data\n");

  struct Run {
    FailureCase expect;
    std::string path;
    const char* mode;
  };
  const Run runs[] = {
      {{"missing", 2, debugLine(kLoad, "File [" + missing + "] does not exist.")}, missing, nullptr},
      {{"fifo", 3, errorLine(kLoad, "File [" + fifo + "] is not a regular file.")}, fifo, nullptr},
      {{"directory", 3, errorLine(kLoad, "File [" + directory + "] is not a regular file.")},
       directory,
       nullptr},
      {{"mode too long", 3,
        errorLine(kLoad, "Open mode of more than 9 characters refused for the file [" + plain +
                             "].")},
       plain,
       "rb+ccccccc"},
      {{"unknown mode", 3, errorLine(kLoad, "fopen() failed to open the file [" + plain + "].")},
       plain,
       "q"},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.expect.name);
    LogCapture log;
    auto started = std::chrono::steady_clock::now();
    ZUPITextFileOpen reader(run.path.c_str(), run.mode, true);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
        << "the load must not wait";
    EXPECT_FALSE(reader.isFileOpen());
    EXPECT_EQ(reader.getFileIOError(), run.expect.code);
    EXPECT_EQ(log.lines(), std::vector<LogLine>{run.expect.line});
    EXPECT_TRUE(reader.isEof());
    EXPECT_STREQ(reader.readln(), "");
    EXPECT_EQ(reader.getch(), 0);
  }
}

TEST(TextFileReader, OpenAndReadErrorsAreCode3AndEintrIsRetried) {
  TempDir dir;
  const std::string path = dir.file("label.txt");
  writeFile(path, "KEY=1\n");

  {
    FaultInjector faults;
    faults.failNth(1, EACCES, false, {SysOp::Open});
    LogCapture log;
    ZUPITextFileOpen reader(path.c_str(), "r+b", true);
    EXPECT_EQ(reader.getFileIOError(), 3);
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  errorLine(kLoad, "fopen() failed to open the file [" + path + "]."),
                  errorLine(kLoad, "Could not load the file [" + path +
                                       "]: open() failed: [Permission denied]")}));
  }
  {
    FaultInjector faults;
    faults.failNth(1, EIO, false, {SysOp::Read});
    LogCapture log;
    ZUPITextFileOpen reader(path.c_str(), nullptr, true);
    EXPECT_EQ(reader.getFileIOError(), 3);
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  errorLine(kLoad, "Failed to read the entire file [" + path + "]."),
                  errorLine(kLoad, "Could not load the file [" + path +
                                       "]: read() failed: [Input/output error]")}));
    EXPECT_EQ(faults.calls(SysOp::Close), 1) << "the descriptor is closed after a failed read";
  }
  {
    FaultInjector faults;
    faults.failNth(1, EINTR, false, {SysOp::Open});
    faults.failNth(1, EINTR, false, {SysOp::Read});
    ZUPITextFileOpen reader(path.c_str(), nullptr, true);
    EXPECT_TRUE(reader.isFileOpen());
    EXPECT_STREQ(reader.readln(), "KEY=1");
    EXPECT_EQ(faults.calls(SysOp::Open), 2);
    EXPECT_EQ(faults.calls(SysOp::Close), 1);
  }
}

TEST(TextFileReader, AReadOnlyFileFailsInModeRPlusB) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string path = dir.file("ro.txt");
  writeFile(path, "KEY=1\n", 0444);
  int rc = runUnprivileged([&path] {
    ZUPITextFileOpen reader(path.c_str(), "r+b", true);
    if (reader.getFileIOError() != 3) return 1;
    ZUPITextFileOpen readOnly(path.c_str(), nullptr, true);
    return readOnly.isFileOpen() ? 0 : 2;
  });
  EXPECT_EQ(rc, 0);
}

// Grows the file named by gGrowPath right after the reader has measured it
// (by path, then by descriptor) or right after its first read.
std::string gGrowPath;
size_t gGrowBy = 0;
void grow() {
  writeFile(gGrowPath, readFile(gGrowPath) + std::string(gGrowBy, 'g'));
  gGrowBy = 0;
}
int statThenGrow(const char* path, struct stat* st) {
  int rc = sys::realCalls().stat(path, st);
  if (rc == 0 && gGrowPath == path && gGrowBy > 0) grow();
  return rc;
}
ssize_t readThenGrow(int fd, void* buffer, size_t count) {
  ssize_t n = sys::realCalls().read(fd, buffer, count);
  if (n > 0 && gGrowBy > 0) grow();
  return n;
}

TEST(TextFileReader, AFileThatGrowsDuringTheLoadNeverYieldsMoreThanTheLimit) {
  TempDir dir;
  gGrowPath = dir.file("growing.txt");
  const LogLine tooLarge =
      errorLine(kLoad, "File length exceeded the maximum file size supported by API.");
  struct Case {
    const char* name;
    bool duringRead;  // else between the stat and the open
    size_t size;
    size_t growBy;
    int code;
    size_t loaded;
  };
  const Case cases[] = {
      {"past the limit before the open", false, 64000, 5000, 4, 0},
      {"within the limit before the open: all of it loads", false, 1000, 10, 0, 1010},
      {"past the limit during the read", true, 64000, 5000, 4, 0},
      {"within the limit during the read: the size measured loads", true, 1000, 10, 0, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(gGrowPath, std::string(c.size, 'a'));
    gGrowBy = c.growBy;
    if (c.duringRead) {
      sys::calls().read = readThenGrow;
    } else {
      sys::calls().stat = statThenGrow;
    }
    LogCapture log;
    ZUPITextFileOpen reader(gGrowPath.c_str(), nullptr, true);
    sys::calls() = sys::realCalls();
    EXPECT_EQ(reader.getFileIOError(), c.code);
    if (c.code == 0) {
      EXPECT_EQ(std::string(reader.readln()).size(), c.loaded);
      EXPECT_TRUE(log.lines().empty());
    } else {
      EXPECT_FALSE(reader.isFileOpen());
      EXPECT_EQ(log.lines(), std::vector<LogLine>{tooLarge});
    }
  }
}

TEST(TextFileReader, AFileReplacedBetweenTheStatAndTheOpenLoadsWhole) {
  // A writer renames a new label over the old one at the worst moment.
  TempDir dir;
  gGrowPath = dir.file("label.txt");
  writeFile(gGrowPath, "short\n");
  writeFile(dir.file("new.txt"), "a much longer replacement\n");
  static std::string sReplacement;
  sReplacement = dir.file("new.txt");
  sys::calls().stat = [](const char* path, struct stat* st) {
    int rc = sys::realCalls().stat(path, st);
    if (rc == 0 && gGrowPath == path) rename(sReplacement.c_str(), path);
    return rc;
  };
  ZUPITextFileOpen reader(gGrowPath.c_str(), nullptr, true);
  sys::calls() = sys::realCalls();
  ASSERT_TRUE(reader.isFileOpen());
  EXPECT_STREQ(reader.readln(), "a much longer replacement");
}

TEST(TextFileReader, CloseAfterLoadFalseKeepsTheFileOpenUntilClosed) {
  TempDir dir;
  const std::string path = dir.file("f.txt");
  writeFile(path, "A\n");
  FaultInjector faults;
  {
    ZUPITextFileOpen reader(path.c_str(), nullptr, false);
    EXPECT_TRUE(reader.isFileOpen());
    EXPECT_EQ(faults.calls(SysOp::Close), 0);
    reader.closeFile();
    EXPECT_EQ(faults.calls(SysOp::Close), 1);
    reader.closeFile();
    EXPECT_EQ(faults.calls(SysOp::Close), 1) << "closing twice closes once";
    EXPECT_STREQ(reader.readln(), "A") << "the text stays readable";
  }
  {
    ZUPITextFileOpen reader(path.c_str(), nullptr, false);
    EXPECT_EQ(reader.reloadFile(false), 0);
    EXPECT_EQ(faults.calls(SysOp::Close), 2) << "a reload closes the previous descriptor";
  }
  EXPECT_EQ(faults.calls(SysOp::Close), 3) << "the destructor closes an open descriptor";
}

TEST(TextFileReader, ACopyStartsAtTheFirstLineWithTheDefaultLimit) {
  TempDir dir;
  const std::string path = dir.file("f.txt");
  writeFile(path, "A\nB\nC\n");
  ZUPITextFileOpen source(path.c_str(), "r+b", true);
  EXPECT_STREQ(source.readln(), "A");
  source.setMaxFileSize(10);

  ZUPITextFileOpen copy(source);
  EXPECT_TRUE(copy.isFileOpen());
  EXPECT_EQ(readAllLines(copy), (std::vector<std::string>{"A", "B", "C", ""}));
  EXPECT_STREQ(source.readln(), "B") << "the source keeps its position";

  // The copy loads with 65000, not the source's 10, and in the source's mode.
  writeFile(path, std::string(1000, 'z'));
  EXPECT_EQ(copy.reloadFile(true), 0);
  EXPECT_EQ(std::string(copy.readln()), std::string(1000, 'z'));
  EXPECT_EQ(source.reloadFile(true), -1);
  EXPECT_EQ(source.getFileIOError(), 4);

  ZUPITextFileOpen emptyCopy(source);
  EXPECT_FALSE(emptyCopy.isFileOpen());
  EXPECT_EQ(emptyCopy.getFileIOError(), 4);
  EXPECT_STREQ(emptyCopy.readln(), "");
}

}  // namespace
}  // namespace test
}  // namespace icl
