// A label is never half-written, a failed write never destroys it and says
// why, and no update is lost: an I/O error at every file-system call of a
// change, a kill at every call, many writers at once, links, others overtaking.

#include <signal.h>
#include <sys/statfs.h>
#include <sys/time.h>

#include <chrono>
#include <climits>
#include <stdexcept>
#include <thread>

#include "Testing.h"
#include "ZUPIFileOpen.h"
#include "icl/LabelLock.h"
#include "icl/LabelRetry.h"
#include "icl/WriterIdentity.h"

namespace icl::test {
namespace {

const std::string kOld = "INDEXCACHEPOOLID = 3\nINDEXCACHEID = 7\nINDEXCACHETIMESTAMPMARKER = 77\n";
const std::string kNew = kOld + "USED_BY_ACCESSPATHID: 12 #hostA\n";

// Adds (or removes) access path 12 to a label holding kOld (or kNew). An
// add may write a new label, so a read that fails must never look like "none".
int change(const TempDir& dir, bool add, ICLController* controller = nullptr) {
  ICLController own("hostA", dir.path().c_str());
  ICLController& c = controller != nullptr ? *controller : own;
  c.SetICLData(ICLData{3, 7, 77, 12});
  return add ? c.UpdateICL(true) : c.RemoveAccessPathIDfromICL();
}

std::vector<SysOp> traceOfOneChange(bool add) {
  TempDir first, dir;
  writeFile(first.file("icl_label.txt"), kOld);
  EXPECT_EQ(change(first, true), 0);  // what a process learns once
  writeFile(dir.file("icl_label.txt"), add ? kOld : kNew);
  FaultInjector faults;
  EXPECT_EQ(change(dir, add), 0);
  return faults.trace();
}

// A writer's own temporary file, with its unique part as "<writer>".
std::string withWriterHidden(std::string line) {
  return std::regex_replace(line, std::regex("\\.tmp-[0-9a-fn]+-[0-9]+-[0-9]+\\]"),
                            ".tmp-<writer>]");
}

// The next writer finds everything in order and no temporary file is left:
// by a failed writer itself, by a killed one (`killed`) once the next ran.
void expectRecovered(const TempDir& dir, bool killed) {
  auto noTemporaryFile = [&dir] {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      if (entry.path().filename().string().find(".tmp") != std::string::npos) return false;
    }
    return true;
  };
  EXPECT_TRUE(killed || noTemporaryFile());
  LogCapture quiet;
  EXPECT_EQ(change(dir, true), 0);
  EXPECT_EQ(readFile(dir.file("icl_label.txt")) + std::to_string(noTemporaryFile()), kNew + "1");
}

// What an error at one call of a change leaves: 0 and the new label, or -1,
// the error code, the old or new label and the Error line that names the
// step ("<d>" the directory, "<e>" the error's text).
struct Outcome {
  int result;
  TICLError error;
  bool changed;
  std::string line;
};
const Outcome kDone = {0, ICL_ERROR_NONE, true, ""};
const Outcome kModeless = {
    0, ICL_ERROR_NONE, true,
    "Could not give the new lock file [<d>/icl_label.lock] the directory's group and permissions: "
    "[<e>]. Other users may be unable to take the lock."};
const Outcome kLock = {-1, ICL_ERROR_FILE_LOCK, false,
                       "Could not take the index cache label lock [<d>/icl_label.lock]: [<e>]"};
const Outcome kClaim = {-1, ICL_ERROR_FILE_LOCK, false,
                        "Could not take the index cache label claim [<d>/icl_label.claim]: [<e>]"};
const Outcome kDir = {-1, ICL_ERROR_FILE_READ, false,
                      "Could not examine the index cache directory [<d>]: stat() failed: [<e>]"};
Outcome load(const std::string& call) {
  return {-1, ICL_ERROR_FILE_READ, false,
          "Could not load the file [<d>/icl_label.txt]: " + call + "() failed: [<e>]"};
}
Outcome unchanged(const std::string& step) {
  return {-1, ICL_ERROR_FILE_WRITE, false,
          "Index cache label [<d>/icl_label.txt] left unchanged: " + step +
              " [<d>/icl_label.txt.tmp-<writer>] failed: [<e>]"};
}
Outcome unsynced(const std::string& step) {
  return {-1, ICL_ERROR_FILE_WRITE, true,
          "Index cache label [<d>/icl_label.txt] was replaced, but " + step +
              " the directory [<d>/] failed: [<e>]. The change may not survive a power failure."};
}

TEST(LabelFaults, AnErrorOrAKillAtAnyCallLeavesTheOldOrTheNewLabelAndSaysWhy) {
  // Every call of a change in order, with what it leaves failing once and
  // failing for good: the lock file, the claim, the load, the temporary
  // file, the rename and the directory's sync. A kill before any call, or
  // after the last, leaves the old label or the new one.
  const struct {
    SysOp op;
    Outcome once, always;
  } calls[] = {
      {SysOp::Open, kLock, kLock},
      {SysOp::Stat, kLock, kLock},
      {SysOp::Open, kLock, kLock},
      {SysOp::Fstat, kLock, kLock},
      {SysOp::Fchmod, kModeless, unchanged("setting the permissions of")},
      {SysOp::FcntlLock, kLock, kLock},
      {SysOp::Open, kClaim, kClaim},
      {SysOp::Write, kClaim, kClaim},
      {SysOp::Fstat, kClaim, kClaim},
      {SysOp::Close, kDone, unchanged("closing")},
      {SysOp::Statfs, kDone, kDone},
      {SysOp::Stat, kDir, kDir},
      {SysOp::Stat, load("stat"), load("stat")},
      {SysOp::Open, load("open"), load("open")},
      {SysOp::Fstat, load("fstat"), load("fstat")},
      {SysOp::Read, load("read"), load("read")},
      {SysOp::Read, load("read"), load("read")},
      {SysOp::Fstat, load("fstat"), load("fstat")},
      {SysOp::Close, kDone, unchanged("closing")},
      {SysOp::Open, kDone, unchanged("creating")},
      {SysOp::Getdents64, kDone, kDone},
      {SysOp::Getdents64, kDone, kDone},
      {SysOp::Close, kDone, unchanged("closing")},
      {SysOp::Open, unchanged("creating"), unchanged("creating")},
      {SysOp::Fstat, unchanged("examining"), unchanged("examining")},
      {SysOp::Fchmod, unchanged("setting the permissions of"),
       unchanged("setting the permissions of")},
      {SysOp::Write, unchanged("writing"), unchanged("writing")},
      {SysOp::Fsync, unchanged("syncing"), unchanged("syncing")},
      {SysOp::Close, unchanged("closing"), unchanged("closing")},
      {SysOp::FcntlLock, kDone, kLock},
      {SysOp::Lstat, kDone, kClaim},
      {SysOp::Stat, kDone, kDir},
      {SysOp::Rename, unchanged("renaming"), unchanged("renaming")},
      {SysOp::Open, unsynced("opening"), unsynced("opening")},
      {SysOp::Fsync, unsynced("syncing"), unsynced("syncing")},
      {SysOp::Close, unsynced("closing"), unsynced("closing")},
      {SysOp::Lstat, kDone, kDone},
      {SysOp::Unlink, kDone, kDone},
      {SysOp::Close, kDone, kDone},
  };
  std::vector<SysOp> ops;
  for (const auto& call : calls) ops.push_back(call.op);
  for (bool add : {true, false}) {
    ASSERT_EQ(traceOfOneChange(add), ops);
    for (size_t at = 0; at <= ops.size(); ++at) {
      SCOPED_TRACE(std::string(add ? "add, " : "remove, ") + "call " + std::to_string(at + 1));
      TempDir killed;  // before this call, or after the last
      writeFile(killed.file("icl_label.txt"), add ? kOld : kNew);
      EXPECT_EQ(runInChild([&killed, at, add] {
                  FaultInjector faults;
                  faults.killAtNth(static_cast<long>(at + 1));
                  return change(killed, add);
                }),
                at < ops.size() ? -1 : 0);
      const std::string left = readFile(killed.file("icl_label.txt"));
      EXPECT_TRUE(left == kOld || left == kNew) << left;
      expectRecovered(killed, true);
      if (at == ops.size()) break;
      const long nth = std::count(ops.begin(), ops.begin() + at + 1, ops[at]);
      for (int err : {EIO, ENOSPC}) {
        for (bool persistent : {false, true}) {
          SCOPED_TRACE(std::string(sysOpName(ops[at])) + " #" + std::to_string(nth) + " " +
                       strerror(err) + (persistent ? ", persistent" : ", once"));
          const Outcome& expected = persistent ? calls[at].always : calls[at].once;
          TempDir dir;
          const std::string label = dir.file("icl_label.txt");
          writeFile(label, add ? kOld : kNew, 0604);  // a rewrite keeps the mode
          ICLController controller("hostA", dir.path().c_str());
          LogCapture log;
          {
            FaultInjector faults;
            faults.failNth(nth, err, persistent, {ops[at]});
            EXPECT_EQ(change(dir, add, &controller), expected.result);
          }
          EXPECT_EQ(controller.GetICLError(), expected.error);
          EXPECT_EQ(readFile(label), expected.changed == add ? kNew : kOld);
          EXPECT_EQ(modeOf(label), 0604u);
          std::string errors;
          for (const std::string& line : log.errors()) errors += withWriterHidden(line) + "\n";
          std::string line = std::regex_replace(expected.line, std::regex("<d>"), dir.path());
          line = std::regex_replace(line, std::regex("<e>"), strerror(err));
          EXPECT_EQ(errors.empty(), line.empty());
          EXPECT_NE(errors.find(line), std::string::npos) << line;
          expectRecovered(dir, ops[at] == SysOp::Unlink && persistent);
        }
      }
    }
  }
}

// A writer (access path > 0) adds its access path, sees it, removes it, sees
// it gone, and at last adds it for good (odd ones through CheckICL); a
// reader reads whole labels until "stop" exists. 0, or the step that failed.
int user(const TempDir& dir, int32_t accessPath) {
  ICLController controller("host", dir.path().c_str());
  ICLData found;
  while (accessPath == 0) {
    if (controller.ReadDataFromICL() != 0 || controller.GetICLData(found) != 0) return 5;
    if (found.indexCachePoolID != 3 || found.indexCacheID != 7 || found.timeStampMarker != 77)
      return 6;
    if (fileExists(dir.file("stop"))) return 0;
  }
  for (int round = 0;; ++round) {
    controller.SetICLData(ICLData{3, 7, 77, accessPath});
    if ((accessPath % 2 != 0 ? controller.CheckICL() : controller.UpdateICL(false)) != 0) return 1;
    if (round == 40) return 0;
    if (controller.InternalReadDataFromICL(found) != 0 || found.accessPathID != accessPath)
      return 2;
    if (controller.RemoveAccessPathIDfromICL() != 0) return 3;
    if (controller.InternalReadDataFromICL(found) != 0 || found.accessPathID != 0) return 4;
  }
}

TEST(LabelConcurrency, ManyWritersAndReadersAtOnceLoseNoUpdate) {
  for (bool processes : {true, false}) {
    TempDir dir;
    writeFile(dir.file("icl_label.txt"), kOld);
    LogCapture log;
    std::vector<int> outcomes(10, -1);
    std::vector<pid_t>
        children;  // forked while this is the only thread: a fork beside others may deadlock
    std::vector<std::thread> threads;
    for (int i = 0; i < 10; ++i) {
      const int32_t accessPath = i < 8 ? 101 + i : 0;
      if (!processes) {
        threads.emplace_back([&, i, accessPath] { outcomes[i] = user(dir, accessPath); });
      } else if ((children.emplace_back(fork())) == 0) {
        _exit(user(dir, accessPath));
      }
    }
    for (size_t i = 0; i < 10; ++i) {
      if (i == 8) writeFile(dir.file("stop"), "");
      int status = 0;
      if (!processes) threads[i].join();
      if (processes && waitpid(children[i], &status, 0) == children[i] && WIFEXITED(status)) {
        outcomes[i] = WEXITSTATUS(status);
      }
    }
    EXPECT_EQ(outcomes, std::vector<int>(10, 0))
        << (processes ? "processes" : "threads of one process");
    std::string expected = kOld, label = readFile(dir.file("icl_label.txt"));
    for (int id = 101; id < 109; ++id)
      expected += "USED_BY_ACCESSPATHID: " + std::to_string(id) + " #host\n";
    std::sort(label.begin() + kOld.size(), label.end());  // in whatever order they came
    std::sort(expected.begin() + kOld.size(), expected.end());
    EXPECT_EQ(label, expected);
  }
}

TEST(LabelLocking, AForkKeepsNoLockAndALockFileHasTheDirectorysMode) {
  TempDir dir;
  writeFile(dir.file("icl_label.txt"), kOld);
  {  // a wait limit too large for the clock means no limit, not an overflow
    setLabelLockWaitLimit(std::chrono::milliseconds(LLONG_MAX));
    FaultInjector faults;
    faults.failNth(1, EINTR, false, {SysOp::FcntlLock});
    EXPECT_EQ(change(dir, true), 0);
  }
  setLabelLockWaitLimit(std::chrono::milliseconds(100));  // for the child below
  {  // a log sink that throws ends the operation, but nothing escapes the API (gtest would see it)
    EvSetLogSink(
        [](EvLogLevel, const char*, const char*, void*) { throw std::runtime_error("sink"); },
        nullptr);
    ICLController thrown("hostA", dir.path().c_str()), missing("hostA", dir.file("none").c_str());
    thrown.SetICLData(ICLData{3, 7, 77, 14});
    ZUPITextFileOpen none(dir.file("none").c_str(), nullptr, true);  // each of them logs a line
    EXPECT_EQ(thrown.UpdateICL(true) + missing.ReadDataFromICL() +
                  missing.canFilesBeCreatedInDirectory() + none.reloadFile(true),
              -4);
    EvSetLogSink(nullptr, nullptr);
    EXPECT_EQ(readFile(dir.file("icl_label.txt")), kNew);
  }
  {  // a child forked while the lock is held does not keep it once the parent lets go
    LabelLock parent;
    int err = 0;
    ASSERT_EQ(parent.acquire(dir.file("icl_label.lock"), err), LockResult::Held);
    const pid_t child = fork();
    if (child == 0) {
      sleep(60);  // killed below: it must not be what frees the lock
      _exit(0);
    }
    parent.release();
    LabelLock next;
    EXPECT_EQ(next.acquire(dir.file("icl_label.lock"), err), LockResult::Held);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  // A new lock file takes the directory's mode less its execute bits, whatever the umask.
  const mode_t umaskBefore = umask(077);
  for (auto modes : {std::pair<mode_t, mode_t>{0755, 0644}, {0775, 0664}, {0777, 0666}}) {
    TempDir fresh;
    ASSERT_EQ(chmod(fresh.path().c_str(), modes.first), 0);
    EXPECT_EQ(change(fresh, true), 0);
    EXPECT_EQ(modeOf(fresh.file("icl_label.lock")), modes.second);
  }
  umask(umaskBefore);
}

// Another writer acts just before this writer's next lstat (the first is
// its last check of its claim before the rename); it may act again then.
void (*gOtherWriter)(const TempDir&);
const TempDir* gDir;
int lstatAfterOtherWriter(const char* path, struct stat* st) {
  if (gOtherWriter != nullptr) {
    const auto act = gOtherWriter;
    gOtherWriter = nullptr;
    act(*gDir);
  }
  return sys::realCalls().lstat(path, st);
}

void writeOld(const std::string& path, const std::string& bytes, int minutesAgo) {
  writeFile(path, bytes);
  const struct timeval then[2] = {{time(nullptr) - minutesAgo * 60, 0},
                                  {time(nullptr) - minutesAgo * 60, 0}};
  ASSERT_EQ(utimes(path.c_str(), then), 0);
}

// What the other writer does: before the change, or while it runs.
std::string gDead;  // the writer tag of a process of this host that is gone
void replaceLabel(const TempDir& d) {
  writeFile(d.file("other.new"), kOld + "USED_BY_ACCESSPATHID: 99 #other\n");
  ASSERT_EQ(rename(d.file("other.new").c_str(), d.file("icl_label.txt").c_str()), 0);
}
void touchLabel(const TempDir& d) {  // before every check
  static int times = 0;
  writeFile(d.file("other.new"), kOld + "# " + std::to_string(++times) + "\n");
  ASSERT_EQ(rename(d.file("other.new").c_str(), d.file("icl_label.txt").c_str()), 0);
  gOtherWriter = touchLabel;
}
void dropClaim(const TempDir& d) { ASSERT_EQ(unlink(d.file("icl_label.claim").c_str()), 0); }
void plantTemporaries(const TempDir& d) {
  writeFile(d.file("icl_label.txt.tmp"), "half");
  writeFile(d.file("icl_label.txt.tmp-otherhost-1-0"), "half");
  writeFile(d.file("icl_label.txt.tmp-" + gDead + "-0"), "half");
  writeOld(d.file("icl_label.txt.tmp-otherhost-2-0"), "half", 16);
}
void liveClaim(const TempDir& d) { writeFile(d.file("icl_label.claim"), "otherhost-1\n"); }
void deadClaim(const TempDir& d) { writeFile(d.file("icl_label.claim"), gDead + "\n"); }
void oldClaim(const TempDir& d) { writeOld(d.file("icl_label.claim"), "otherhost-1\n", 11); }
void linkAt(const TempDir& d, const char* name) {
  writeFile(d.file("victim"), "other's data\n", 0600);
  ASSERT_EQ(symlink(d.file("victim").c_str(), d.file(name).c_str()), 0);
}
void lockLink(const TempDir& d) { linkAt(d, "icl_label.lock"); }
void claimLink(const TempDir& d) { linkAt(d, "icl_label.claim"); }
void temporaryLink(const TempDir& d) { linkAt(d, "icl_label.txt.tmp"); }
void holdsChange(const TempDir& d) { writeFile(d.file("icl_label.txt"), kNew); }

struct Fault {
  SysOp op;
  long nth;
  int err;
  bool persistent;
};

// A writer among others, or beside what others left, or refused a call:
// - overtaken (its label replaced, its lock or claim taken) between its load and its rename, it
//   redoes its change on the label as it is then, or fails and says so;
// - it never removes another writer's live temporary file, takes over only claims and leftovers
//   of writers gone, and follows no link;
// - interrupted calls are repeated; where locks are refused, or there are no open file
//   description locks, or no locks at all, the label is changed all the same; without its lock
//   file, a directory that may be writable counts as writable (no unlocked change), a read-only
//   one is no place for a rival's lock either;
// - 0 means on disk: a change syncs its new file and then the directory (in the order of the
//   trace above), and one that changes no byte syncs the label and the directory, so that a retry
//   after a failed directory sync answers 0 only once the change is durable.
TEST(LabelWriters, AWriterAmongOthersChangesTheLabelOrFailsAsEachRowSays) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  gDead = processSpaceId() + "-" + std::to_string(gone);
  std::string boot = readFile("/proc/sys/kernel/random/boot_id");  // where a writer's tag begins
  boot.erase(std::remove(boot.begin(), boot.end(), '-'), boot.end());
  EXPECT_EQ(gDead.substr(0, 32), boot.substr(0, 32));
  const std::string both =
      kOld + "USED_BY_ACCESSPATHID: 99 #other\nUSED_BY_ACCESSPATHID: 12 #hostA\n";
  const std::string d = "D ICLController::UpdateICLInternal(): ",
                    e = "E ICLController::UpdateICL: ";
  const std::string redone = d + "Index cache label [<d>/icl_label.txt] was changed by another " +
                             "writer after it was loaded; this change was not written.";
  const std::string gaveUp =
      "E ICLController::UpdateICL: The index cache label in [<d>] was not changed: another writer "
      "changed it, or took the writers' lock, each of the [4] times this change was about to be "
      "written.";
  const std::string taken =
      "D ICLController::UpdateICLInternal(): The writers' lock of the index cache label "
      "[<d>/icl_label.txt] was taken by another writer before this change was written; it was not "
      "written.";
  const std::string timedOut =
      "E ICLController::UpdateICL: Timed out after [100] ms waiting for the index cache label "
      "claim "
      "[<d>/icl_label.claim] of writer [otherhost-1]. That writer does not see this host's lock: "
      "the file system does not pass locks between its clients.";
  const auto notTaken = [&e](const std::string& what, const std::string& why) {
    return e + "Could not take the index cache label " + what + " [<d>/icl_label." + what + "]: [" +
           why + "]";
  };
  const std::string noLockFile =
      "E ICLController::UpdateICL: Cannot open the lock file [<d>/icl_label.lock]: [Permission "
      "denied]. The index cache label was not changed: without the lock, the change could undo "
      "another writer's. Give this user write access to the lock file.";
  const auto unsynced = [](const std::string& what) {
    return "E ICLController::UpdateICLInternal(): Index cache label [<d>/icl_label.txt] already "
           "holds this change, but syncing [" +
           what + "] failed: [Input/output error]. The change may not survive a power failure.";
  };
  const auto removed = [&d](const std::string& writer) {
    return d + "Removed the temporary file [<d>/icl_label.txt.tmp-" + writer +
           "] left by an interrupted writer.";
  };
  const auto tookOver = [](const std::string& writer) {
    return "D ICLController::UpdateICL: Took over the claim [<d>/icl_label.claim] of writer [" +
           writer + "], which is gone.";
  };
  const Lines live = {"icl_label.txt.tmp", "icl_label.txt.tmp-otherhost-1-0"},
              left = {"icl_label.txt.tmp-" + gDead + "-0", "icl_label.txt.tmp-otherhost-2-0"},
              claim = {"icl_label.claim"}, victim = {"victim"},
              swept = {removed(gDead + "-0"), removed("otherhost-2-0")};
  const Lines linkLoop = {notTaken("lock", "Too many levels of symbolic links")},
              fileUnsynced = {unsynced("<d>/icl_label.txt")}, dirUnsynced = {unsynced("<d>/")};
  const SysOp lock = SysOp::FcntlLock;
  const Fault noLock = {SysOp::Open, 1, EACCES, false};
  const struct {
    void (*before)(const TempDir&);  // what others left
    std::vector<Fault> faults;
    void (*act)(const TempDir&);  // another writer, while this one runs
    int result;
    std::string label;
    Lines lines;                 // every Error line, and Debug lines; "<d>" the directory
    Lines kept = {}, gone = {};  // files of others after the change
    long locks = 0, syncs = 0;   // fcntl and fsync calls, where counted
  } rows[] = {
      {nullptr, {}, replaceLabel, 0, both, {redone}},
      {nullptr, {}, touchLabel, -1, kOld + "# 8\n", {gaveUp}},
      {nullptr, {{lock, 2, EAGAIN, false}}, nullptr, 0, kNew, {taken}},  // the lock taken over
      {nullptr, {}, dropClaim, 0, kNew, {taken}},
      {plantTemporaries, {}, nullptr, 0, kNew, swept, live, left},
      {liveClaim, {}, nullptr, -1, kOld, {timedOut}, claim},
      {deadClaim, {}, nullptr, 0, kNew, {tookOver(gDead)}, {}, claim},
      {oldClaim, {}, nullptr, 0, kNew, {tookOver("otherhost-1")}, {}, claim},
      {lockLink, {}, nullptr, -1, kOld, linkLoop, victim},
      {claimLink, {}, nullptr, -1, kOld, {notTaken("claim", "not a regular file")}, victim},
      {temporaryLink, {}, nullptr, 0, kNew, {}, victim},
      {nullptr, {{SysOp::Open, 1, EINTR, false}}, nullptr, 0, kNew, {}, {}, {}, 2, 2},
      {nullptr, {{SysOp::Read, 1, EINTR, false}}, nullptr, 0, kNew, {}, {}, {}, 2},
      {nullptr, {{SysOp::Write, 1, EINTR, false}}, nullptr, 0, kNew, {}, {}, {}, 2},
      {nullptr, {{SysOp::Fsync, 1, EINTR, false}}, nullptr, 0, kNew, {}, {}, {}, 2, 3},
      {nullptr, {{lock, 1, EINTR, false}}, nullptr, 0, kNew, {}, {}, {}, 3},
      {nullptr, {{lock, 1, ENOLCK, true}}, nullptr, 0, kNew, {}, {}, {}, 1},
      {nullptr, {{lock, 1, EINVAL, false}}, nullptr, 0, kNew, {}, {}, {}, 3},
      {nullptr, {{lock, 1, EINVAL, true}}, nullptr, 0, kNew, {}, {}, {}, 2},
      {nullptr, {noLock}, nullptr, -1, kOld, {noLockFile}},  // no change unlocked
      {nullptr, {noLock, {SysOp::Access, 1, EIO, false}}, nullptr, -1, kOld, {noLockFile}},
      {nullptr, {noLock, {SysOp::Access, 1, EROFS, false}}, nullptr, 0, kNew, {}},
      {holdsChange, {{SysOp::Fsync, 1, EIO, false}}, nullptr, -1, kNew, fileUnsynced, {}, {}, 0, 1},
      {holdsChange, {{SysOp::Fsync, 2, EIO, false}}, nullptr, -1, kNew, dirUnsynced, {}, {}, 0, 2},
      {holdsChange, {}, nullptr, 0, kNew, {}, {}, {}, 0, 2},
  };
  setLabelLockWaitLimit(std::chrono::milliseconds(100));
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    const auto& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i + 1));
    TempDir dir;
    writeFile(dir.file("icl_label.txt"), kOld);
    if (row.before) row.before(dir);
    LogCapture log;
    FaultInjector faults;
    for (const Fault& f : row.faults) faults.failNth(f.nth, f.err, f.persistent, {f.op});
    gOtherWriter = row.act;
    gDir = &dir;
    sys::calls().lstat = lstatAfterOtherWriter;
    EXPECT_EQ(change(dir, true), row.result);
    gOtherWriter = nullptr;
    EXPECT_EQ(readFile(dir.file("icl_label.txt")), row.label);
    Lines errors;
    for (const std::string& line : row.lines) {
      const std::string expected = std::regex_replace(line, std::regex("<d>"), dir.path());
      if (expected[0] == 'E') errors.push_back(expected);
      EXPECT_EQ(log.count(expected), 1) << expected;
    }
    EXPECT_EQ(log.errors(), errors);
    for (const std::string& name : row.kept)
      EXPECT_EQ(readFile(dir.file(name)).substr(0, 4),
                name.find(".tmp") != name.npos ? "half" : "othe");
    for (const std::string& name : row.gone) EXPECT_FALSE(fileExists(dir.file(name))) << name;
    EXPECT_FALSE(row.result == 0 && fileExists(dir.file("icl_label.claim")));
    EXPECT_TRUE(row.locks == 0 || faults.calls(lock) == row.locks);
    EXPECT_TRUE(row.syncs == 0 || faults.calls(SysOp::Fsync) == row.syncs);
  }
  setLabelLockWaitLimit(std::chrono::milliseconds(30000));
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
  // A load examines the directory (stat 1), then the label (stat 2, open 1,
  // read 1); a retry after ESTALE first looks the label up (getxattr, open 2,
  // read 2), one after ENOENT lists the directory. A writer's lock (fcntl 1)
  // is followed by a look-up and a read lock (fcntl 2); its change, by one more look-up.
  const std::pair<SysOp, long> open = {SysOp::Open, 1}, read = {SysOp::Read, 1},
                               stat = {SysOp::Stat, 2}, lock = {SysOp::FcntlLock, 2};
  const struct {
    bool shared, label, writer;
    std::pair<SysOp, long> call;  // fails with `err` `times` times in a row from its n-th call
    int err;
    long times;
    TICLError error;
    long retries, lookups;  // loads tried again; names looked up at the server
  } rows[] = {
      {true, true, false, open, ESTALE, 2, ICL_ERROR_NONE, 1, 1},
      {true, true, false, read, ESTALE, 2, ICL_ERROR_NONE, 1, 1},
      {true, true, false, open, ESTALE, 1000, ICL_ERROR_FILE_READ, 10, 10},  // for good
      {true, true, false, stat, ENOENT, 1, ICL_ERROR_NONE, 1, 0},  // missing by name, listed
      {true, false, false, stat, ENOENT, 0, ICL_ERROR_FILE_NOT_FOUND, 0, 0},  // not listed
      {true, true, false, open, EACCES, 2, ICL_ERROR_FILE_READ, 0, 1},
      {false, true, false, open, ESTALE, 2, ICL_ERROR_FILE_READ, 0, 0},  // on a local disk
      {true, true, true, lock, ESTALE, 2, ICL_ERROR_NONE, 0, 4},         // under the writers' lock
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    const auto& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i + 1));
    TempDir dir;
    if (row.label) writeFile(dir.file("icl_label.txt"), row.writer ? kOld : kNew);  // one to change
    writeFile(dir.file("icl_label.lock"), "");
    ICLController controller("hostA", dir.path().c_str());
    controller.SetICLData(ICLData{3, 7, 77, 12});
    LogCapture log;
    FaultInjector faults;
    sys::calls().statfs = row.shared ? statfsAs<0x65735546> : statfsAs<0xEF53>;  // FUSE, ext4
    for (long n = 0; n < row.times; ++n)
      faults.failNth(row.call.second + n, row.err, false, {row.call.first});
    EXPECT_EQ(row.writer ? controller.UpdateICL(false) : controller.ReadDataFromICL(),
              row.error == ICL_ERROR_NONE ? 0 : -1);
    EXPECT_EQ(controller.GetICLError(), row.error);
    EXPECT_EQ(faults.calls(SysOp::Getxattr), row.lookups);
    EXPECT_EQ(log.count("loading it again"), row.retries);
  }
}

}  // namespace
}  // namespace icl::test
