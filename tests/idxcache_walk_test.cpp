// The directory walk behind getDiskUsage: exact totals on a random tree,
// the system calls it makes, and every way an entry can fail or vanish.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "FaultInjector.h"
#include "IdxCacheDirInfo.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "sys/SysCalls.h"

namespace icl {
namespace test {
namespace {

const char* const kWalk = "getDiskUsage";

long long kbOf(long long bytes) { return bytes / 1024 + 1; }

void sizedFile(const std::string& path, off_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, size), 0) << path;
  close(fd);
}

std::string fdPath(int fd) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[8192];
  ssize_t n = readlink(link, target, sizeof target - 1);
  return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

// --- an independent count ----------------------------------------------------

struct Count {
  long long kb = 0;
  long files = 0;
  long dirs = 0;  // the top included
};
Count gCount;

int countEntry(const char*, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_F && S_ISREG(st->st_mode)) {
    gCount.kb += kbOf(st->st_size);
    ++gCount.files;
  } else if (type == FTW_D) {
    ++gCount.dirs;
  }
  return 0;
}

Count independentCount(const std::string& path) {
  gCount = Count();
  EXPECT_EQ(nftw(path.c_str(), countEntry, 16, FTW_PHYS), 0) << path;
  return gCount;
}

// --- seam hooks ----------------------------------------------------------------

// Replaces the seam's directory calls with test functions for its lifetime,
// and watches the descriptors the walk opens and closes.
struct SeamHooks {
  static std::function<int(int, const char*, int, mode_t)> openat;
  static std::function<int(int, const char*, struct stat*, int)> fstatat;
  static std::function<ssize_t(int, void*, size_t)> getdents64;
  static long opened;
  static long closed;

  SeamHooks() {
    openat = sys::realCalls().openat;
    fstatat = sys::realCalls().fstatat;
    getdents64 = sys::realCalls().getdents64;
    opened = closed = 0;
    sys::Calls& c = sys::calls();
    c.openat = [](int d, const char* p, int f, mode_t m) {
      int fd = SeamHooks::openat(d, p, f, m);
      if (fd >= 0) ++opened;
      return fd;
    };
    c.close = [](int fd) {
      ++closed;
      return sys::realCalls().close(fd);
    };
    c.fstatat = [](int d, const char* p, struct stat* st, int f) {
      return SeamHooks::fstatat(d, p, st, f);
    };
    c.getdents64 = [](int fd, void* b, size_t n) { return SeamHooks::getdents64(fd, b, n); };
  }
  ~SeamHooks() { sys::calls() = sys::realCalls(); }
};
std::function<int(int, const char*, int, mode_t)> SeamHooks::openat;
std::function<int(int, const char*, struct stat*, int)> SeamHooks::fstatat;
std::function<ssize_t(int, void*, size_t)> SeamHooks::getdents64;
long SeamHooks::opened = 0;
long SeamHooks::closed = 0;

// --- a random tree -----------------------------------------------------------

// Fills `cache` with all six sub-directories: nested directories, files of
// sizes around multiples of 1024, empty files and directories, links to
// files and directories (inside and outside), a FIFO, and one directory
// whose listing needs several reads with sub-directories among its entries.
void buildRandomTree(const std::string& cache, unsigned seed) {
  std::mt19937 rng(seed);
  const std::string outside = cache + "/outside";
  makeDir(outside);
  sizedFile(outside + "/huge", 300 << 20);
  std::vector<std::string> dirs;
  for (int i = 0; i < 6; ++i) {
    dirs.push_back(cache + "/" + GetIdxCacheDirList(i));
    makeDir(dirs.back());
  }
  for (int i = 0; i < 120; ++i) {
    std::string path = dirs[rng() % dirs.size()] + "/dir" + std::to_string(i);
    makeDir(path);
    dirs.push_back(path);
  }
  const std::string wide = dirs[0] + "/wide";
  makeDir(wide);
  for (int i = 0; i < 2500; ++i) {
    std::string name = wide + "/" + std::string(40, 'w') + std::to_string(i);
    if (i % 97 == 0) {
      makeDir(name);
      sizedFile(name + "/inner", static_cast<off_t>(i));
    } else {
      sizedFile(name, static_cast<off_t>(rng() % 3000));
    }
  }
  for (int i = 0; i < 1500; ++i) {
    const std::string& dir = dirs[rng() % dirs.size()];
    std::string path = dir + "/f" + std::to_string(i);
    off_t size;
    switch (rng() % 4) {
      case 0:
        size = 0;
        break;
      case 1:
        size = static_cast<off_t>(rng() % 20) * 1024 + static_cast<off_t>(rng() % 3) - 1;
        break;
      case 2:
        size = static_cast<off_t>(rng() % 100000);
        break;
      default:
        size = static_cast<off_t>(rng() % 50) << 20;
        break;
    }
    sizedFile(path, size < 0 ? 0 : size);
    if (i % 30 == 0) {
      ASSERT_EQ(
          symlink(path.c_str(), (dirs[rng() % dirs.size()] + "/lf" + std::to_string(i)).c_str()),
          0);
      ASSERT_EQ(symlink(dirs[rng() % dirs.size()].c_str(),
                        (dirs[rng() % dirs.size()] + "/ld" + std::to_string(i)).c_str()),
                0);
      ASSERT_EQ(symlink((outside + "/huge").c_str(),
                        (dirs[rng() % dirs.size()] + "/lo" + std::to_string(i)).c_str()),
                0);
    }
  }
  ASSERT_EQ(mkfifo((dirs[3] + "/fifo").c_str(), 0644), 0);
  makeDir(dirs[5] + "/emptydir");
}

