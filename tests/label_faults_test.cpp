// A label is never half-written and a failed write never destroys it:
// injected I/O errors at every file-system call of a rewrite, kills at every
// call and at random moments, a real full file system, planted links, and a
// lock held by someone else.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FaultInjector.h"
#include "ICLRoutines.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "icl/LabelLock.h"
#include "icl/LabelRetry.h"
#include "sys/SysCalls.h"

namespace icl {
namespace test {
namespace {

const char* const kRewrite = "ICLController::UpdateICLInternal()";
const char* const kUpdate = "ICLController::UpdateICL";
const ICLData kIdentity = {3, 7, 77, 12};

const std::string kOld =
    "INDEXCACHEPOOLID = 3\nINDEXCACHEID = 7\nINDEXCACHETIMESTAMPMARKER = 77\n"
    "USED_BY_ACCESSPATHID: 5 #other\n";
const std::string kNew = kOld + "USED_BY_ACCESSPATHID: 12 #hostA\n";

// Temporary files left in `dir`, by any writer.
std::vector<std::string> tempFiles(const std::string& dir) {
  std::vector<std::string> found;
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return {"<cannot list " + dir + ">"};
  while (struct dirent* entry = readdir(listing)) {
    if (std::string(entry->d_name).rfind("icl_label.txt.tmp", 0) == 0) {
      found.push_back(entry->d_name);
    }
  }
  closedir(listing);
  return found;
}

// The calls one rewrite of kOld into kNew makes, in order.
std::vector<SysOp> traceOfOneRewrite() {
  TempDir dir;
  writeFile(dir.file("icl_label.txt"), kOld);
  ICLController controller("hostA", dir.path().c_str());
  controller.SetICLData(kIdentity);
  FaultInjector faults;
  EXPECT_EQ(controller.UpdateICL(false), 0);
  return faults.trace();
}

// Which occurrence of trace[index]'s op that call is (1-based).
long occurrence(const std::vector<SysOp>& trace, size_t index) {
  return std::count(trace.begin(), trace.begin() + static_cast<long>(index) + 1, trace[index]);
}

// The occurrence of `op` last made before the first `anchor`.
long lastBefore(const std::vector<SysOp>& trace, SysOp op, SysOp anchor) {
  auto end = std::find(trace.begin(), trace.end(), anchor);
  return std::count(trace.begin(), end, op);
}

TEST(LabelFaults, AFailureAtAnyCallLeavesTheOldOrTheNewLabelAndNoTemporaryFile) {
  const std::vector<SysOp> trace = traceOfOneRewrite();
  ASSERT_GT(trace.size(), 15u);
  const size_t renameAt =
      static_cast<size_t>(std::find(trace.begin(), trace.end(), SysOp::Rename) - trace.begin());
  ASSERT_LT(renameAt, trace.size());

  for (size_t index = 0; index < trace.size(); ++index) {
    for (int err : {EIO, ENOSPC}) {
      for (bool persistent : {false, true}) {
        SCOPED_TRACE(std::string(sysOpName(trace[index])) + " #" +
                     std::to_string(occurrence(trace, index)) + " errno " + std::to_string(err) +
                     (persistent ? " persistent" : " once"));
        TempDir dir;
        writeFile(dir.file("icl_label.txt"), kOld);
        ICLController controller("hostA", dir.path().c_str());
        controller.SetICLData(kIdentity);
        LogCapture quiet;
        int result;
        {
          FaultInjector faults;
          faults.failNth(occurrence(trace, index), err, persistent, {trace[index]});
          result = controller.UpdateICL(false);
        }
        const std::string label = readFile(dir.file("icl_label.txt"));
        if (result == 0) {
          EXPECT_EQ(label, kNew);
          EXPECT_EQ(controller.GetICLError(), ICL_ERROR_NONE);
        } else if (index > renameAt) {
          // Only the directory sync is left after the rename: the new label
          // stands, but it is reported as possibly not durable.
          EXPECT_EQ(label, kNew);
          EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_WRITE);
        } else {
          EXPECT_EQ(label, kOld);
        }
        if (trace[index] != SysOp::Unlink || !persistent) {
          EXPECT_EQ(tempFiles(dir.path()), std::vector<std::string>{});
        }
        // The next writer finds everything in order.
        ASSERT_EQ(controller.UpdateICL(false), 0);
        EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);
        EXPECT_EQ(tempFiles(dir.path()), std::vector<std::string>{});
      }
    }
  }
}

TEST(LabelFaults, WriteSyncCloseAndRenameFailuresGiveFileWriteAndSayWhy) {
  const std::vector<SysOp> trace = traceOfOneRewrite();
  struct Case {
    SysOp op;
    long nth;
    int err;
    std::vector<std::string> messages;  // after "Index cache label [P] left unchanged: "
  };
  const long tempClose = lastBefore(trace, SysOp::Close, SysOp::Rename);
  const long tempSync = lastBefore(trace, SysOp::Fsync, SysOp::Rename);
  const long tempWrite = lastBefore(trace, SysOp::Write, SysOp::Rename);
  const long tempOpen = lastBefore(trace, SysOp::Open, SysOp::Write);
  const Case cases[] = {
      {SysOp::Write, tempWrite, ENOSPC, {"writing [T] failed: [No space left on device]"}},
      {SysOp::Write, tempWrite, EIO, {"writing [T] failed: [Input/output error]"}},
      {SysOp::Fsync, tempSync, EIO, {"syncing [T] failed: [Input/output error]"}},
      {SysOp::Fsync, tempSync, ENOSPC, {"syncing [T] failed: [No space left on device]"}},
      {SysOp::Close, tempClose, EIO,
       {"!Unable to close the index cache label file!", "closing [T] failed: [Input/output error]"}},
      {SysOp::Rename, 1, EIO, {"renaming [T] failed: [Input/output error]"}},
      {SysOp::Rename, 1, ENOSPC, {"renaming [T] failed: [No space left on device]"}},
      {SysOp::Open, tempOpen, EACCES,
       {"!fopen() failed to open the file for updating. [P] Index cache label could not be "
        "updated.",
        "creating [T] failed: [Permission denied]"}},
  };
  for (const Case& c : cases) {
    for (bool persistent : {false, true}) {
      SCOPED_TRACE(std::string(sysOpName(c.op)) + " errno " + std::to_string(c.err));
      TempDir dir;
      const std::string label = dir.file("icl_label.txt");
      writeFile(label, kOld);
      ICLController controller("hostA", dir.path().c_str());
      controller.SetICLData(kIdentity);
      LogCapture log;
      {
        FaultInjector faults;
        faults.failNth(c.nth, c.err, persistent, {c.op});
        EXPECT_EQ(controller.UpdateICL(false), -1);
      }
      EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_WRITE);
      EXPECT_EQ(controller.convertICLErrorToEvEventCode(controller.GetICLError()), 0x23000239);
      EXPECT_EQ(readFile(label), kOld);
      EXPECT_EQ(tempFiles(dir.path()), std::vector<std::string>{});
      std::vector<LogLine> expected;
      for (std::string message : c.messages) {
        for (size_t at; (at = message.find("[T]")) != std::string::npos;) {
          message.replace(at, 3, "[" + label + ".tmp]");
        }
        for (size_t at; (at = message.find("[P]")) != std::string::npos;) {
          message.replace(at, 3, "[" + label + "]");
        }
        expected.push_back(message[0] == '!'
                               ? errorLine(kRewrite, message.substr(1))
                               : errorLine(kRewrite, "Index cache label [" + label +
                                                         "] left unchanged: " + message));
      }
      EXPECT_EQ(log.lines(EV_LOG_ERROR), expected);
    }
  }
}

