// Detailed logging of the disk-usage walk (read once per process, so every
// case runs in a child process) and the handling of exceptions thrown by
// log calls. Both are checked line for line against a plain recursive walk
// written here the way the behaviour is described: opendir, readdir, lstat
// on full paths, one try block around each directory's entries.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "EvEvent.h"
#include "IdxCacheDirInfo.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "ZUPlatformInfo.h"
#include "ZuException.h"

namespace icl {
namespace test {
namespace {

const char* const kSection = "~Keeper";
const char* const kSetting = "nAddZukpLogForIcdSize";

// --- the recursive walk, as described -----------------------------------------

long long referenceDiskUsage(const char* path, bool detail) {
  static const char* const kFunction = "getDiskUsage";
  EvEvent log;
  if (detail) log.Debug(kFunction, "Starting processing path [%s]", path);
  long long total = 0;
  DIR* dir = opendir(path);
  if (dir == nullptr) {
    log.Error(kFunction, "Find first file returned an invalid handle for path [%s]", path);
    return -1;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, closedir);
  try {
    while (struct dirent* entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      std::string entryPath = std::string(path) + "/" + entry->d_name;
      struct stat st;
      if (lstat(entryPath.c_str(), &st) != 0) {
        log.Error(kFunction, "Failed to stat [%s]:\n[%s]", entryPath.c_str(), strerror(errno));
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        long long sub = referenceDiskUsage(entryPath.c_str(), detail);
        if (sub >= 0) total += sub;
        if (detail) {
          log.Debug(kFunction, "    processing path [%s]. Adding size [%lld] KB from folder [%s]",
                    path, sub, entry->d_name);
        }
      } else if (S_ISREG(st.st_mode)) {
        long long kb = st.st_size / 1024 + 1;
        total += kb;
        if (detail) {
          log.Debug(kFunction, "    processing path [%s]. Adding size [%lld] KB from file [%s]",
                    path, kb, entry->d_name);
        }
      }
    }
  } catch (const ZuException& caught) {
    log.Error(kFunction, "[%s]", caught.formatError().c_str());
    total = -1;
  } catch (int caught) {
    total = -1;
    log.Debug(kFunction, "    processing path [%s]. Reset size to -1 due to exception  [%d] caught",
              path, caught);
  }
  closer.reset();
  if (detail) {
    log.Debug(kFunction, "Finished processing path [%s]. Returning recursive size [%lld] KB", path,
              total);
  }
  return total;
}

long long referenceIndexCacheDiskUsage(const std::string& path, bool detail) {
  static const char* const kFunction = "getIndexCacheDiskUsageKB";
  EvEvent log;
  std::string base = path.back() == '/' ? path : path + "/";
  long long total = 0;
  bool found = false;
  for (int i = 0; i < 6; ++i) {
    std::string sub = base + GetIdxCacheDirList(i);
    if (access(sub.c_str(), F_OK) != 0) continue;
    found = true;
    long long size = referenceDiskUsage(sub.c_str(), detail);
    if (size > 0) {
      total += size;
    } else if (detail) {
      log.Debug(kFunction, "For path [%s] size is [%lld] KB. Either empty or failed folder.",
                sub.c_str(), size);
    }
  }
  EXPECT_TRUE(found);
  log.Debug(kFunction, "Finished processing of the path [%s]: returning size [%lld] KB.",
            path.c_str(), total);
  return total;
}

// --- carrying log lines out of a child ---------------------------------------

std::string encode(const std::vector<LogLine>& lines) {
  std::string out;
  for (const LogLine& line : lines) {
    out += line.level == EV_LOG_ERROR ? "E|" : "D|";
    out += line.function + "|";
    for (char c : line.message) {
      if (c == '\n')
        out += "\\n";
      else if (c == '\\')
        out += "\\\\";
      else
        out += c;
    }
    out += "\n";
  }
  return out;
}

std::vector<LogLine> decode(const std::string& text) {
  std::vector<LogLine> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string row = text.substr(pos, end - pos);
    pos = end + 1;
    size_t bar = row.find('|', 2);
    LogLine line{row[0] == 'E' ? EV_LOG_ERROR : EV_LOG_DEBUG, row.substr(2, bar - 2), ""};
    for (size_t i = bar + 1; i < row.size(); ++i) {
      if (row[i] == '\\' && i + 1 < row.size()) {
        line.message += row[++i] == 'n' ? '\n' : row[i];
      } else {
        line.message += row[i];
      }
    }
    lines.push_back(line);
  }
  return lines;
}

void sizedFile(const std::string& path, off_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, size), 0);
  close(fd);
}