TEST(DiskUsageWalk, ARandomTreeMatchesAnIndependentCountWithOneStatPerRegularFile) {
  TempDir dir;
  const std::string cache = dir.file("cache");
  makeDir(cache);
  buildRandomTree(cache, 7);

  LogCapture log;
  long long sum = 0;
  for (int i = 0; i < 6; ++i) {
    const std::string sub = cache + "/" + GetIdxCacheDirList(i);
    SCOPED_TRACE(sub);
    Count expected = independentCount(sub);
    FaultInjector calls;
    EXPECT_EQ(getDiskUsage(sub.c_str()), expected.kb);
    // The listing's entry types decide: no stat for directories, links or the FIFO.
    EXPECT_EQ(calls.calls(SysOp::Fstatat), expected.files);
    EXPECT_EQ(calls.calls(SysOp::Openat), expected.dirs);
    EXPECT_EQ(calls.calls(SysOp::Close), expected.dirs);
    EXPECT_EQ(calls.calls(SysOp::Stat) + calls.calls(SysOp::Lstat) + calls.calls(SysOp::Open) +
                  calls.calls(SysOp::Fstat),
              0);
    EXPECT_GE(calls.calls(SysOp::Getdents64), 2 * expected.dirs);
    sum += expected.kb;
  }
  EXPECT_GT(sum, 1000);
  EXPECT_EQ(getIndexCacheDiskUsageKB(cache.c_str()), sum);
  EXPECT_TRUE(log.lines(EV_LOG_ERROR).empty());
}

TEST(DiskUsageWalk, EntriesOfUnknownTypeAreExaminedOnceAndDirectoriesAmongThemEntered) {
  TempDir dir;
  const std::string cache = dir.file("cache");
  makeDir(cache);
  buildRandomTree(cache, 11);
  const std::string sub = cache + "/ZU_Index";
  Count expected = independentCount(sub);

  // A file system without entry types: every record says DT_UNKNOWN.
  SeamHooks hooks;
  SeamHooks::getdents64 = [](int fd, void* buffer, size_t size) {
    ssize_t n = sys::realCalls().getdents64(fd, buffer, size);
    char* bytes = static_cast<char*>(buffer);
    for (ssize_t pos = 0; pos < n;) {
      auto* record = reinterpret_cast<struct dirent64*>(bytes + pos);
      record->d_type = DT_UNKNOWN;
      pos += record->d_reclen;
    }
    return n;
  };
  long stats = 0;
  SeamHooks::fstatat = [&stats](int d, const char* p, struct stat* st, int f) {
    EXPECT_NE(f & AT_SYMLINK_NOFOLLOW, 0) << "a link is never followed";
    ++stats;
    return sys::realCalls().fstatat(d, p, st, f);
  };
  LogCapture log;
  EXPECT_EQ(getDiskUsage(sub.c_str()), expected.kb);
  EXPECT_GT(stats, expected.files) << "directories and links are examined too";
  EXPECT_EQ(SeamHooks::opened, expected.dirs);
  EXPECT_EQ(SeamHooks::closed, SeamHooks::opened);
  EXPECT_TRUE(log.lines().empty());
}