TEST(LabelFaults, WriteNewICLReportsAFailedWriteAndCreatesNoLabel) {
  TempDir dir;
  ICLController controller("hostA", dir.path().c_str());
  controller.SetICLData(kIdentity);
  LogCapture quiet;
  {
    FaultInjector faults;
    faults.failNth(1, ENOSPC, true, {SysOp::Write});
    EXPECT_EQ(controller.WriteNewICL(), -1);
  }
  EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_WRITE);
  EXPECT_FALSE(fileExists(dir.file("icl_label.txt")));
  EXPECT_EQ(tempFiles(dir.path()), std::vector<std::string>{});

  writeFile(dir.file("icl_label.txt"), kOld);
  {
    FaultInjector faults;
    faults.failNth(1, EIO, false, {SysOp::Rename});
    EXPECT_EQ(controller.WriteNewICL(), -1);
  }
  EXPECT_EQ(readFile(dir.file("icl_label.txt")), kOld);
}

TEST(LabelFaults, InterruptedCallsAreRetried) {
  for (SysOp op : {SysOp::Open, SysOp::Read, SysOp::Write, SysOp::Fsync, SysOp::FcntlLock}) {
    SCOPED_TRACE(sysOpName(op));
    TempDir dir;
    writeFile(dir.file("icl_label.txt"), kOld);
    ICLController controller("hostA", dir.path().c_str());
    controller.SetICLData(kIdentity);
    FaultInjector faults;
    for (long n = 1; n <= 3; ++n) faults.failNth(n, EINTR, false, {op});
    EXPECT_EQ(controller.UpdateICL(false), 0);
    EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);
  }
}

