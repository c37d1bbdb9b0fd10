// Disk usage: the sum over the well-known sub-directories, and the walk
// behind it against an independent count (std::filesystem).

#include <dirent.h>

#include <stdexcept>

#include "ICLToolSupport.h"
#include "IdxCacheDirInfo.h"
#include "Testing.h"
#include "ZUPlatformInfo.h"
#include "ZuException.h"
#include "diskusage/SizeWalk.h"

namespace icl::test {
namespace {

std::string noHandle(const std::string& path) {
  return "E getDiskUsage: Find first file returned an invalid handle for path [" + path + "]";
}
std::string openFailed(const std::string& path, const std::string& reason) {
  return "E getDiskUsage: Failed to open the directory [" + path + "] (openat):\n[" + reason + "]";
}

// The parts a walk leaves out, as ICLToolSetWalkGapCallback tells them: "path call errno".
struct GapLog {
  GapLog() { ICLToolSetWalkGapCallback(add, this); }
  ~GapLog() { ICLToolSetWalkGapCallback(nullptr, nullptr); }
  static void add(const char* path, const char* call, int error, void* self) {
    static_cast<GapLog*>(self)->gaps.push_back(std::string(path) + " " + call + " " +
                                               std::to_string(error));
  }
  Lines gaps;
};

TEST(IndexCacheDiskUsage, SumsTheSixWellKnownSubDirectoriesOnly) {
  ZUPlatformInfo::setRegInt("~Keeper", "nAddZukpLogForIcdSize", 0);  // set, and off: no detail
  TempDir dir;
  const std::string c = dir.file("cache");
  for (const char* d : {"real", "cache", "cache/ZU_Index", "cache/ZU_Index/sub",
                        "cache/ZU_FcsIndex", "cache/CatalogServer", "cache/ZU_SIDB", "cache/other"})
    makeDir(dir.file(d));
  const std::pair<const char*, size_t> files[] = {{"real/f", 3000},
                                                  {"big", 1 << 20},  // 1025 KB, never to be added
                                                  {"cache/ZU_Index/zero", 0},
                                                  {"cache/ZU_Index/sub/k1023", 1023},
                                                  {"cache/ZU_Index/sub/k1024", 1024},
                                                  {"cache/ZU_FcsIndex/k5120", 5120},
                                                  {"cache/ZU_Opt1", 5000},
                                                  {"cache/ZU_SIDB/k10241", 10241},
                                                  {"cache/other/f", 9000}};
  for (const auto& f : files) writeFile(dir.file(f.first), std::string(f.second, 'x'));
  ASSERT_EQ(symlink(dir.file("big").c_str(), (c + "/ZU_Index/link").c_str()) +
                mkfifo((c + "/ZU_Index/fifo").c_str(), 0644) +
                symlink(dir.file("real").c_str(), (c + "/ZU_Index/dirlink").c_str()) +
                symlink(dir.file("real").c_str(), (c + "/ZU_SnapMetadata").c_str()),
            0);  // the last one counts
  for (const std::string& location : {c, c + "/", backslashed(c)}) {
    LogCapture log;
    GapLog left;
    EXPECT_EQ(getIndexCacheDiskUsageKB(location.c_str()), 1 + 1 + 2 + 6 + 3 + 11);
    EXPECT_EQ(log.lines(),
              (Lines{noHandle(c + "/ZU_Opt1"), openFailed(c + "/ZU_Opt1", "Not a directory"),
                     "D getIndexCacheDiskUsageKB: Finished processing of the path [" + location +
                         "]: returning size [24] KB."}));
    EXPECT_EQ(left.gaps, Lines{c + "/ZU_Opt1 openat 20"});
  }
  {  // a well-known sub-directory whose presence cannot be told (EACCES) is left out, and said
    LogCapture log;
    GapLog left;
    FaultInjector faults({{SysOp::Access, 1, EACCES}});
    EXPECT_EQ(getIndexCacheDiskUsageKB(c.c_str()), 20);
    EXPECT_EQ(log.errors()[0], "E getIndexCacheDiskUsageKB: Cannot tell whether [" + c +
                                   "/ZU_Index] exists (access):\n[Permission denied]");
    EXPECT_EQ(left.gaps, (Lines{c + "/ZU_Index access 13", c + "/ZU_Opt1 openat 20"}));
  }
  const std::string tooLong(256, 'd'), file = dir.file("big"), none = "] does not exist";
  const std::pair<const char*, std::string> refused[] = {
      {tooLong.c_str(), tooLong + none + ": check failure"},
      {"", none + ": check failure"},
      {nullptr, "NULL" + none + ": check failure"},
      {file.c_str(), file + none}};
  for (const auto& path : refused) {
    LogCapture log;
    EXPECT_EQ(getIndexCacheDiskUsageKB(path.first), -1);
    EXPECT_EQ(log.lines().back(), "D getIndexCacheDiskUsageKB: Path [" + path.second);
  }
  LogCapture log;
  EXPECT_EQ(getDiskUsage(nullptr), -1);
  EXPECT_EQ(getDiskUsage(dir.file("none").c_str()), -1);
  EXPECT_EQ(log.errors(), (Lines{noHandle("NULL"), noHandle(dir.file("none")),
                                 openFailed(dir.file("none"), "No such file or directory")}));
  EXPECT_STREQ(GetIdxCacheDirList(6), "sIdxCacheDirList: index out of range");
  EXPECT_STREQ(GetIdxCacheDirList(-1), GetIdxCacheDirList(6));
}

// An independent count: each regular file under `top` (no link followed), 1 KB a started KB.
long long kbUnder(const std::string& top) {
  long long kb = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(top))
    kb += entry.is_regular_file() && !entry.is_symlink() ? entry.file_size() / 1024 + 1 : 0;
  return kb;
}

// top/a1/.../a12: each level holds files f1..f5, s/g, links to both and a
// FIFO; with `wide`, a3 also 2000 entries, more than one listing read.
std::string chain(const TempDir& dir, bool wide) {
  std::string level = dir.file("top");
  makeDir(level);
  for (int i = 1; i <= 12; ++i) {
    makeDir(level += "/a" + std::to_string(i));
    makeDir(level + "/s");
    writeFile(level + "/s/g", std::string(i, 'x'));
    for (int k = 1; k <= 5; ++k)
      writeFile(level + "/f" + std::to_string(k), std::string(i * 1000 + k * 10, 'x'));
    EXPECT_EQ(symlink("f1", (level + "/lf").c_str()) + symlink("s", (level + "/ld").c_str()) +
                  mkfifo((level + "/p").c_str(), 0644),
              0);
    for (int w = 0; wide && i == 3 && w < 2000; ++w) {
      const std::string name = level + "/" + std::string(40, 'w') + std::to_string(w);
      if (w % 150 == 0) makeDir(name);
      writeFile(w % 150 == 0 ? name + "/inner" : name, std::string(w, 'x'));
    }
  }
  return dir.file("top");
}

long gLive, gPeak;  // the descriptors the walk holds, as the seam sees them

TEST(DiskUsageWalk, CountsEachFileOnceWithinItsDescriptorBoundAndLeavesOutADirectoryLostMeanwhile) {
  TempDir dir;
  const std::string top = chain(dir, true);
  const long long expected = kbUnder(top);
  LogCapture log;
  static int reports;  // a walk of over 100 ms reports its progress as it goes, not only at its end
  ICLToolSetWalkProgressCallback([](const ICLWalkProgress* p, void*) { reports += !p->finished; },
                                 nullptr);
  {
    FaultInjector faults;  // puts the real calls back when it goes
    sys::calls().getdents64 = [](int fd, void* buffer, size_t size) {  // slow, types unknown
      usleep(5000);
      const ssize_t n = sys::realCalls().getdents64(fd, buffer, size);
      for (char* at = static_cast<char*>(buffer);
           at < static_cast<char*>(buffer) + std::max<ssize_t>(n, 0);
           at += reinterpret_cast<dirent64*>(at)->d_reclen)
        reinterpret_cast<dirent64*>(at)->d_type = DT_UNKNOWN;
      return n;
    };
    EXPECT_EQ(getDiskUsage(top.c_str()), expected);
  }
  ICLToolSetWalkProgressCallback(nullptr, nullptr);
  EXPECT_GT(reports, 0);
  EXPECT_EQ(log.lines(), Lines{});
  // With detail, a walk holding 4 descriptors says what one holding 64 says.
  EXPECT_EQ(idxcache::measureDirectory(top.c_str(), true, 64), expected);
  const Lines unbounded = log.lines();
  EXPECT_EQ(log.count("] KB from folder [s]"), 12);
  {
    FaultInjector faults;  // puts the real calls back when it goes
    sys::calls().openat = [](int dirFd, const char* name, int flags, mode_t mode) {
      static int parents;  // every other ".." leads elsewhere, as for a directory moved meanwhile
      const bool elsewhere = strcmp(name, "..") == 0 && ++parents % 2 == 0;
      const int fd = sys::realCalls().openat(elsewhere ? AT_FDCWD : dirFd, elsewhere ? "/" : name,
                                             flags, mode);
      gPeak = std::max(gPeak, gLive += fd >= 0);
      return fd;
    };
    sys::calls().close = [](int fd) { return --gLive, sys::realCalls().close(fd); };
    EXPECT_EQ(idxcache::measureDirectory(top.c_str(), true, 4), expected);
  }
  EXPECT_LE(gPeak, 4) << "descriptors held at once";
  EXPECT_EQ(gLive, 0) << "descriptors left open";
  const Lines all = log.lines();
  EXPECT_EQ(Lines(all.begin() + unbounded.size(), all.end()), unbounded);
  // An evicted a10 that cannot be opened again (EIO), or is another directory by then (0), is left
  // out.
  std::string a10 = top;
  for (int i = 1; i <= 10; ++i) a10 += "/a" + std::to_string(i);
  const long long withoutA10 = expected - kbUnder(a10);
  for (const int err : {EIO, 0}) {
    static int gReopenError, gA10Opens;
    gReopenError = err;
    gA10Opens = 0;
    FaultInjector faults;  // puts the real calls back when it goes
    sys::calls().openat = [](int dirFd, const char* name, int flags, mode_t mode) {
      if (strcmp(name, "..") == 0) return errno = EACCES, -1;  // only by name from above
      if (strcmp(name, "a10") == 0 && ++gA10Opens == 2) {
        if (gReopenError != 0) return errno = gReopenError, -1;
        name = "a10/s";
      }
      return sys::realCalls().openat(dirFd, name, flags, mode);
    };
    LogCapture lost;
    GapLog left;
    EXPECT_EQ(idxcache::measureDirectory(top.c_str(), false, 4), withoutA10);
    EXPECT_EQ(left.gaps, Lines{a10 + " openat " + std::to_string(err)});
    EXPECT_EQ(lost.errors(),
              (Lines{noHandle(a10),
                     err != 0 ? "E getDiskUsage: Failed to open the directory [" + a10 +
                                    "] again (openat):\n[Input/output error]"
                              : "E getDiskUsage: The directory [" + a10 +
                                    "] was moved or replaced during the walk; it adds nothing."}));
  }
}

// What the next log line throws: 1 a ZuException, 2 an int, 3 another
// exception; the lines after it go to the LogCapture `log`.
int gThrow;
void throwingSink(EvLogLevel level, const char* function, const char* message, void* log) {
  const int kind = gThrow;
  gThrow = 0;
  if (kind == 1) throw ZuException("thrown by the sink");
  if (kind == 2) throw 42;
  if (kind == 3) throw std::runtime_error("not the walk's to catch");
  LogCapture::sink(level, function, message, log);
}

TEST(DiskUsageWalk, EachFailingCallOrThrowingLogSinkLosesOnlyItsPartAndSaysWhy) {
  TempDir dir;
  const std::string top = dir.file("top"), eio = "]:\n[Input/output error]";
  makeDir(top);
  writeFile(top + "/f", std::string(5000, 'x'));  // 5
  makeDir(top + "/s");
  // 1; a name from disk is shown escaped, never forging a line
  writeFile(top + "/s/g\n\x1b\\ ~", "x");
  const std::string sNotListed =
      "E getDiskUsage: Failed to read the directory [" + top + "/s" + eio;
  const std::string g = top + "/s/g\\n\\x1b\\\\ ~";  // as shown
  const Lines statsFailed = {"E getDiskUsage: Failed to stat [" + top + "/f" + eio,
                             "E getDiskUsage: Failed to stat [" + g + eio},
              sNotOpened = {openFailed(top + "/s", "Permission denied"), noHandle(top + "/s")},
              topNotOpened = {openFailed(top, "Permission denied"), noHandle(top)};
  const std::string caught42 = "D getDiskUsage:     processing path [" + top +
                               "]. Reset size to -1 due to exception  [42] caught";
  // Each part left out is told to the gap callback as "path call errno"; a removal is no gap. A log
  // sink that throws at the first line (of "s"): a ZuException or int is caught by the directory
  // that was walking "s", whose result is -1; any other exception escapes (-2).
  const struct {
    SysOp op;
    long nth;
    int err;
    long long total;
    Lines errors;  // or every line after the throw, where the sink throws
    Lines gaps;
    int throws = 0;
  } cases[] = {
      {SysOp::Fstatat, 1, EIO, 0, statsFailed, {top + "/f fstatat 5", g + " fstatat 5"}},
      {SysOp::Fstatat, 1, ENOENT, 0, {}, {}},  // removed meanwhile: Debug lines only
      {SysOp::Openat, 2, EACCES, 5, sNotOpened, {top + "/s openat 13"}},
      {SysOp::Openat, 1, EACCES, -1, topNotOpened, {top + " openat 13"}},
      {SysOp::Openat, 2, ENOENT, 5, {}, {}},
      {SysOp::Getdents64, 2, EIO, 5, {sNotListed}, {top + "/s getdents64 5"}},
      {SysOp::Openat, 1, EINTR, 6, {}, {}},
      {SysOp::Fstatat, 1, EINTR, 6, {}, {}},
      {SysOp::Getdents64, 1, EINTR, 6, {}, {}},
      {SysOp::Openat, 2, EACCES, -1, {"E getDiskUsage: [thrown by the sink]"}, {top + " log 0"}, 1},
      {SysOp::Openat, 2, EACCES, -1, {caught42}, {top + " log 0"}, 2},
      {SysOp::Openat, 2, EACCES, -2, {}, {}, 3},
  };
  for (const auto& c : cases) {
    LogCapture log;
    GapLog left;
    FaultInjector faults({{c.op, c.nth, c.err, c.op == SysOp::Fstatat && c.err != EINTR}});
    if (c.throws != 0) EvSetLogSink(throwingSink, &log);
    gThrow = c.throws;
    long long total = -2;
    try {
      total = getDiskUsage(top.c_str());
    } catch (...) {
    }
    EXPECT_EQ(total, c.total) << sysOpName(c.op) << " " << strerror(c.err);
    Lines errors = c.throws != 0 ? log.lines() : log.errors();
    std::sort(errors.begin(), errors.end());
    EXPECT_EQ(errors, c.errors);
    std::sort(left.gaps.begin(), left.gaps.end());  // in listing order, which the file system picks
    EXPECT_EQ(left.gaps, c.gaps);
    EXPECT_EQ(faults.calls(SysOp::Close), faults.calls(SysOp::Openat) - (c.op == SysOp::Openat));
  }
}

}  // namespace
}  // namespace icl::test