// An index cache with nested files, an empty and a failing well-known
// sub-directory, a link and a FIFO.
std::string buildCache(const TempDir& dir) {
  const std::string cache = dir.file("cache");
  makeDir(cache);
  makeDir(cache + "/ZU_Index");
  sizedFile(cache + "/ZU_Index/f10", 10);
  sizedFile(cache + "/ZU_Index/f2048", 2048);
  makeDir(cache + "/ZU_Index/sub");
  sizedFile(cache + "/ZU_Index/sub/g", 1500);
  makeDir(cache + "/ZU_Index/sub/deeper");
  sizedFile(cache + "/ZU_Index/sub/deeper/h", 0);
  makeDir(cache + "/ZU_Index/empty");
  EXPECT_EQ(symlink("f10", (cache + "/ZU_Index/link").c_str()), 0);
  EXPECT_EQ(mkfifo((cache + "/ZU_Index/fifo").c_str(), 0644), 0);
  sizedFile(cache + "/ZU_Opt1", 4000);  // found, but no directory
  makeDir(cache + "/ZU_SIDB");          // empty
  return cache;
}

// --- detailed logging: on, off, read once -------------------------------------

enum class Call { Sum, Walk };
const int kUnset = -1000;  // the setting is removed
const int kKeep = -2000;   // the setting is left as it is

struct Step {
  int setting;  // applied before the call
  Call call;
  bool detail;  // whether the call must log in detail
};

struct DetailCase {
  const char* name;
  std::vector<Step> steps;
};

TEST(DiskUsageLogging, DetailIsOnlyForANonZeroSettingReadOnceAtTheFirstSum) {
  const DetailCase cases[] = {
      {"setting 1", {{1, Call::Sum, true}}},
      {"setting 7", {{7, Call::Sum, true}}},
      {"setting 0", {{0, Call::Sum, false}}},
      {"no setting", {{kUnset, Call::Sum, false}}},
      {"on, then switched off: still on",
       {{1, Call::Sum, true}, {0, Call::Sum, true}, {kUnset, Call::Walk, true}}},
      {"off, then switched on: still off", {{0, Call::Sum, false}, {1, Call::Sum, false}}},
      {"a walk before any sum has no detail",
       {{1, Call::Walk, false}, {kKeep, Call::Sum, true}, {kKeep, Call::Walk, true}}},
  };
  TempDir dir;
  const std::string cache = buildCache(dir);
  const std::string walked = cache + "/ZU_Index";
  const std::string out = dir.file("lines.txt");
  for (const DetailCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t n = 0; n < c.steps.size(); ++n) {
      SCOPED_TRACE("step " + std::to_string(n + 1));
      // Replays the steps up to n in a fresh process; keeps step n's lines.
      int rc = runInChild([&]() -> int {
        std::vector<LogLine> last;
        for (size_t i = 0; i <= n; ++i) {
          const Step& step = c.steps[i];
          if (step.setting == kUnset)
            ZUPlatformInfo::clearRegInt(kSection, kSetting);
          else if (step.setting != kKeep)
            ZUPlatformInfo::setRegInt(kSection, kSetting, step.setting);
          LogCapture log;
          if (step.call == Call::Sum)
            getIndexCacheDiskUsageKB(cache.c_str());
          else
            getDiskUsage(walked.c_str());
          last = log.lines();
        }
        writeFile(out, encode(last));
        return 0;
      });
      ASSERT_EQ(rc, 0);
      const Step& step = c.steps[n];
      LogCapture expected;
      if (step.call == Call::Sum)
        referenceIndexCacheDiskUsage(cache, step.detail);
      else
        referenceDiskUsage(walked.c_str(), step.detail);
      EXPECT_EQ(decode(readFile(out)), expected.lines());
    }
  }
}