TEST(LabelCrash, AKillAtAnyCallLeavesTheOldOrTheNewLabel) {
  const std::vector<SysOp> trace = traceOfOneRewrite();
  for (size_t n = 1; n <= trace.size() + 1; ++n) {
    SCOPED_TRACE("killed before call " + std::to_string(n));
    TempDir dir;
    writeFile(dir.file("icl_label.txt"), kOld);
    int status = runInChild([&dir, n] {
      ICLController controller("hostA", dir.path().c_str());
      controller.SetICLData(kIdentity);
      FaultInjector faults;
      faults.killAtNth(static_cast<long>(n));
      return controller.UpdateICL(false) == 0 ? 0 : 1;
    });
    EXPECT_EQ(status, n <= trace.size() ? -1 : 0);
    const std::string label = readFile(dir.file("icl_label.txt"));
    EXPECT_TRUE(label == kOld || label == kNew) << label;

    ICLController next("hostA", dir.path().c_str());
    next.SetICLData(kIdentity);
    ASSERT_EQ(next.UpdateICL(false), 0);
    EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);
    EXPECT_EQ(tempFiles(dir.path()), std::vector<std::string>{});
  }
}

TEST(LabelCrash, AKillAtARandomMomentOfARewriteLoopNeverLeavesAPartialLabel) {
  TempDir dir;
  writeFile(dir.file("icl_label.txt"), kOld);
  std::mt19937 random(20261206);
  for (int round = 0; round < 40; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ICLController controller("hostA", dir.path().c_str());
      controller.SetICLData(kIdentity);
      for (;;) {
        if (controller.UpdateICL(false) != 0 || controller.RemoveAccessPathIDfromICL() != 0) {
          _exit(1);
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 5000));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the loop failed before it was killed";
    const std::string label = readFile(dir.file("icl_label.txt"));
    ASSERT_TRUE(label == kOld || label == kNew) << "round " << round << ":\n" << label;
  }
  ICLController next("hostA", dir.path().c_str());
  next.SetICLData(kIdentity);
  ASSERT_EQ(next.UpdateICL(false), 0);
  EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);
  EXPECT_EQ(tempFiles(dir.path()), std::vector<std::string>{});
}

TEST(LabelFaults, AFullFileSystemLeavesTheOldLabel) {
  if (!runningAsRoot()) GTEST_SKIP() << "mounting a tiny tmpfs needs root";
  TempDir dir;
  const std::string mountPoint = dir.file("tiny");
  makeDir(mountPoint);
  // In a mount namespace of its own, so the mount dies with the child.
  int status = runInChild([&mountPoint] {
    if (unshare(CLONE_NEWNS) != 0) return 77;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) return 77;
    const std::string label = mountPoint + "/icl_label.txt";
    writeFile(label, kOld);
    ICLController controller("hostA", mountPoint.c_str());
    controller.SetICLData(kIdentity);
    if (controller.CheckICL() != 0) return 1;  // proves the label can be rewritten here
    ICLController other("hostA", mountPoint.c_str());
    other.SetICLData(ICLData{3, 7, 77, 13});
    const std::string before = readFile(label);
    // Fill every remaining block.
    int fill = open((mountPoint + "/fill").c_str(), O_WRONLY | O_CREAT, 0600);
    if (fill < 0) return 2;
    std::string block(4096, 'f');
    while (write(fill, block.data(), block.size()) > 0) {
    }
    close(fill);
    if (other.UpdateICL(false) != -1) return 3;
    if (other.GetICLError() != ICL_ERROR_FILE_WRITE) return 4;
    if (readFile(label) != before) return 5;
    if (fileExists(label + ".tmp")) return 6;
    return 0;
  });
  if (status == 77) GTEST_SKIP() << "this kernel refuses a private mount namespace or tmpfs";
  EXPECT_EQ(status, 0);
}

