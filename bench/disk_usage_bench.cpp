// Index cache disk usage against `du -s --apparent-size` and a naive walk.
//
//   icl_bench_disk_usage [--dir DIR] [--files N] [--dirs M] [--runs R]
//   icl_bench_disk_usage [--dir DIR] --profile K   (only our walk, K times, for perf)
//
// Generates (once, then reuses) an index cache of N files in M directories
// spread over the six well-known sub-directories under DIR (default
// $TMPDIR, else /tmp), with sparse files of assorted sizes. Then, with warm
// caches, times R rounds of four walks over the same tree, in rotating
// order: du as a child process, a naive walk (opendir/readdir and lstat on
// each full path), the floor (getdents64 and one fstatat per regular file,
// nothing else) and getIndexCacheDiskUsageKB. Prints the medians, the
// ratios against du, the system calls our walk makes per entry (counted at
// the library's file-system seam), and checks that our total equals an
// independent count (nftw, FTW_PHYS). Exits 1 when the totals differ.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "IdxCacheDirInfo.h"
#include "sys/SysCalls.h"

extern char** environ;

namespace {

struct Options {
  std::string dir;
  long files = 200000;
  long dirs = 5000;
  int runs = 7;
  int profile = 0;  // > 0: only run our walk this many times (for perf)
};

[[noreturn]] void die(const std::string& what) {
  fprintf(stderr, "icl_bench_disk_usage: %s: %s\n", what.c_str(), strerror(errno));
  exit(2);
}

long long kbOf(long long bytes) { return bytes / 1024 + 1; }

// --- the tree -------------------------------------------------------------

// Sizes around multiples of 1024 and a few larger ones; the files are
// sparse, so a big tree costs little disk.
long long pickSize(std::mt19937_64& rng) {
  switch (rng() % 4) {
    case 0:
      return 0;
    case 1: {
      long long k = static_cast<long long>(rng() % 64);
      return std::max(0LL, k * 1024 + static_cast<long long>(rng() % 3) - 1);
    }
    case 2:
      return static_cast<long long>(rng() % 8192);
    default:
      return static_cast<long long>(rng() % (4 << 20));
  }
}

// Builds the tree under `root` and returns its expected size in KB.
long long generateTree(const std::string& root, long files, long dirs) {
  std::mt19937_64 rng(20240601);
  if (mkdir(root.c_str(), 0755) != 0) die("mkdir " + root);
  std::vector<std::string> all;
  std::vector<int> depth;
  for (int i = 0; i < 6; ++i) {
    all.push_back(root + "/" + GetIdxCacheDirList(i));
    depth.push_back(1);
    if (mkdir(all.back().c_str(), 0755) != 0) die("mkdir " + all.back());
  }
  while (static_cast<long>(all.size()) < dirs) {
    size_t parent;
    do {
      parent = rng() % all.size();
    } while (depth[parent] >= 5);
    std::string path = all[parent] + "/d" + std::to_string(all.size());
    if (mkdir(path.c_str(), 0755) != 0) die("mkdir " + path);
    all.push_back(path);
    depth.push_back(depth[parent] + 1);
  }
  long long expected = 0;
  for (long i = 0; i < files; ++i) {
    const std::string& parent = all[rng() % all.size()];
    std::string path = parent + "/idx_" + std::to_string(i) + ".dat";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) die("create " + path);
    long long size = pickSize(rng);
    if (ftruncate(fd, size) != 0) die("ftruncate " + path);
    close(fd);
    expected += kbOf(size);
  }
  return expected;
}

// --- the walks compared ----------------------------------------------------

long long gNftwKb = 0;
long gNftwEntries = 0;
long gNftwFiles = 0;

int nftwVisit(const char*, const struct stat* st, int type, struct FTW* ftw) {
  if (ftw->level > 0) ++gNftwEntries;
  if (type == FTW_F && S_ISREG(st->st_mode)) {
    gNftwKb += kbOf(st->st_size);
    ++gNftwFiles;
  }
  return 0;
}