TEST(DiskUsageLogging, ConcurrentFirstCallsAllSeeTheSettingAndItIsNeverReadAgain) {
  TempDir dir;
  const std::string cache = buildCache(dir);
  const std::string starting = "Starting processing path [" + cache + "/ZU_Index]";
  int rc = runInChild([&]() -> int {
    ZUPlatformInfo::setRegInt(kSection, kSetting, 1);
    LogCapture log;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<long long> results(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        while (!go.load()) {
        }
        results[static_cast<size_t>(t)] = getIndexCacheDiskUsageKB(cache.c_str());
      });
    }
    while (ready.load() < 8) {
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    for (long long result : results) {
      if (result != 1 + 3 + 2 + 1) return 1;
    }
    size_t detailed = 0;
    for (const LogLine& line : log.lines()) detailed += line.message == starting ? 1 : 0;
    if (detailed != 8) return 2;  // every thread logged in detail
    ZUPlatformInfo::setRegInt(kSection, kSetting, 0);
    log.clear();
    getIndexCacheDiskUsageKB(cache.c_str());
    return log.contains(debugLine("getDiskUsage", starting)) ? 0 : 3;
  });
  EXPECT_EQ(rc, 0) << "1: a wrong total, 2: a thread without detail, 3: the setting was read again";
}

// A newline is shown as \n, a backslash as \\, other control bytes as \xHH.
TEST(DiskUsageLogging, NamesFromDiskAreEscapedAndCannotForgeLines) {
  TempDir dir;
  const std::string top = dir.file("top");
  makeDir(top);
  makeDir(top + "/d\x01");
  sizedFile(top + "/d\x01/a\nb\\c d\x1b\x7f", 1);
  const std::string processing = "    processing path [" + top;
  int rc = runInChild([&]() -> int {
    ZUPlatformInfo::setRegInt(kSection, kSetting, 1);
    LogCapture log;
    getIndexCacheDiskUsageKB(top.c_str());  // reads the setting: detail on
    log.clear();
    getDiskUsage(top.c_str());
    const std::string file = "/d\\x01]. Adding size [1] KB from file [a\\nb\\\\c d\\x1b\\x7f]";
    const std::string folder = "]. Adding size [1] KB from folder [d\\x01]";
    return (log.lines().size() == 6 ? 0 : 1) |
           (log.contains(debugLine("getDiskUsage", processing + file)) ? 0 : 2) |
           (log.contains(debugLine("getDiskUsage", processing + folder)) ? 0 : 4);
  });
  EXPECT_EQ(rc, 0) << "1: a line split or lost, 2: the file's line, 4: the folder's line";
}

// --- exceptions thrown by log calls ---------------------------------------------

enum class Kind { Zu, Int, Other };

// Records every line and throws at the n-th (never when n is 0).
struct ThrowingSink {
  static long throwAt;
  static long seen;
  static Kind kind;
  static std::vector<LogLine> lines;

  ThrowingSink(long n, Kind k) {
    throwAt = n;
    seen = 0;
    kind = k;
    lines.clear();
    EvSetLogSink(&ThrowingSink::sink, nullptr);
  }
  ~ThrowingSink() { EvSetLogSink(nullptr, nullptr); }

  static void sink(EvLogLevel level, const char* function, const char* message, void*) {
    lines.push_back(LogLine{level, function, message});
    if (++seen != throwAt) return;
    if (kind == Kind::Zu) throw ZuException("thrown at line " + std::to_string(seen));
    if (kind == Kind::Int) throw static_cast<int>(100 + seen);
    throw std::runtime_error("not ours to catch");
  }
};
long ThrowingSink::throwAt = 0;
long ThrowingSink::seen = 0;
Kind ThrowingSink::kind = Kind::Zu;
std::vector<LogLine> ThrowingSink::lines;