TEST(LabelHostile, ALinkPlantedAtTheTemporaryNameIsRemovedNotFollowed) {
  TempDir dir;
  writeFile(dir.file("icl_label.txt"), kOld);
  const std::string victim = dir.file("victim");
  writeFile(victim, "precious", 0600);
  ASSERT_EQ(symlink(victim.c_str(), dir.file("icl_label.txt.tmp").c_str()), 0);
  ICLController controller("hostA", dir.path().c_str());
  controller.SetICLData(kIdentity);
  LogCapture log;
  ASSERT_EQ(controller.UpdateICL(false), 0);
  EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);
  EXPECT_EQ(readFile(victim), "precious");
  struct stat st;
  ASSERT_EQ(stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_FALSE(fileExists(dir.file("icl_label.txt.tmp")));
  EXPECT_TRUE(log.contains(debugLine(kRewrite, "Removed the temporary file [" +
                                                   dir.file("icl_label.txt.tmp") +
                                                   "] left by an interrupted writer.")));
}

TEST(LabelHostile, ALinkPlantedAtTheLockNameIsRefused) {
  TempDir dir;
  writeFile(dir.file("icl_label.txt"), kOld);
  const std::string victim = dir.file("victim");
  writeFile(victim, "precious", 0600);
  ASSERT_EQ(symlink(victim.c_str(), dir.file("icl_label.lock").c_str()), 0);
  ICLController controller("hostA", dir.path().c_str());
  controller.SetICLData(kIdentity);
  LogCapture log;
  EXPECT_EQ(controller.UpdateICL(false), -1);
  EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_LOCK);
  EXPECT_EQ(log.lines(EV_LOG_ERROR),
            std::vector<LogLine>{errorLine(
                kUpdate, "Could not take the index cache label lock [" +
                             dir.file("icl_label.lock") +
                             "]: [Too many levels of symbolic links]")});
  EXPECT_EQ(readFile(dir.file("icl_label.txt")), kOld);
  EXPECT_EQ(readFile(victim), "precious");
  struct stat st;
  ASSERT_EQ(stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// Holds the writers' lock from outside the library, as another host would.
class ForeignLock {
 public:
  explicit ForeignLock(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    locked_ = fd_ >= 0 && fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }
  ~ForeignLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

TEST(LabelLocking, AWriterGivesUpAfterTheWaitLimitWhileReadersNeverWait) {
  TempDir dir;
  writeFile(dir.file("icl_label.txt"), kNew);
  setLabelLockWaitLimit(std::chrono::milliseconds(300));
  {
    ForeignLock other(dir.file("icl_label.lock"));
    ASSERT_TRUE(other.locked());
    ICLController writer("hostA", dir.path().c_str());
    writer.SetICLData(ICLData{3, 7, 77, 13});
    LogCapture log;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(writer.UpdateICL(false), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    EXPECT_EQ(writer.GetICLError(), ICL_ERROR_FILE_LOCK);
    EXPECT_EQ(log.lines(EV_LOG_ERROR),
              std::vector<LogLine>{errorLine(
                  kUpdate, "Timed out after [300] ms waiting for the index cache label lock [" +
                               dir.file("icl_label.lock") + "] held by another writer.")});
    EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);

    ICLController reader("hostA", dir.path().c_str());
    reader.SetICLData(kIdentity);
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(reader.ReadDataFromICL(), 0);
    reader.SetICLData(kIdentity);
    EXPECT_EQ(reader.CheckICL(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
  }
  ICLController writer("hostA", dir.path().c_str());
  writer.SetICLData(ICLData{3, 7, 77, 13});
  EXPECT_EQ(writer.UpdateICL(false), 0);
  setLabelLockWaitLimit(std::chrono::seconds(30));
}

TEST(LabelLocking, WithoutLockSupportTheLabelIsChangedUnlockedAndSaysSo) {
  TempDir dir;
  writeFile(dir.file("icl_label.txt"), kOld);
  ICLController controller("hostA", dir.path().c_str());
  controller.SetICLData(kIdentity);
  LogCapture log;
  {
    FaultInjector faults;
    faults.failNth(1, ENOLCK, true, {SysOp::FcntlLock});
    EXPECT_EQ(controller.UpdateICL(false), 0);
  }
  EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);
  EXPECT_TRUE(log.contains(debugLine(
      kUpdate, "File locks are not supported for [" + dir.file("icl_label.lock") +
                   "]: [No locks available]. Changing the index cache label without a lock.")));
  EXPECT_EQ(tempFiles(dir.path()), std::vector<std::string>{});

  // A kernel without open file description locks falls back to record locks.
  writeFile(dir.file("icl_label.txt"), kOld);
  log.clear();
  {
    FaultInjector faults;
    faults.failNth(1, EINVAL, false, {SysOp::FcntlLock});
    EXPECT_EQ(controller.UpdateICL(false), 0);
    EXPECT_EQ(faults.calls(SysOp::FcntlLock), 2);
  }
  EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);
  EXPECT_TRUE(log.lines(EV_LOG_ERROR).empty());
}


// Shared storage: a load that meets another host's replace of the label
// (ESTALE, or ENOENT beside the lock file) is tried again, a bounded number
// of times; anything else, and anything on a local file system, fails as it
// always did.
template <unsigned long FileSystemType>
int statfsAs(const char* path, struct statfs* st) {
  int result = sys::realCalls().statfs(path, st);
  st->f_type = static_cast<__fsword_t>(FileSystemType);
  return result;
}

TEST(LabelSharedStorage, ALoadThatMeetsAReplaceIsTriedAgainABoundedNumberOfTimes) {
  struct Row {
    const char* what;
    bool shared, lockFile, writer;
    std::vector<std::pair<SysOp, long>> calls;  // fail with `err` from the n-th call of op on
    int err;
    long times;
    TICLError error;
    long retries, lookups;  // loads tried again; names looked up at the server
  };
  // A load examines the directory (stat 1), then the label (stat 2, open 1,
  // read 1); a retry first looks the label up (getxattr, open 2, read 2). A
  // writer's lock (fcntl 1) is followed by a look-up and a read lock (fcntl 2).
  const std::pair<SysOp, long> open = {SysOp::Open, 1}, read = {SysOp::Read, 1},
                               stat = {SysOp::Stat, 2}, lock = {SysOp::FcntlLock, 2};
  const Row rows[] = {
      {"stale at the open", true, true, false, {open}, ESTALE, 2, ICL_ERROR_NONE, 1, 1},
      {"stale at the read", true, true, false, {read}, ESTALE, 2, ICL_ERROR_NONE, 1, 1},
      {"stale for good", true, true, false, {open}, ESTALE, 1000, ICL_ERROR_FILE_READ,
       kLabelLoadRetries, kLabelLoadRetries},
      {"missing beside the lock", true, true, false, {stat, open}, ENOENT, 1, ICL_ERROR_NONE, 1, 1},
      {"missing, no lock file", true, false, false, {stat, open}, ENOENT, 1,
       ICL_ERROR_FILE_NOT_FOUND, 0, 1},
      {"not readable", true, true, false, {open}, EACCES, 2, ICL_ERROR_FILE_READ, 0, 1},
      {"stale on a local disk", false, true, false, {open}, ESTALE, 2, ICL_ERROR_FILE_READ, 0, 0},
      {"stale under the writers' lock", true, true, true, {lock}, ESTALE, 2, ICL_ERROR_NONE, 0, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    writeFile(dir.file("icl_label.txt"), kNew);
    if (row.lockFile) writeFile(dir.file("icl_label.lock"), "");
    ICLController controller("hostA", dir.path().c_str());
    controller.SetICLData(kIdentity);
    LogCapture log;
    int result;
    long lookups;
    {
      FaultInjector faults;
      sys::calls().statfs = row.shared ? statfsAs<0x65735546> : statfsAs<0xEF53>;  // FUSE, ext4
      for (const auto& call : row.calls) {
        for (long n = 0; n < row.times; ++n) {
          faults.failNth(call.second + n, row.err, false, {call.first});
        }
      }
      result = row.writer ? controller.UpdateICL(false) : controller.ReadDataFromICL();
      lookups = faults.calls(SysOp::Getxattr);
    }
    EXPECT_EQ(result, row.error == ICL_ERROR_NONE ? 0 : -1);
    EXPECT_EQ(controller.GetICLError(), row.error);
    EXPECT_EQ(lookups, row.lookups);
    const auto lines = log.lines(EV_LOG_DEBUG);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const LogLine& line) {
                              return line.message.find("loading it again") != std::string::npos;
                            }),
              row.retries);
  }
}

}  // namespace
}  // namespace test
}  // namespace icl