// A directory holding one file "f" (5000 bytes: 5 KB) and a sub-directory
// "s" holding "g" (1 byte: 1 KB).
struct Small {
  TempDir dir;
  std::string top = dir.file("top");
  Small() {
    makeDir(top);
    sizedFile(top + "/f", 5000);
    makeDir(top + "/s");
    sizedFile(top + "/s/g", 1);
  }
};

TEST(DiskUsageWalk, EachFailureHasItsLineAndOnlyItsPartIsLost) {
  struct Case {
    const char* name;
    std::function<void()> plan;  // sets SeamHooks functions
    long long expected;
    std::vector<LogLine> lines;  // {top} stands for the directory
  };
  const Case cases[] = {
      {"stat fails: logged, the walk goes on",
       [] {
         SeamHooks::fstatat = [](int d, const char* p, struct stat* st, int f) {
           if (strcmp(p, "f") == 0) return errno = EIO, -1;
           return sys::realCalls().fstatat(d, p, st, f);
         };
       },
       1,
       {errorLine(kWalk, "Failed to stat [{top}/f]:\n[Input/output error]")}},
      {"a sub-directory cannot be opened",
       [] {
         SeamHooks::openat = [](int d, const char* p, int f, mode_t m) {
           if (strcmp(p, "s") == 0) return errno = EACCES, -1;
           return sys::realCalls().openat(d, p, f, m);
         };
       },
       5,
       {errorLine(kWalk, "Find first file returned an invalid handle for path [{top}/s]")}},
      {"a sub-directory's listing fails",
       [] {
         SeamHooks::getdents64 = [](int fd, void* b, size_t n) -> ssize_t {
           if (fdPath(fd).size() > 2 && fdPath(fd).compare(fdPath(fd).size() - 2, 2, "/s") == 0) {
             return errno = EIO, -1;
           }
           return sys::realCalls().getdents64(fd, b, n);
         };
       },
       5,
       {errorLine(kWalk, "Failed to read the directory [{top}/s]:\n[Input/output error]")}},
      {"a damaged listing stops that directory, never loops",
       [] {
         SeamHooks::getdents64 = [](int fd, void* b, size_t n) -> ssize_t {
           ssize_t got = sys::realCalls().getdents64(fd, b, n);
           if (got > 0 && fdPath(fd).compare(fdPath(fd).size() - 2, 2, "/s") == 0) {
             auto* record = static_cast<struct dirent64*>(b);
             record->d_reclen = 0;
           }
           return got;
         };
       },
       5,
       {errorLine(kWalk, "Failed to read the directory [{top}/s]:\n[Input/output error]")}},
      {"EINTR is retried everywhere",
       [] {
         static int interrupts;
         interrupts = 0;
         SeamHooks::openat = [](int d, const char* p, int f, mode_t m) {
           if (interrupts++ % 2 == 0) return errno = EINTR, -1;
           return sys::realCalls().openat(d, p, f, m);
         };
         SeamHooks::fstatat = [](int d, const char* p, struct stat* st, int f) {
           if (interrupts++ % 2 == 0) return errno = EINTR, -1;
           return sys::realCalls().fstatat(d, p, st, f);
         };
         SeamHooks::getdents64 = [](int fd, void* b, size_t n) -> ssize_t {
           if (interrupts++ % 2 == 0) return errno = EINTR, -1;
           return sys::realCalls().getdents64(fd, b, n);
         };
       },
       6,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Small tree;
    SeamHooks hooks;
    c.plan();
    LogCapture log;
    EXPECT_EQ(getDiskUsage(tree.top.c_str()), c.expected);
    std::vector<LogLine> expected;
    for (const LogLine& line : c.lines) {
      std::string message = line.message;
      message.replace(message.find("{top}"), 5, tree.top);
      expected.push_back(LogLine{line.level, line.function, message});
    }
    EXPECT_EQ(log.lines(), expected);
    EXPECT_EQ(SeamHooks::closed, SeamHooks::opened) << "every descriptor is closed";
  }
}

TEST(DiskUsageWalk, TheTopCannotBeOpenedAndEntryPathsAddASlashAsGiven) {
  Small tree;
  const std::string file = tree.top + "/f";
  const std::string missing = tree.top + "/missing";
  for (const std::string& path : {file, missing}) {
    LogCapture log;
    EXPECT_EQ(getDiskUsage(path.c_str()), -1);
    EXPECT_EQ(log.lines(),
              std::vector<LogLine>{errorLine(
                  kWalk, "Find first file returned an invalid handle for path [" + path + "]")})
        << "a missing top is an error, not a vanished entry";
  }
  {
    LogCapture log;
    EXPECT_EQ(getDiskUsage(nullptr), -1);
    EXPECT_EQ(log.lines(),
              std::vector<LogLine>{
                  errorLine(kWalk, "Find first file returned an invalid handle for path [NULL]")});
  }
  {
    sizedFile(tree.top + "/s/x\ny", 1);  // a name from disk is shown escaped
    SeamHooks hooks;
    SeamHooks::fstatat = [](int, const char*, struct stat*, int) { return errno = EIO, -1; };
    LogCapture log;
    const std::string slashed = tree.top + "/";
    EXPECT_EQ(getDiskUsage(slashed.c_str()), 0);
    // f and s come in listing order, whichever that is.
    EXPECT_EQ(log.lines().size(), 3u);
    EXPECT_TRUE(log.contains(
        errorLine(kWalk, "Failed to stat [" + tree.top + "//s/x\\ny]:\n[Input/output error]")));
    EXPECT_TRUE(log.contains(
        errorLine(kWalk, "Failed to stat [" + tree.top + "//f]:\n[Input/output error]")));
    EXPECT_TRUE(log.contains(
        errorLine(kWalk, "Failed to stat [" + tree.top + "//s/g]:\n[Input/output error]")));
  }
}

TEST(DiskUsageWalk, EntriesRemovedWhileTheWalkRunsAddNothingAndAreNoError) {
  Small tree;
  sizedFile(tree.top + "/victim", 100000);
  makeDir(tree.top + "/gone");
  sizedFile(tree.top + "/s/victim", 200000);

  SeamHooks hooks;
  // Remove each victim between the listing and its stat, and "gone" just
  // before it is opened, as a live cache would.
  SeamHooks::fstatat = [](int d, const char* p, struct stat* st, int f) {
    if (strcmp(p, "victim") == 0) {
      EXPECT_EQ(unlinkat(d, p, 0), 0);
    }
    return sys::realCalls().fstatat(d, p, st, f);
  };
  SeamHooks::openat = [](int d, const char* p, int f, mode_t m) {
    if (strcmp(p, "gone") == 0) {
      EXPECT_EQ(unlinkat(d, p, AT_REMOVEDIR), 0);
    }
    return sys::realCalls().openat(d, p, f, m);
  };
  LogCapture log;
  EXPECT_EQ(getDiskUsage(tree.top.c_str()), 6);
  EXPECT_TRUE(log.lines(EV_LOG_ERROR).empty());
  std::vector<LogLine> debug = log.lines(EV_LOG_DEBUG);
  EXPECT_EQ(debug.size(), 3u);
  for (const std::string& path :
       {tree.top + "/victim", tree.top + "/gone", tree.top + "/s/victim"}) {
    EXPECT_TRUE(log.contains(
        debugLine(kWalk, "Path [" + path + "] was removed during the walk; it adds nothing.")))
        << path;
  }
  EXPECT_EQ(SeamHooks::closed, SeamHooks::opened);
}

TEST(DiskUsageWalk, AnUnreadableSubDirectoryIsAnErrorAsAnUnprivilegedUser) {
  Small tree;
  ASSERT_EQ(chmod(tree.dir.path().c_str(), 0755), 0);
  makeDir(tree.top + "/locked");
  sizedFile(tree.top + "/locked/x", 900000);
  ASSERT_EQ(chmod((tree.top + "/locked").c_str(), 0), 0);
  const std::string top = tree.top;
  int rc = runUnprivileged([&top] {
    LogCapture log;
    if (getDiskUsage(top.c_str()) != 6) return 1;
    std::vector<LogLine> expected{errorLine(
        kWalk, "Find first file returned an invalid handle for path [" + top + "/locked]")};
    return log.lines() == expected ? 0 : 2;
  });
  EXPECT_EQ(rc, 0) << "1: wrong total, 2: wrong log lines";
}

}  // namespace
}  // namespace test
}  // namespace icl