// The result, or what escaped, and the lines logged.
std::string outcome(const std::function<long long()>& walk, std::vector<LogLine>* lines) {
  std::string result;
  try {
    result = std::to_string(walk());
  } catch (const ZuException&) {
    result = "escaped ZuException";
  } catch (int) {
    result = "escaped int";
  } catch (const std::runtime_error&) {
    result = "escaped runtime_error";
  }
  *lines = ThrowingSink::lines;
  return result;
}

size_t openDescriptors() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// Throws at every line the walk logs, each kind in turn, and compares with
// the recursive walk; returns the mismatches, counting the runs compared.
std::string compareThrows(const std::string& top, bool detail, long* runs) {
  std::string mismatches;
  long lineCount = 0;
  {
    ThrowingSink sink(0, Kind::Zu);
    referenceDiskUsage(top.c_str(), detail);
    lineCount = ThrowingSink::seen;
  }
  for (Kind kind : {Kind::Zu, Kind::Int, Kind::Other}) {
    for (long n = 0; n <= lineCount; ++n) {
      std::vector<LogLine> expectedLines, ourLines;
      std::string expected, ours;
      {
        ThrowingSink sink(n, kind);
        expected = outcome([&] { return referenceDiskUsage(top.c_str(), detail); }, &expectedLines);
      }
      size_t before = openDescriptors();
      {
        ThrowingSink sink(n, kind);
        ours = outcome([&] { return getDiskUsage(top.c_str()); }, &ourLines);
      }
      std::string where = "detail " + std::to_string(detail) + ", kind " +
                          std::to_string(static_cast<int>(kind)) + ", throw at line " +
                          std::to_string(n) + ": ";
      if (ours != expected)
        mismatches += where + "result " + ours + ", expected " + expected + "\n";
      if (ourLines != expectedLines) {
        mismatches +=
            where + "lines differ:\n" + encode(ourLines) + "expected:\n" + encode(expectedLines);
      }
      if (openDescriptors() != before) mismatches += where + "a descriptor was left open\n";
      ++*runs;
    }
  }
  return mismatches;
}

TEST(DiskUsageLogging, ExceptionsFromLogCallsAreCaughtWhereTheRecursiveWalkCatchesThem) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string top = dir.file("top");
  makeDir(top);
  sizedFile(top + "/f1", 10);
  sizedFile(top + "/f2", 3000);
  makeDir(top + "/a");
  sizedFile(top + "/a/g", 5000);
  makeDir(top + "/a/b");
  sizedFile(top + "/a/b/h", 1);
  makeDir(top + "/a/empty");
  makeDir(top + "/locked");  // cannot be opened: an Error line to throw at
  sizedFile(top + "/locked/x", 100);
  ASSERT_EQ(chmod((top + "/locked").c_str(), 0), 0);
  makeDir(top + "/noexec");  // listed, but its entries cannot be examined
  sizedFile(top + "/noexec/y", 10);
  sizedFile(top + "/noexec/z", 20);
  ASSERT_EQ(chmod((top + "/noexec").c_str(), 0644), 0);
  ASSERT_EQ(symlink("f2", (top + "/link").c_str()), 0);
  const std::string empty = dir.file("nocache");
  makeDir(empty);
  const std::string reports = dir.file("reports");
  makeDir(reports, 0777);
  ASSERT_EQ(chmod(reports.c_str(), 0777), 0);

  int rc = runUnprivileged([&]() -> int {
    long runs = 0;
    // The setting is unread: no detail.
    std::string mismatches = compareThrows(top, false, &runs);
    ZUPlatformInfo::setRegInt(kSection, kSetting, 1);
    getIndexCacheDiskUsageKB(empty.c_str());
    mismatches += compareThrows(top, true, &runs);
    writeFile(reports + "/mismatches.txt", mismatches);
    writeFile(reports + "/runs.txt", std::to_string(runs));
    return 0;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(readFile(reports + "/mismatches.txt"), "");
  // Off: 1 open failure and 2 stat failures; on: 20 lines more. Each line
  // and no line at all, for each of the three kinds.
  EXPECT_EQ(readFile(reports + "/runs.txt"), std::to_string(3 * (4 + 24)));
}

}  // namespace
}  // namespace test
}  // namespace icl
