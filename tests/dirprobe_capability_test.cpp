// The directory capability test: canFilesBeCreatedInDirectory.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FaultInjector.h"
#include "ICLRoutines.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "sys/SysCalls.h"

namespace icl {
namespace test {
namespace {

const char* const kProbe = "ICLController::canFilesBeCreatedInDirectory";
const char* const kExists = "ICLController::DoesPathExist";
const char* const kCreate = "ICLController::CreateDirRecursive";
const char* const kLoad = "ZUPITextFileOpen::reloadFile";
const std::string kSentence = "This is a write test to see if the index cache directory is valid.";
const std::string kScratchBytes = kSentence + "\n";
const std::string kLabelBytes =
    "INDEXCACHEPOOLID=3\nINDEXCACHEID=7\nINDEXCACHETIMESTAMPMARKER=77\n"
    "USED_BY_ACCESSPATHID=12 # hostA\n";

struct Outcome {
  int rc;
  TICLError error;
  int event;
  std::vector<LogLine> log;
};

Outcome runProbe(const std::string& location) {
  LogCapture log;
  ICLController ctl("hostA", location.c_str());
  Outcome out;
  out.rc = ctl.canFilesBeCreatedInDirectory();
  out.error = ctl.GetICLError();
  out.event = ctl.convertICLErrorToEvEventCode(out.error);
  out.log = log.lines();
  return out;
}

std::string realBase(const TempDir& dir) {
  char resolved[PATH_MAX];
  if (realpath(dir.path().c_str(), resolved) == nullptr) return dir.path();
  return resolved;
}

std::string withBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

LogLine notOpenedForWriting(const std::string& scratch) {
  return errorLine(kProbe, "fopen() failed to open the file for writing. [" + scratch +
                               "] Index cache label could not be written.");
}
LogLine notWritten(const std::string& scratch) {
  return debugLine(kProbe, "fopen failed to open the file for writing. [" + scratch +
                               "] Index cache label could not be written.");
}
LogLine notReadBack(const std::string& scratch) {
  return errorLine(kProbe, "fopen() failed to open the test file for reading. [" + scratch +
                               "] Index cache label could not be written.");
}
LogLine notReopened(const std::string& scratch) {
  return debugLine(kProbe,
                   "open failed to open the test file for read/write to do the file lock test. "
                   "File [" + scratch + "] ");
}
LogLine failedCall(const std::string& scratch, const std::string& step, const std::string& why) {
  return errorLine(kProbe, "Test file [" + scratch + "]: " + step + " failed: [" + why + "]");
}
LogLine labelNotOpened(const std::string& label) {
  return debugLine(kProbe, "fopen failed to open the existing ICL file for writing. ICL file: [" +
                               label + "] ");
}
LogLine labelMissing(const std::string& label) {
  return debugLine(kLoad, "File [" + label + "] does not exist.");
}
LogLine missingDir(const std::string& location) {
  return debugLine(kExists, "Path - [" + location + "]: [No such file or directory]");
}
LogLine creating(const std::string& dir) {
  return debugLine(kCreate, "Creating directory [" + dir + "]");
}

// What a file outside the probed directory must keep.
struct FileState {
  bool present = false;
  mode_t mode = 0;  // type and permission bits (lstat)
  uid_t uid = 0;
  gid_t gid = 0;
  nlink_t links = 0;
  std::string bytes;  // regular files only
};

FileState stateOf(const std::string& path) {
  FileState s;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return s;
  s.present = true;
  s.mode = st.st_mode;
  s.uid = st.st_uid;
  s.gid = st.st_gid;
  s.links = st.st_nlink;
  if (S_ISREG(st.st_mode)) s.bytes = readFile(path);
  return s;
}

void expectSameState(const FileState& before, const std::string& path) {
  FileState now = stateOf(path);
  EXPECT_TRUE(now.present) << path;
  EXPECT_EQ(now.bytes, before.bytes) << path;
  EXPECT_EQ(now.mode, before.mode) << path;
  EXPECT_EQ(now.uid, before.uid) << path;
  EXPECT_EQ(now.gid, before.gid) << path;
  EXPECT_EQ(now.links, before.links) << path;
}

// A file of someone else's; under root it really belongs to another user.
std::string makeVictim(const TempDir& outside) {
  std::string victim = outside.file("victim.txt");
  writeFile(victim, "precious data\n", 0640);
  if (runningAsRoot() && chown(victim.c_str(), 65534, 65534) != 0) ADD_FAILURE() << "chown";
  return victim;
}

struct SeamRestore {
  ~SeamRestore() { sys::calls() = sys::realCalls(); }
};

struct PassCase {
  const char* name;
  std::string location;
  std::function<void()> setup;
  std::vector<LogLine> log;
  std::string probed;  // the directory actually tested
  std::vector<std::string> leftAfter;
};

TEST(CapabilityTest, PassesAndLeavesOnlyWhatWasThereBefore) {
  TempDir dir;
  const std::string base = realBase(dir);
  const PassCase cases[] = {
      {"existing empty directory", base + "/empty", [&] { makeDir(base + "/empty"); },
       {labelMissing(base + "/empty/icl_label.txt")}, base + "/empty", {}},
      {"missing directory under a writable parent", base + "/new/deeper", [] {},
       {missingDir(base + "/new/deeper"), creating(base + "/new"), creating(base + "/new/deeper"),
        labelMissing(base + "/new/deeper/icl_label.txt")},
       base + "/new/deeper", {}},
      {"readable and writable label", base + "/labelled",
       [&] {
         makeDir(base + "/labelled");
         writeFile(base + "/labelled/icl_label.txt", kLabelBytes, 0644);
       },
       {}, base + "/labelled", {"icl_label.txt"}},
      {"scratch file left by an earlier test", base + "/leftover",
       [&] {
         makeDir(base + "/leftover");
         writeFile(base + "/leftover/test_rdwrite.txt",
                   "an older and much longer scratch text than the sentence\nsecond line\n", 0600);
       },
       {labelMissing(base + "/leftover/icl_label.txt")}, base + "/leftover", {}},
      {"missing location written with backslashes", withBackslashes(base + "/bs/new"), [] {},
       {missingDir(withBackslashes(base + "/bs/new")), creating(base + "/bs"),
        creating(base + "/bs/new"), labelMissing(base + "/bs/new/icl_label.txt")},
       base + "/bs/new", {}},
      {"existing location written with backslashes", withBackslashes(base + "/bsx"),
       [&] { makeDir(base + "/bsx"); }, {labelMissing(base + "/bsx/icl_label.txt")},
       base + "/bsx", {}},
      {"location with a trailing slash", base + "/ts/", [&] { makeDir(base + "/ts"); },
       {labelMissing(base + "/ts/icl_label.txt")}, base + "/ts", {}},
  };
  for (const PassCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.setup();
    Outcome out = runProbe(c.location);
    EXPECT_EQ(out.rc, 0);
    EXPECT_EQ(out.error, ICL_ERROR_NONE);
    EXPECT_EQ(out.event, 0);
    EXPECT_EQ(out.log, c.log);
    EXPECT_EQ(listDir(c.probed), c.leftAfter);
  }
  EXPECT_EQ(readFile(base + "/labelled/icl_label.txt"), kLabelBytes);
}

struct EarlyFailure {
  const char* name;
  std::string location;
  bool refuseMkdir;
  TICLError error;
  int event;
  std::vector<LogLine> log;
};

TEST(CapabilityTest, FailuresBeforeTheReadBackCarryTheirCodeAndLines) {
  TempDir dir;
  const std::string base = realBase(dir);
  writeFile(base + "/plain", "not a directory\n");
  const char* const relative = "icl-dirprobe-missing/x";
  const EarlyFailure cases[] = {
      {"empty location", "", false, ICL_ERROR_EMPTY_PATH, 0x23000180,
       {errorLine(kExists, "Received an empty path string as an iclLocation."),
        errorLine(kProbe, "Failed to determine if path exists.")}},
      {"missing relative location", relative, false, ICL_ERROR_PATH_NOT_FOUND, 0x23000180,
       {missingDir(relative),
        errorLine("fixPath", std::string("Path [") + relative + "] must be absolute"),
        errorLine(kCreate, "The destination path must start from slash."),
        errorLine(kProbe, std::string("Could not create directory: [") + relative + "]")}},
      {"directory that cannot be created", base + "//made/./here", true, ICL_ERROR_PATH_NOT_FOUND,
       0x23000180,
       {missingDir(base + "//made/./here"), creating(base + "/made"),
        errorLine(kCreate, "Failed to create directory [" + base + "/made]:\n[Permission denied]"),
        errorLine(kProbe, "Could not create directory: [" + base + "/made/here]")}},
      {"location is a regular file", base + "/plain", false, ICL_ERROR_FILE_WRITE, 0x23000239,
       {debugLine(kExists, "Path - [" + base + "/plain] Not Found"),
        notOpenedForWriting(base + "/plain/test_rdwrite.txt"),
        failedCall(base + "/plain/test_rdwrite.txt", "creating", "Not a directory")}},
  };
  for (const EarlyFailure& c : cases) {
    SCOPED_TRACE(c.name);
    FaultInjector faults;
    if (c.refuseMkdir) faults.failNth(1, EACCES, true, {SysOp::Mkdir});
    Outcome out = runProbe(c.location);
    EXPECT_EQ(out.rc, -1);
    EXPECT_EQ(out.error, c.error);
    EXPECT_EQ(out.event, c.event);
    EXPECT_EQ(out.log, c.log);
  }
  EXPECT_EQ(readFile(base + "/plain"), "not a directory\n");
  EXPECT_FALSE(fileExists("icl-dirprobe-missing"));
}

TEST(CapabilityTest, ALabelThatCannotBeOpenedForUpdateFailsWithTheScratchFileGone) {
  TempDir dir;
  const std::string label = dir.file("icl_label.txt");
  struct Case {
    const char* name;
    std::function<void()> plant;
    LogLine readerLine;
  };
  const Case cases[] = {
      {"label over the reader's limit", [&] { writeFile(label, std::string(65001, 'x')); },
       errorLine(kLoad, "File length exceeded the maximum file size supported by API.")},
      {"label is a FIFO", [&] { ASSERT_EQ(mkfifo(label.c_str(), 0666), 0); },
       errorLine(kLoad, "File [" + label + "] is not a regular file.")},
      {"label is a directory", [&] { makeDir(label); },
       errorLine(kLoad, "File [" + label + "] is not a regular file.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(label);
    c.plant();
    FileState before = stateOf(label);
    Outcome out = runProbe(dir.path());
    EXPECT_EQ(out.rc, -1);
    EXPECT_EQ(out.error, ICL_ERROR_FILE_WRITE);
    EXPECT_EQ(out.event, 0x23000239);
    EXPECT_EQ(out.log, (std::vector<LogLine>{c.readerLine, labelNotOpened(label)}));
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"icl_label.txt"});
    expectSameState(before, label);
  }
}

TEST(CapabilityTest, AReadOnlyLabelFailsForAUserWhoCannotWriteIt) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string cache = dir.file("cache");
  makeDir(cache);
  ASSERT_EQ(chmod(cache.c_str(), 0777), 0);
  const std::string label = cache + "/icl_label.txt";
  writeFile(label, kLabelBytes, 0444);
  const std::vector<LogLine> expected = {
      errorLine(kLoad, "fopen() failed to open the file [" + label + "]."),
      errorLine(kLoad, "Could not load the file [" + label + "]: open() failed: [Permission denied]"),
      labelNotOpened(label)};
  int rc = runUnprivileged([&]() -> int {
    if (access(cache.c_str(), W_OK | X_OK) != 0) return 253;
    Outcome out = runProbe(cache);
    if (out.rc != -1 || out.error != ICL_ERROR_FILE_WRITE) return 1;
    if (out.log != expected) return 2;
    if (fileExists(cache + "/test_rdwrite.txt")) return 3;
    return 0;
  });
  if (rc == 254) GTEST_SKIP() << "could not drop privileges";
  if (rc == 253) GTEST_SKIP() << "the temporary directory is out of an unprivileged user's reach";
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(readFile(label), kLabelBytes);
}

// Whatever another user plants at the scratch name is refused at once and
// left as it was, and so is every file it leads to.
TEST(CapabilityTest, WhatIsPlantedAtTheScratchNameIsRefusedAndLeftAlone) {
  TempDir outside;
  const std::string victim = makeVictim(outside);
  const std::string neverCreated = outside.file("never-created");
  struct Case {
    const char* name;
    std::function<void(const std::string&)> plant;
  };
  const Case cases[] = {
      {"symbolic link to another file",
       [&](const std::string& at) { ASSERT_EQ(symlink(victim.c_str(), at.c_str()), 0); }},
      {"hard link to another file",
       [&](const std::string& at) { ASSERT_EQ(link(victim.c_str(), at.c_str()), 0); }},
      {"dangling symbolic link",
       [&](const std::string& at) { ASSERT_EQ(symlink(neverCreated.c_str(), at.c_str()), 0); }},
      {"FIFO", [](const std::string& at) { ASSERT_EQ(mkfifo(at.c_str(), 0666), 0); }},
      {"directory", [](const std::string& at) { makeDir(at); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string scratch = dir.file("test_rdwrite.txt");
    c.plant(scratch);
    const FileState victimBefore = stateOf(victim);
    const FileState plantedBefore = stateOf(scratch);
    auto started = std::chrono::steady_clock::now();
    Outcome out = runProbe(dir.path());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(out.rc, -1);
    EXPECT_EQ(out.error, ICL_ERROR_FILE_WRITE);
    EXPECT_EQ(out.log, std::vector<LogLine>{notOpenedForWriting(scratch)});
    expectSameState(victimBefore, victim);
    expectSameState(plantedBefore, scratch);
    EXPECT_FALSE(fileExists(neverCreated));
  }
}

// Stands in for another user who swaps the scratch name between the write
// and the read/write open of the lock test.
enum class Swap { kHardLink, kSymbolicLink, kMovedIn };
Swap gSwap;
std::string gSwapTarget;
bool gSwapped;

int openSwappingScratch(const char* path, int flags, mode_t mode) {
  std::string name(path);
  const std::string suffix = "/test_rdwrite.txt";
  if (!gSwapped && (flags & O_ACCMODE) == O_RDWR && name.size() > suffix.size() &&
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
    gSwapped = true;
    unlink(path);
    int rc = gSwap == Swap::kHardLink       ? link(gSwapTarget.c_str(), path)
             : gSwap == Swap::kSymbolicLink ? symlink(gSwapTarget.c_str(), path)
                                            : rename(gSwapTarget.c_str(), path);
    if (rc != 0) ADD_FAILURE() << "swap failed: " << strerror(errno);
  }
  return sys::realCalls().open(path, flags, mode);
}

TEST(CapabilityTest, AFileSwappedInAfterTheWriteIsNeverLockedReownedOrRemoded) {
  const std::pair<const char*, Swap> cases[] = {
      {"hard link to another file", Swap::kHardLink},
      {"symbolic link to another file", Swap::kSymbolicLink},
      {"another user's file moved in", Swap::kMovedIn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    TempDir outside;
    TempDir dir;
    const std::string scratch = dir.file("test_rdwrite.txt");
    gSwap = c.second;
    gSwapTarget = makeVictim(outside);
    gSwapped = false;
    const FileState victimBefore = stateOf(gSwapTarget);
    Outcome out;
    {
      SeamRestore restore;
      sys::calls().open = openSwappingScratch;
      out = runProbe(dir.path());
    }
    EXPECT_TRUE(gSwapped);
    EXPECT_EQ(out.rc, -1);
    EXPECT_EQ(out.error, ICL_ERROR_FILE_WRITE);
    EXPECT_EQ(out.log, std::vector<LogLine>{notReopened(scratch)});
    if (c.second == Swap::kMovedIn) {
      expectSameState(victimBefore, scratch);
    } else {
      FileState expected = victimBefore;
      if (c.second == Swap::kHardLink) expected.links += 1;
      expectSameState(expected, gSwapTarget);
    }
  }
}

struct LockCall {
  int command;
  short type;
  short whence;
  off_t start;
  off_t length;
  bool operator==(const LockCall& o) const {
    return command == o.command && type == o.type && whence == o.whence && start == o.start &&
           length == o.length;
  }
};
std::ostream& operator<<(std::ostream& out, const LockCall& c) {
  return out << "{cmd " << c.command << " type " << c.type << " whence " << c.whence << " start "
             << c.start << " len " << c.length << "}";
}
std::vector<LockCall> gLockCalls;

int recordingLock(int fd, int command, struct flock* lock) {
  gLockCalls.push_back({command, lock->l_type, lock->l_whence, lock->l_start, lock->l_len});
  return sys::realCalls().fcntlLock(fd, command, lock);
}

TEST(CapabilityTest, LocksTheWholeFileWaitingThenReownsRemodesAndRemovesOnOneDescriptor) {
  TempDir dir;
  {
    SeamRestore restore;
    gLockCalls.clear();
    sys::calls().fcntlLock = recordingLock;
    EXPECT_EQ(runProbe(dir.path()).rc, 0);
  }
  EXPECT_EQ(gLockCalls, (std::vector<LockCall>{{F_SETLKW, F_WRLCK, SEEK_SET, 0, 0},
                                               {F_SETLK, F_UNLCK, SEEK_SET, 0, 0}}));

  FaultInjector faults;
  EXPECT_EQ(runProbe(dir.path()).rc, 0);
  std::vector<SysOp> trace = faults.trace();
  auto unlock = std::find(std::find(trace.begin(), trace.end(), SysOp::FcntlLock) + 1,
                          trace.end(), SysOp::FcntlLock);
  ASSERT_NE(unlock, trace.end());
  EXPECT_EQ(std::vector<SysOp>(unlock + 1, std::min(unlock + 6, trace.end())),
            (std::vector<SysOp>{SysOp::Fstat, SysOp::Fchown, SysOp::Fchmod, SysOp::Close,
                                SysOp::Unlink}));
}

TEST(CapabilityTest, WaitsWhileAnotherProcessHoldsTheScratchFileLocked) {
  TempDir dir;
  const std::string scratch = dir.file("test_rdwrite.txt");
  writeFile(scratch, "held\n");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    int fd = open(scratch.c_str(), O_RDWR);
    struct flock lk = {};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    if (fd < 0 || fcntl(fd, F_SETLKW, &lk) != 0) _exit(1);
    char byte = 'x';
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    usleep(300 * 1000);
    _exit(0);  // the lock goes with the process
  }
  close(ready[1]);
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  auto started = std::chrono::steady_clock::now();
  Outcome out = runProbe(dir.path());
  auto waited = std::chrono::steady_clock::now() - started;
  int status = 0;
  waitpid(holder, &status, 0);
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.error, ICL_ERROR_NONE);
  EXPECT_GE(waited, std::chrono::milliseconds(200));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fileExists(scratch));
}

// How often `op` was called before the first call of `anchor`.
long callsBefore(const std::vector<SysOp>& trace, SysOp op, SysOp anchor) {
  auto end = std::find(trace.begin(), trace.end(), anchor);
  return static_cast<long>(std::count(trace.begin(), end, op));
}

struct FaultCase {
  const char* name;
  SysOp op;
  long nth;
  int err;
  int rc;
  TICLError error;
  int event;
  std::vector<LogLine> log;
  const char* scratchBytes;  // null: no scratch file is left
};

TEST(CapabilityTest, EveryRefusedCallFailsItsStepWithItsCodeAndLine) {
  TempDir dir;
  const std::string scratch = dir.file("test_rdwrite.txt");
  const std::string label = dir.file("icl_label.txt");
  long readBackOpen = 0;
  long lockOpen = 0;
  long ownerFstat = 0;
  {
    FaultInjector clean;
    ASSERT_EQ(runProbe(dir.path()).rc, 0);
    lockOpen = callsBefore(clean.trace(), SysOp::Open, SysOp::FcntlLock);
    readBackOpen = lockOpen - 1;
    ownerFstat = callsBefore(clean.trace(), SysOp::Fstat, SysOp::Fchown);
  }
  // Under root, a set-group-ID directory gives the file a group that differs
  // from its owner's number, so that the chown line cannot mix them up.
  gid_t fileGroup = getegid();
  if (runningAsRoot()) {
    ASSERT_EQ(chown(dir.path().c_str(), 0, 65534), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 02700), 0);
    fileGroup = 65534;
  }
  const std::string uid = std::to_string(geteuid());
  const std::string gid = std::to_string(fileGroup);
  const char* sentence = kScratchBytes.c_str();
  const FaultCase cases[] = {
      {"create refused", SysOp::Open, 1, EACCES, -1, ICL_ERROR_FILE_WRITE, 0x23000239,
       {notOpenedForWriting(scratch), failedCall(scratch, "creating", "Permission denied")},
       nullptr},
      {"new file cannot be examined", SysOp::Fstat, 1, EIO, -1, ICL_ERROR_FILE_WRITE, 0x23000239,
       {notOpenedForWriting(scratch), failedCall(scratch, "examining", "Input/output error")},
       nullptr},
      {"file cannot be emptied", SysOp::Ftruncate, 1, EIO, -1, ICL_ERROR_FILE_WRITE, 0x23000239,
       {notOpenedForWriting(scratch), failedCall(scratch, "emptying", "Input/output error")},
       nullptr},
      {"disk full while writing", SysOp::Write, 1, ENOSPC, -1, ICL_ERROR_FILE_WRITE, 0x23000239,
       {notWritten(scratch), failedCall(scratch, "writing", "No space left on device")}, nullptr},
      {"close reports an error", SysOp::Close, 1, EIO, -1, ICL_ERROR_FILE_WRITE, 0x23000239,
       {notWritten(scratch), failedCall(scratch, "closing", "Input/output error")}, nullptr},
      {"read-back refused", SysOp::Open, readBackOpen, EACCES, -1, ICL_ERROR_FILE_WRITE, 0x23000239,
       {errorLine(kLoad, "fopen() failed to open the file [" + scratch + "]."),
        errorLine(kLoad,
                  "Could not load the file [" + scratch + "]: open() failed: [Permission denied]"),
        notReadBack(scratch)},
       nullptr},
      {"read/write open refused", SysOp::Open, lockOpen, EACCES, -1, ICL_ERROR_FILE_WRITE,
       0x23000239, {notReopened(scratch)}, nullptr},
      {"lock: EINVAL", SysOp::FcntlLock, 1, EINVAL, -1, ICL_ERROR_LOCK_NOT_SUPPORTED, 0x23000261,
       {errorLine(kProbe,
                  "fcntl() failed to establish a file lock - file locks are not supported in the "
                  "path specified for the index cache.")},
       nullptr},
      {"lock: EINTR", SysOp::FcntlLock, 1, EINTR, -1, ICL_ERROR_FILE_LOCK, 0x23000260,
       {errorLine(kProbe, "fcntl ()failed to establish a file lock. File [" + scratch + "]")},
       nullptr},
      {"lock: EAGAIN", SysOp::FcntlLock, 1, EAGAIN, -1, ICL_ERROR_FILE_LOCK, 0x23000260,
       {errorLine(kProbe, "fcntl ()failed to establish a file lock. File [" + scratch + "]")},
       nullptr},
      {"lock: ENOLCK", SysOp::FcntlLock, 1, ENOLCK, -1, ICL_ERROR_FILE_LOCK, 0x23000260,
       {errorLine(kProbe,
                  "Unknown fcntl error [37] returned while checking for file locking "
                  "capabilities.")},
       nullptr},
      {"unlock refused: only logged", SysOp::FcntlLock, 2, EBADF, 0, ICL_ERROR_NONE, 0,
       {debugLine(kProbe, "fcntl failed to release a file lock"), labelMissing(label)}, nullptr},
      {"owner cannot be read: EIO", SysOp::Fstat, ownerFstat, EIO, -1, ICL_ERROR_CHOWN, 15,
       {errorLine(kProbe, "stat() for " + scratch + " failed"),
        errorLine(kProbe,
                  "Error [5] returned by stat while checking for file chown capabilities.")},
       nullptr},
      {"owner cannot be read: ENOENT", SysOp::Fstat, ownerFstat, ENOENT, -1, ICL_ERROR_CHOWN, 15,
       {errorLine(kProbe, "File " + scratch + " does not exist"),
        errorLine(kProbe,
                  "Error [2] returned by stat while checking for file chown capabilities.")},
       nullptr},
      {"chown refused", SysOp::Fchown, 1, EPERM, -1, ICL_ERROR_CHOWN, 15,
       {errorLine(kProbe,
                  "Error [1] returned while checking for file chown capabilities by stetting GUID "
                  "[" + gid + "] and UID [" + uid + "] for [" + scratch + "].")},
       nullptr},
      {"chmod refused", SysOp::Fchmod, 1, EPERM, -1, ICL_ERROR_CHMOD, 0x23000261,
       {errorLine(kProbe, "Error [1] returned while checking for file chmod capabilities.")},
       nullptr},
      {"remove refused: only logged", SysOp::Unlink, 1, EBUSY, 0, ICL_ERROR_NONE, 0,
       {debugLine(kProbe, "Failed to remove [" + scratch + "], errno [16]"), labelMissing(label)},
       sentence},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(scratch);
    Outcome out;
    {
      FaultInjector faults;
      faults.failNth(c.nth, c.err, false, {c.op});
      out = runProbe(dir.path());
    }
    EXPECT_EQ(out.rc, c.rc);
    EXPECT_EQ(out.error, c.error);
    EXPECT_EQ(out.event, c.event);
    EXPECT_EQ(out.log, c.log);
    if (c.scratchBytes == nullptr) {
      EXPECT_FALSE(fileExists(scratch));
    } else {
      ASSERT_TRUE(fileExists(scratch));
      EXPECT_EQ(readFile(scratch), c.scratchBytes);
    }
  }
  // The removal was the only step refused: the file did get its new mode.
  struct stat st;
  ASSERT_EQ(::stat(scratch.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);
}

// Writes what it is given with one letter changed, and claims success.
ssize_t writeAltered(int fd, const void* buffer, size_t count) {
  std::string bytes(static_cast<const char*>(buffer), count);
  if (!bytes.empty()) bytes[0] = 't';
  return sys::realCalls().write(fd, bytes.data(), bytes.size());
}

TEST(CapabilityTest, AReadBackThatDiffersFromTheSentenceFails) {
  TempDir dir;
  const std::string scratch = dir.file("test_rdwrite.txt");
  Outcome out;
  {
    SeamRestore restore;
    sys::calls().write = writeAltered;
    out = runProbe(dir.path());
  }
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, ICL_ERROR_FILE_WRITE);
  EXPECT_EQ(out.log, std::vector<LogLine>{notWritten(scratch)});
  EXPECT_FALSE(fileExists(scratch)) << "a failed test removes its scratch file";
}

TEST(CapabilityTest, AFullFileSystemFailsTheWriteStep) {
  if (!runningAsRoot()) GTEST_SKIP() << "mounting a small tmpfs needs root";
  TempDir dir;
  const std::string mnt = dir.file("full");
  makeDir(mnt);
  const std::string scratch = mnt + "/test_rdwrite.txt";
  enum { kNoUnshare = 200, kNoMount = 201, kNotFull = 202 };
  // The mount lives in the child's own mount namespace and dies with it.
  int rc = runInChild([&]() -> int {
    if (unshare(CLONE_NEWNS) != 0) return kNoUnshare;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kNoMount;
    if (mount("icl-full", mnt.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k,mode=0755") != 0) {
      return kNoMount;
    }
    int fd = open((mnt + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    char chunk[4096] = {};
    while (fd >= 0 && write(fd, chunk, sizeof chunk) > 0) {
    }
    if (fd < 0 || errno != ENOSPC) return kNotFull;
    close(fd);
    Outcome out = runProbe(mnt);
    if (out.rc != -1 || out.error != ICL_ERROR_FILE_WRITE) return 1;
    if (out.log != std::vector<LogLine>{notWritten(scratch),
                                        failedCall(scratch, "writing", "No space left on device")}) {
      return 2;
    }
    if (fileExists(scratch)) return 3;
    return 0;
  });
  if (rc == kNoUnshare) GTEST_SKIP() << "unshare(CLONE_NEWNS) refused";
  if (rc == kNoMount) GTEST_SKIP() << "mounting a tmpfs refused";
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(listDir(mnt).empty()) << "the mount must not outlive the child";
}

}  // namespace
}  // namespace test
}  // namespace icl
