// A label never silently loses registrations or protection: a transient
// error, the size limit or a permission step fails the operation with a
// reason and keeps the label byte for byte; a change that changes nothing
// writes nothing.

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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

const char* const kLoad = "ZUPITextFileOpen::reloadFile";
const char* const kRewrite = "ICLController::UpdateICLInternal()";
const ICLData kCaller = {3, 7, 1001, 14};  // not listed in kLabel
const std::string kLabel =
    "# demo\nINDEXCACHEPOOLID = 3\nINDEXCACHEID = 7\nINDEXCACHETIMESTAMPMARKER = 1001\n"
    "USED_BY_ACCESSPATHID: 12 #hostA\nUSED_BY_ACCESSPATHID: 13 #hostB\n";

// Fails the calls that examine the label itself, by name or by descriptor,
// with gErr once gPass of them succeeded. A FaultInjector restores the seam.
int gErr = 0;
int gPass = 0;
bool failOnLabel(const std::string& path) {
  static const std::string name = "/icl_label.txt";
  return path.size() > name.size() &&
         path.compare(path.size() - name.size(), name.size(), name) == 0 && gPass-- <= 0;
}
int statFailingOnLabel(const char* path, struct stat* st) {
  return failOnLabel(path) ? (errno = gErr, -1) : sys::realCalls().stat(path, st);
}
int fstatFailingOnLabel(int fd, struct stat* st) {
  char at[4096] = "";
  ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), at, sizeof at - 1);
  return n > 0 && failOnLabel(at) ? (errno = gErr, -1) : sys::realCalls().fstat(fd, st);
}
void failLabelCalls(int err, int pass, bool byDescriptor) {
  gErr = err;
  gPass = pass;
  if (byDescriptor) {
    sys::calls().fstat = fstatFailingOnLabel;
  } else {
    sys::calls().stat = statFailingOnLabel;
  }
}

const std::pair<const char*, int (*)(ICLController&)> kOps[] = {
    {"update --allow-new", [](ICLController& c) { return c.UpdateICL(true); }},
    {"remove", [](ICLController& c) { return c.RemoveAccessPathIDfromICL(); }},
    {"check", [](ICLController& c) { return c.CheckICL(); }},
    {"rewrite of a copy read before", [](ICLController& c) {
       ICLData read;
       ++gPass;  // that read succeeds; the rewrite reads the label again for its attributes
       return c.InternalReadDataFromICL(read) == 0 ? c.UpdateICLInternal(ICL_UPDATE_ADD) : 0;
     }}};

TEST(LabelSafety, ALabelThatCannotBeExaminedFailsTheOperationAndStays) {
  for (const auto& op : kOps) {
    for (bool byDescriptor : {false, true}) {
      for (int err : {EIO, EACCES, ESTALE, EINTR, ENOMEM, EOVERFLOW}) {
        SCOPED_TRACE(std::string(op.first) + (byDescriptor ? " fstat " : " stat ") + strerror(err));
        TempDir dir;
        writeFile(dir.file("icl_label.txt"), kLabel);
        ICLController controller("hostC", dir.path().c_str());
        controller.SetICLData(kCaller);
        LogCapture log;
        {
          FaultInjector restores;
          failLabelCalls(err, 0, byDescriptor);
          EXPECT_EQ(op.second(controller), -1);
        }
        EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_READ);
        EXPECT_EQ(readFile(dir.file("icl_label.txt")), kLabel);
        const std::string why = std::string(byDescriptor ? "fstat()" : "stat()") +
                                " failed: [" + strerror(err) + "]";
        EXPECT_TRUE(log.contains(errorLine(
            kLoad, "Could not load the file [" + dir.file("icl_label.txt") + "]: " + why)));
      }
    }
  }
}

// A label that would grow beyond what a reader accepts, and a stale
// temporary file that cannot be removed: the label stays, one line says why.
TEST(LabelSafety, AWriteThatCannotBeDoneKeepsTheLabelAndSaysWhy) {
  std::string full = kLabel;
  int listed = 2;
  for (; full.size() < 64900; ++listed) {
    full += "USED_BY_ACCESSPATHID: " + std::to_string(1000 + listed) + " #host\n";
  }
  full += "#" + std::string(65001 - 32 - full.size() - 2, '-') + "\n";  // 32: our own line
  const struct {
    std::string label;
    int unlinkErr;  // of the stale temporary file's removal
    std::string why;
  } cases[] = {
      {full, 0, "] is full: it would grow to [65001] bytes, over the limit of [65000] bytes, "
                "listing [" + std::to_string(listed + 1) + "] access paths."},
      {kLabel, EIO, "] left unchanged: removing the stale temporary file ["},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir dir;
    writeFile(dir.file("icl_label.txt"), c.label);
    ICLController controller("hostC", dir.path().c_str());
    controller.SetICLData(kCaller);
    LogCapture log;
    {
      FaultInjector faults;
      if (c.unlinkErr != 0) faults.failNth(1, c.unlinkErr, false, {SysOp::Unlink});
      EXPECT_EQ(controller.UpdateICL(true), -1);
    }
    EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_WRITE);
    EXPECT_EQ(readFile(dir.file("icl_label.txt")), c.label);
    const std::vector<LogLine> errors = log.lines(EV_LOG_ERROR);
    ASSERT_EQ(errors.size(), 1u);  // not headed by "fopen() failed to open the file ..."
    EXPECT_NE(errors[0].message.find(c.why), std::string::npos) << errors[0].message;
  }

  // One byte shorter, it may grow to exactly the limit. One already too long
  // for any reader is not traded for a label of one path.
  TempDir dir;
  ICLController controller("hostC", dir.path().c_str());
  controller.SetICLData(kCaller);
  LogCapture quiet;
  writeFile(dir.file("icl_label.txt"), full.substr(0, full.size() - 2) + "\n");
  EXPECT_EQ(controller.UpdateICL(false), 0);
  EXPECT_EQ(readFile(dir.file("icl_label.txt")).size(), 65000u);
  full += std::string(65001 - full.size(), '#');
  writeFile(dir.file("icl_label.txt"), full);
  EXPECT_EQ(controller.UpdateICL(true), -1);
  EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_INVALID);
  EXPECT_EQ(readFile(dir.file("icl_label.txt")), full);
}

