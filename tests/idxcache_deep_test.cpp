// The walk on trees deeper than the descriptors it may hold: eviction of
// ancestors, their reopening, and trees that move while they are measured.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "IdxCacheDirInfo.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "idxcache/SizeWalk.h"
#include "sys/SysCalls.h"

namespace icl {
namespace test {
namespace {

const char* const kWalk = "getDiskUsage";

long long kbOf(long long bytes) { return bytes / 1024 + 1; }

std::string fdPath(int fd) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::vector<char> target(70000);
  ssize_t n = readlink(link, target.data(), target.size() - 1);
  return n < 0 ? std::string() : std::string(target.data(), static_cast<size_t>(n));
}

// Creates `name` in `dirFd` with `size` bytes (sparse) and returns its KB.
long long fileAt(int dirFd, const char* name, off_t size) {
  int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0) << name << ": " << strerror(errno);
  if (fd < 0) return 0;
  EXPECT_EQ(ftruncate(fd, size), 0);
  close(fd);
  return kbOf(size);
}

int dirAt(int dirFd, const char* name) {
  EXPECT_EQ(mkdirat(dirFd, name, 0755), 0) << name << ": " << strerror(errno);
  int fd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << name << ": " << strerror(errno);
  return fd;
}

// Removes a tree of any depth holding two descriptors: each directory's
// sub-directories are first moved up beside it, so no path ever grows.
void removeTree(const std::string& top) {
  size_t slash = top.rfind('/');
  int parentFd = open(top.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(parentFd, 0);
  std::vector<std::string> work{top.substr(slash + 1)};
  int hoisted = 0;
  while (!work.empty()) {
    std::string name = work.back();
    work.pop_back();
    int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    DIR* dir = fdopendir(fd);
    ASSERT_NE(dir, nullptr);
    std::vector<std::string> subDirs, others;
    while (struct dirent* entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      (entry->d_type == DT_DIR ? subDirs : others).push_back(entry->d_name);
    }
    for (const std::string& other : others) unlinkat(fd, other.c_str(), 0);
    for (const std::string& sub : subDirs) {
      std::string up = ".removing-" + std::to_string(hoisted++);
      if (renameat(fd, sub.c_str(), parentFd, up.c_str()) == 0) work.push_back(up);
    }
    closedir(dir);
    unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
  }
  close(parentFd);
}

// Watches the descriptors the walk holds; `openatHook` and `getdentsHook`
// may stand in for the real calls.
struct LiveFds {
  static long live;
  static long peak;
  static long opened;
  static std::function<int(int, const char*, int, mode_t)> openatHook;
  static std::function<ssize_t(int, void*, size_t)> getdentsHook;

  LiveFds() {
    live = peak = opened = 0;
    openatHook = sys::realCalls().openat;
    getdentsHook = sys::realCalls().getdents64;
    sys::Calls& c = sys::calls();
    c.openat = [](int d, const char* p, int f, mode_t m) {
      int fd = openatHook(d, p, f, m);
      if (fd >= 0) {
        ++opened;
        peak = std::max(peak, ++live);
      }
      return fd;
    };
    c.close = [](int fd) {
      --live;
      return sys::realCalls().close(fd);
    };
    c.getdents64 = [](int fd, void* b, size_t n) { return getdentsHook(fd, b, n); };
  }
  ~LiveFds() { sys::calls() = sys::realCalls(); }
};
long LiveFds::live = 0;
long LiveFds::peak = 0;
long LiveFds::opened = 0;
std::function<int(int, const char*, int, mode_t)> LiveFds::openatHook;
std::function<ssize_t(int, void*, size_t)> LiveFds::getdentsHook;

// Collects what a child process finds wrong, for the parent to show.
struct Report {
  std::string text;
  void check(bool ok, const std::string& what) {
    if (!ok) text += what + "\n";
  }
  int finish(const std::string& file) {
    FILE* out = fopen(file.c_str(), "w");
    if (out != nullptr) {
      fputs(text.c_str(), out);
      fclose(out);
    }
    return text.empty() ? 0 : 1;
  }
};

TEST(DiskUsageDeepTree, ThreeThousandLevelsUnderAnOpenFileLimitOf64AreCountedExactly) {
  TempDir dir;
  const std::string root = dir.file("deep");
  const std::string reportFile = dir.file("report.txt");
  const int kLevels = 3000;

  int rc = runInChild([&]() -> int {
    Report report;
    struct rlimit limit = {64, 64};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 200;

    // Level i holds a file, every 7th a side directory with a file, every
    // 5th a link back up, every 11th three more files; names of 3 bytes
    // make the deepest path about 12,000 bytes long.
    long long expected = 0;
    long long bottomKb = 0;
    std::string bottomPath = root;
    if (mkdir(root.c_str(), 0755) != 0) return 201;
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 1; i <= kLevels; ++i) {
      char name[8];
      snprintf(name, sizeof name, i == kLevels ? "bot" : "d%02d", i % 100);
      int next = dirAt(fd, name);
      close(fd);
      fd = next;
      bottomPath += std::string("/") + name;
      long long here = fileAt(fd, "f", static_cast<off_t>((i * 523) % 7000));
      if (i % 7 == 0) {
        int side = dirAt(fd, "s");
        here += fileAt(side, "g", static_cast<off_t>(i));
        close(side);
      }
      if (i % 5 == 0 && symlinkat("..", fd, "up") != 0) return 202;
      if (i % 11 == 0) {
        for (const char* extra : {"e1", "e2", "e3"}) here += fileAt(fd, extra, 1024 * (i % 4));
      }
      expected += here;
      if (i == kLevels) bottomKb = here;
    }
    close(fd);
    report.check(bottomPath.size() > 9000,
                 "the deepest path is only " + std::to_string(bottomPath.size()) + " bytes");

    {
      LogCapture log;
      LiveFds fds;
      long long total = getDiskUsage(root.c_str());
      report.check(total == expected,
                   "total " + std::to_string(total) + ", expected " + std::to_string(expected));
      report.check(LiveFds::peak <= 16, "held " + std::to_string(LiveFds::peak) + " descriptors");
      report.check(LiveFds::live == 0, std::to_string(LiveFds::live) + " descriptors left open");
      report.check(log.lines().empty(), "unexpected log lines, the first: " +
                                            (log.lines().empty() ? "" : log.lines()[0].message));
    }
    {
      // The deepest directory refuses to open: one Error naming its full path.
      LogCapture log;
      LiveFds fds;
      LiveFds::openatHook = [](int d, const char* p, int f, mode_t m) {
        if (strcmp(p, "bot") == 0) return errno = EACCES, -1;
        return sys::realCalls().openat(d, p, f, m);
      };
      long long total = getDiskUsage(root.c_str());
      report.check(total == expected - bottomKb, "with the bottom refused: total " +
                                                     std::to_string(total) + ", expected " +
                                                     std::to_string(expected - bottomKb));
      // The host cuts a message at EV_MAX_MESSAGE characters.
      std::string message =
          "Find first file returned an invalid handle for path [" + bottomPath + "]";
      std::vector<LogLine> lines{errorLine(kWalk, message.substr(0, EV_MAX_MESSAGE))};
      report.check(log.lines() == lines, "the bottom's Error line is missing or wrong");
    }
    return report.finish(reportFile);
  });
  EXPECT_EQ(rc, 0) << (fileExists(reportFile) ? readFile(reportFile) : "no report");
  removeTree(root);
}

// A chain a1/a2/.../a12 under `top`; each level holds files f1..f5 and a
// side directory "s" with one file. Returns the tree's size in KB.
long long buildChain(const std::string& top) {
  EXPECT_EQ(mkdir(top.c_str(), 0755), 0);
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  long long total = 0;
  for (int level = 1; level <= 12; ++level) {
    int next = dirAt(fd, ("a" + std::to_string(level)).c_str());
    close(fd);
    fd = next;
    for (int k = 1; k <= 5; ++k) {
      total += fileAt(fd, ("f" + std::to_string(k)).c_str(), level * 1000 + k * 10);
    }
    int side = dirAt(fd, "s");
    total += fileAt(side, "g", level);
    close(side);
  }
  close(fd);
  return total;
}

TEST(DiskUsageDeepTree, ABoundOfFourGivesTheSameTotalAndTheSameDetailLinesAsNoBound) {
  TempDir dir;
  const std::string top = dir.file("top");
  long long expected = buildChain(top);
  // A level whose listing takes several reads, with directories among its
  // entries: when it is evicted, the rest of its listing is still to come.
  const std::string wide = top + "/a1/a2/a3/";
  for (int i = 0; i < 2000; ++i) {
    std::string path = wide + std::string(40, 'w') + std::to_string(i);
    if (i % 150 == 0) {
      makeDir(path);
      makeDir(path + "/d");
      path += "/d/inner";
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    expected += 1;
  }

  std::vector<LogLine> unbounded;
  {
    LogCapture log;
    EXPECT_EQ(idxcache::measureDirectory(top.c_str(), true, 64), expected);
    unbounded = log.lines();
  }
  LogCapture log;
  LiveFds fds;
  EXPECT_EQ(idxcache::measureDirectory(top.c_str(), true, 4), expected);
  EXPECT_EQ(LiveFds::peak, 4);
  EXPECT_EQ(LiveFds::live, 0);
  EXPECT_GT(LiveFds::opened, 12 + 12 + 4 + 1) << "evicted directories were opened again";
  EXPECT_EQ(log.lines(), unbounded);
  EXPECT_EQ(log.lines(EV_LOG_ERROR).size(), 0u);
}

// Gives the walk's first reopening through ".." a moved tree: the child
// whose ".." is asked for goes to `outside`, and, with `alsoRename`, that
// directory is renamed too.
struct MoveOnFirstDotDot {
  static std::string outside;
  static std::string alsoRename;
  static int dotDots;  // reopenings through ".." asked for
  MoveOnFirstDotDot(const std::string& to, const std::string& renamed) {
    outside = to;
    alsoRename = renamed;
    dotDots = 0;
    LiveFds::openatHook = [](int d, const char* p, int f, mode_t m) {
      if (strcmp(p, "..") == 0 && dotDots++ == 0) {
        EXPECT_EQ(::rename(fdPath(d).c_str(), (outside + "/moved").c_str()), 0);
        if (!alsoRename.empty()) {
          EXPECT_EQ(::rename(alsoRename.c_str(), (alsoRename + "x").c_str()), 0);
        }
      }
      return sys::realCalls().openat(d, p, f, m);
    };
  }
};
std::string MoveOnFirstDotDot::outside;
std::string MoveOnFirstDotDot::alsoRename;
int MoveOnFirstDotDot::dotDots = 0;

// A directory whose entries have the chain's names and huge sizes: a walk
// that took it for the moved child's parent would count far too much.
std::string decoy(const std::string& path) {
  makeDir(path);
  for (int k = 1; k <= 5; ++k) {
    int fd = open((path + "/f" + std::to_string(k)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(ftruncate(fd, 1LL << 40), 0);
    close(fd);
  }
  makeDir(path + "/s");
  return path;
}

TEST(DiskUsageDeepTree, AChildMovedAwayFromAnEvictedParentLeavesTheParentCountedExactly) {
  TempDir dir;
  const std::string top = dir.file("top");
  long long expected = buildChain(top);
  const std::string outside = decoy(dir.file("outside"));

  LiveFds fds;
  MoveOnFirstDotDot move(outside, "");
  LogCapture log;
  // The moved child was measured whole before it moved; its parent is found
  // again from the top, by name, with the device and inode it had.
  EXPECT_EQ(idxcache::measureDirectory(top.c_str(), false, 4), expected);
  EXPECT_GT(MoveOnFirstDotDot::dotDots, 1) << "the other evicted directories came back through ..";
  EXPECT_TRUE(fileExists(outside + "/moved/s")) << "the move happened";
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(LiveFds::live, 0);
}

TEST(DiskUsageDeepTree, EvictedDirectoriesThatCannotBeFoundAgainAreErrorsNotAWrongCount) {
  TempDir dir;
  const std::string top = dir.file("top");
  long long whole = buildChain(top);
  const std::string outside = decoy(dir.file("outside"));

  LiveFds fds;
  MoveOnFirstDotDot move(outside, top + "/a1/a2");
  LogCapture log;
  long long total = idxcache::measureDirectory(top.c_str(), false, 4);
  EXPECT_EQ(MoveOnFirstDotDot::dotDots, 1) << "after the move, ancestors are looked for by name";
  EXPECT_GE(total, 0);
  EXPECT_LT(total, whole) << "nothing of the decoy is counted";
  // a11 is the first to finish with its parent evicted (opening a12/s
  // evicted a10); it moves, a10 down to a2 are lost in turn, each under the
  // path it had, and a1 goes on.
  std::vector<LogLine> expected;
  for (int level = 10; level >= 2; --level) {
    std::string path = top;
    for (int i = 1; i <= level; ++i) path += "/a" + std::to_string(i);
    expected.push_back(
        errorLine(kWalk, "Find first file returned an invalid handle for path [" + path + "]"));
  }
  EXPECT_EQ(log.lines(), expected);
  EXPECT_EQ(LiveFds::live, 0);
}

TEST(DiskUsageDeepTree, AListingThatFailsWhileEvictedIsReportedOnceWhenTheWalkGetsBack) {
  TempDir dir;
  const std::string top = dir.file("top");
  long long expected = buildChain(top);
  const std::string a3 = top + "/a1/a2/a3";

  LiveFds fds;
  static int a3Reads;
  static std::string a3Path;
  a3Reads = 0;
  a3Path = a3;
  // a3's first read returns everything; the read that would report the end
  // fails instead. With a bound of 4 that read happens when a3 is evicted.
  LiveFds::getdentsHook = [](int fd, void* b, size_t n) -> ssize_t {
    if (fdPath(fd) == a3Path && ++a3Reads == 2) return errno = EIO, -1;
    return sys::realCalls().getdents64(fd, b, n);
  };
  LogCapture log;
  EXPECT_EQ(idxcache::measureDirectory(top.c_str(), false, 4), expected);
  EXPECT_EQ(log.lines(),
            std::vector<LogLine>{errorLine(
                kWalk, "Failed to read the directory [" + a3 + "]:\n[Input/output error]")});
  EXPECT_EQ(a3Reads, 2);
  EXPECT_EQ(LiveFds::live, 0);
}

}  // namespace
}  // namespace test
}  // namespace icl