long long naiveWalk(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return -1;
  long long total = 0;
  while (struct dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    std::string child = path + "/" + entry->d_name;
    struct stat st;
    if (lstat(child.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      long long sub = naiveWalk(child);
      if (sub > 0) total += sub;
    } else if (S_ISREG(st.st_mode)) {
      total += kbOf(st.st_size);
    }
  }
  closedir(dir);
  return total;
}

// The floor: what any walk must do, with nothing else. Directories listed
// with getdents64 relative to their parent, one fstatat per regular file.
long long floorWalk(int dirFd) {
  static char buffer[32 * 1024];
  long long total = 0;
  std::vector<char> records;
  for (;;) {
    long n = syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
    if (n <= 0) break;
    records.assign(buffer, buffer + n);  // the buffer is reused below
    for (long pos = 0; pos < n;) {
      const struct dirent64* entry = reinterpret_cast<const dirent64*>(records.data() + pos);
      pos += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      if (entry->d_type == DT_DIR) {
        int child = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0) {
          total += floorWalk(child);
          close(child);
        }
      } else if (entry->d_type == DT_REG) {
        struct stat st;
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) total += kbOf(st.st_size);
      }
    }
  }
  return total;
}

long long floorWalk(const std::string& root) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  long long total = floorWalk(fd);
  close(fd);
  return total;
}

double runDu(const std::string& root) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {"du", "-s", "--apparent-size", root.c_str(), nullptr};
  auto started = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, "du", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
    die("spawn du");
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "du failed\n");
    exit(2);
  }
  return seconds;
}