// The label's stat by name after the load, or the chown of the new label,
// fails: the rewrite keeps the owner and mode it read, or keeps the label.
TEST(LabelSafety, ARewriteKeepsTheOwnerAndModeOrTheOldLabel) {
  const bool root = runningAsRoot();  // only root can make a label of another owner
  for (int fchownErr : {0, EIO, ENOSPC, EDQUOT, EINTR}) {
    if (fchownErr != 0 && !root) continue;
    SCOPED_TRACE(fchownErr == 0 ? "stat" : strerror(fchownErr));
    TempDir dir;
    const std::string path = dir.file("icl_label.txt");
    writeFile(path, kLabel, 0604);  // no umask makes that of 0666
    ASSERT_TRUE(!root || chown(path.c_str(), 65534, 65534) == 0);
    ICLController controller("hostC", dir.path().c_str());
    controller.SetICLData(kCaller);
    LogCapture log;
    {
      FaultInjector faults;
      if (fchownErr != 0) faults.failNth(1, fchownErr, false, {SysOp::Fchown});
      failLabelCalls(EIO, 1, false);  // the load's own stat succeeds, any later one fails
      EXPECT_EQ(controller.UpdateICL(false), fchownErr == 0 ? 0 : -1);
    }
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(st.st_uid, root ? 65534u : geteuid());
    if (fchownErr == 0) {
      EXPECT_EQ(readFile(path), kLabel + "USED_BY_ACCESSPATHID: 14 #hostC\n");
      continue;
    }
    EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_WRITE);
    EXPECT_EQ(readFile(path), kLabel);
    EXPECT_TRUE(log.contains(errorLine(
        kRewrite, "Index cache label [" + path + "] left unchanged: setting the owner of [" + path +
                      ".tmp] failed: [" + strerror(fchownErr) + "]")));
  }
  if (!root) GTEST_SKIP() << "the chown cases need root to make a label of another owner";
}

TEST(LabelSafety, AChangeThatChangesNothingWritesNothingEvenInAReadOnlyDirectory) {
  for (mode_t mode : {0777, 0555}) {
    SCOPED_TRACE(mode == 0555 ? "read-only directory" : "writable directory");
    TempDir base;
    ASSERT_EQ(chmod(base.path().c_str(), 0755), 0);
    const std::string cache = base.file("cache");
    const std::string path = cache + "/icl_label.txt";
    makeDir(cache);
    writeFile(path, kLabel, 0666);
    ASSERT_EQ(chmod(cache.c_str(), mode), 0);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    int rc = runUnprivileged([&]() -> int {
      LogCapture log;
      ICLController remover("hostC", cache.c_str());
      remover.SetICLData(kCaller);  // path 14: not listed
      ICLController updater("hostA", cache.c_str());
      updater.SetICLData(ICLData{3, 7, 1001, 12});  // listed as asked already
      const bool warned = remover.RemoveAccessPathIDfromICL() == 0 &&
                          log.contains(debugLine(kRewrite, "Warning: Accesspath ID [14] was not "
                                                           "removed as it was not present in the "
                                                           "first place. Still marking success."));
      return (warned ? 0 : 1) | (updater.UpdateICL(false) == 0 ? 0 : 2);
    });
    if (rc == 254) GTEST_SKIP() << "could not drop privileges";
    EXPECT_EQ(rc, 0);
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(readFile(path), kLabel);
    EXPECT_FALSE(fileExists(path + ".tmp"));
  }
}

// A new lock file takes the directory's mode less the execute bits, whatever
// the umask; one who may write the directory but not open the lock file
// changes nothing rather than change the label unlocked.
TEST(LabelSafety, TheLockFileIsForThoseWhoMayWriteTheDirectory) {
  const mode_t previous = umask(077);
  for (auto modes : {std::pair<mode_t, mode_t>{0755, 0644}, {0775, 0664}, {0777, 0666}}) {
    SCOPED_TRACE(std::to_string(modes.first));
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), modes.first), 0);
    ICLController controller("hostC", dir.path().c_str());
    controller.SetICLData(kCaller);
    EXPECT_EQ(controller.WriteNewICL(), 0);
    struct stat st;
    ASSERT_EQ(stat(dir.file("icl_label.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, modes.second);
  }
  umask(previous);

  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  writeFile(dir.file("icl_label.txt"), kLabel, 0666);
  writeFile(dir.file("icl_label.lock"), "", 0444);
  int rc = runUnprivileged([&]() -> int {
    ICLController controller("hostC", dir.path().c_str());
    controller.SetICLData(kCaller);
    LogCapture quiet;
    return controller.UpdateICL(false) == -1 && controller.GetICLError() == ICL_ERROR_FILE_LOCK;
  });
  if (rc == 254) GTEST_SKIP() << "could not drop privileges";
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(readFile(dir.file("icl_label.txt")), kLabel);
}

}  // namespace
}  // namespace test
}  // namespace icl