template <typename F>
double timeIt(F&& body) {
  auto started = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// --- counting system calls at the seam ---------------------------------------

std::array<long, 8> gCounts;  // openat, close, getdents64, fstatat, fstat, stat, access, other
enum { kOpenat, kClose, kGetdents, kFstatat, kFstat, kStat, kAccess, kOther };

void installCounters() {
  icl::sys::Calls& c = icl::sys::calls();
  c.open = [](const char* p, int f, mode_t m) {
    ++gCounts[kOther];
    return icl::sys::realCalls().open(p, f, m);
  };
  c.openat = [](int d, const char* p, int f, mode_t m) {
    ++gCounts[kOpenat];
    return icl::sys::realCalls().openat(d, p, f, m);
  };
  c.close = [](int fd) {
    ++gCounts[kClose];
    return icl::sys::realCalls().close(fd);
  };
  c.getdents64 = [](int fd, void* b, size_t n) {
    ++gCounts[kGetdents];
    return icl::sys::realCalls().getdents64(fd, b, n);
  };
  c.fstatat = [](int d, const char* p, struct stat* st, int f) {
    ++gCounts[kFstatat];
    return icl::sys::realCalls().fstatat(d, p, st, f);
  };
  c.fstat = [](int fd, struct stat* st) {
    ++gCounts[kFstat];
    return icl::sys::realCalls().fstat(fd, st);
  };
  c.stat = [](const char* p, struct stat* st) {
    ++gCounts[kStat];
    return icl::sys::realCalls().stat(p, st);
  };
  c.lstat = [](const char* p, struct stat* st) {
    ++gCounts[kOther];
    return icl::sys::realCalls().lstat(p, st);
  };
  c.access = [](const char* p, int m) {
    ++gCounts[kAccess];
    return icl::sys::realCalls().access(p, m);
  };
}

Options parse(int argc, char** argv) {
  Options options;
  const char* tmp = getenv("TMPDIR");
  options.dir = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (value == nullptr) {
      fprintf(stderr, "usage: %s [--dir DIR] [--files N] [--dirs M] [--runs R]\n", argv[0]);
      exit(2);
    }
    if (arg == "--dir")
      options.dir = value;
    else if (arg == "--files")
      options.files = atol(value);
    else if (arg == "--dirs")
      options.dirs = atol(value);
    else if (arg == "--runs")
      options.runs = atoi(value);
    else if (arg == "--profile")
      options.profile = atoi(value);
    else {
      fprintf(stderr, "unknown option %s\n", arg.c_str());
      exit(2);
    }
    ++i;
  }
  options.dirs = std::max(options.dirs, 6L);
  options.runs = std::max(options.runs, 1);
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  const std::string root = options.dir + "/icl-bench-" + std::to_string(options.files) + "-" +
                           std::to_string(options.dirs);
  const std::string expectedFile = root + ".expected";

  long long expected = -1;
  if (FILE* in = fopen(expectedFile.c_str(), "r")) {
    if (fscanf(in, "%lld", &expected) != 1) expected = -1;
    fclose(in);
  }
  if (expected < 0) {
    printf("generating %ld files in %ld directories under %s ...\n", options.files, options.dirs,
           root.c_str());
    fflush(stdout);
    expected = generateTree(root, options.files, options.dirs);
    FILE* out = fopen(expectedFile.c_str(), "w");
    if (out == nullptr) die("write " + expectedFile);
    fprintf(out, "%lld\n", expected);
    fclose(out);
  }

  if (options.profile > 0) {
    long long last = 0;
    for (int i = 0; i < options.profile; ++i) last = getIndexCacheDiskUsageKB(root.c_str());
    printf("%lld KB\n", last);
    return last == expected ? 0 : 1;
  }

  // Independent count, and the entry count for the per-entry figure.
  if (nftw(root.c_str(), nftwVisit, 64, FTW_PHYS) != 0) die("nftw " + root);
  printf(
      "tree: %s\n  %ld entries below the root (%ld regular files), %lld KB expected, "
      "%lld KB by nftw\n",
      root.c_str(), gNftwEntries, gNftwFiles, expected, gNftwKb);

  // Warm the caches, and check every walk once.
  runDu(root);
  long long naive = naiveWalk(root);
  long long floorKb = floorWalk(root);
  long long ours = getIndexCacheDiskUsageKB(root.c_str());
  printf("  totals: ours %lld KB, naive %lld KB, floor %lld KB\n", ours, naive, floorKb);
  bool exact = ours == gNftwKb && ours == expected && naive == expected && floorKb == expected;

  // du, naive, floor, ours; each round starts with a different one.
  const char* const names[4] = {"du", "naive", "floor", "ours"};
  std::vector<double> times[4], overDu[4];
  for (int round = 0; round < options.runs; ++round) {
    double t[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; ++k) {
      int which = (round + k) % 4;
      if (which == 0) t[0] = runDu(root);
      if (which == 1) t[1] = timeIt([&] { naive = naiveWalk(root); });
      if (which == 2) t[2] = timeIt([&] { floorKb = floorWalk(root); });
      if (which == 3) t[3] = timeIt([&] { ours = getIndexCacheDiskUsageKB(root.c_str()); });
    }
    exact = exact && ours == expected && naive == expected && floorKb == expected;
    for (int m = 0; m < 4; ++m) {
      times[m].push_back(t[m]);
      overDu[m].push_back(t[m] / t[0]);
    }
    printf("  round %2d: du %.3f s, naive %.3f s, floor %.3f s, ours %.3f s (ours/du %.3f)\n",
           round + 1, t[0], t[1], t[2], t[3], t[3] / t[0]);
  }

  gCounts.fill(0);
  installCounters();
  getIndexCacheDiskUsageKB(root.c_str());
  icl::sys::calls() = icl::sys::realCalls();
  long seam = 0;
  for (long n : gCounts) seam += n;
  // getrlimit, once per sub-directory walk, does not go through the seam.
  long total = seam + 6;

  printf("median of %d rounds:", options.runs);
  for (int m = 0; m < 4; ++m)
    printf(" %s %.3f s%s", names[m], median(times[m]), m < 3 ? "," : "\n");
  printf("ratio to du, median of the rounds' ratios: ours %.3f, floor %.3f, naive %.3f\n",
         median(overDu[3]), median(overDu[2]), median(overDu[1]));
  printf("ratio to du, ratio of the medians:         ours %.3f, floor %.3f, naive %.3f\n",
         median(times[3]) / median(times[0]), median(times[2]) / median(times[0]),
         median(times[1]) / median(times[0]));
  printf("our system calls: %ld for %ld entries = %.4f per entry\n", total, gNftwEntries,
         static_cast<double>(total) / static_cast<double>(gNftwEntries));
  printf(
      "  openat %ld, close %ld, getdents64 %ld, fstatat %ld, fstat %ld, stat %ld, "
      "access %ld, getrlimit 6, other %ld\n",
      gCounts[kOpenat], gCounts[kClose], gCounts[kGetdents], gCounts[kFstatat], gCounts[kFstat],
      gCounts[kStat], gCounts[kAccess], gCounts[kOther]);
  printf("totals %s\n", exact ? "exact" : "DIFFER");
  return exact ? 0 : 1;
}
