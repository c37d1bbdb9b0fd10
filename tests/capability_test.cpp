// The directory capability test (canFilesBeCreatedInDirectory): what it
// answers, the lines that report a failing step, what it leaves behind, and
// that it acts only on a scratch file it created itself, so that any number
// of checks may test one directory at once.

#include <sched.h>
#include <sys/utsname.h>

#include <set>

#include "Testing.h"

namespace icl::test {
namespace {

const std::string kCheck = "ICLController::canFilesBeCreatedInDirectory: ";
const std::string kSentence =
    "This is a write test to see if the index cache directory is valid.\n";

// The name this process gives its scratch files, up to the counter.
std::string ownScratchName() {
  struct utsname host;
  EXPECT_EQ(uname(&host), 0);
  return "test_rdwrite.txt." + std::string(host.nodename) + "." + std::to_string(getpid()) + ".";
}

// The answer, the error code and every log line; this process's scratch files are named <s>.
std::string probe(const std::string& location) {
  LogCapture log;
  ICLController controller("hostA", location.c_str());
  const int rc = controller.canFilesBeCreatedInDirectory();
  std::string out = std::to_string(rc) + " " + std::to_string(controller.GetICLError());
  for (const std::string& line : log.lines()) out += " | " + line;
  return std::regex_replace(out, std::regex(ownScratchName() + "[0-9]+"), "<s>");
}

Lines scratchFiles(const std::string& dir) {  // every file whose name begins with the scratch name
  Lines names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename().string().rfind("test_rdwrite.txt", 0) == 0)
      names.push_back(entry.path());
  return names;
}

// Checks of one directory by several processes at once all pass, one of them making it through
// backslashes, and leave nothing but what was there: here the fixed name an older version used.
TEST(CapabilityTest, ChecksAtOncePassAndLeaveTheDirectoryAsItWas) {
  TempDir dir;
  const std::string old = "an earlier, longer scratch text\n" + kSentence;
  writeFile(dir.file("test_rdwrite.txt"), old);
  const std::string deeper = backslashed(dir.file("new/deeper"));
  std::vector<pid_t> children;  // forked while this is the only thread
  for (const std::string& location : {dir.path() + "/", dir.path(), deeper, deeper}) {
    if ((children.emplace_back(fork())) == 0) {
      int failed = 0;
      for (int check = 0; check < 25; ++check) failed += probe(location).substr(0, 3) != "0 0";
      _exit(failed);
    }
  }
  for (pid_t child : children) {
    int status = -1;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0) << status / 256 << " failed";
  }
  using Paths = std::set<std::filesystem::path>;
  const Paths left(std::filesystem::recursive_directory_iterator(dir.path()), {});
  EXPECT_EQ(left, (Paths{dir.file("new"), dir.file("new/deeper"), dir.file("test_rdwrite.txt")}));
  EXPECT_EQ(readFile(dir.file("test_rdwrite.txt")), old);
  // A host name a file name cannot hold as it is (given in a namespace of its own): each byte
  // outside [A-Za-z0-9._-] is '_' in the scratch file's name.
  const int renamed = runInChild([&dir] {
    const char name[] = "Zz9-x.y_w\x01\xc3\xa9";
    if (unshare(CLONE_NEWUSER | CLONE_NEWUTS) != 0 || sethostname(name, sizeof name - 1) != 0)
      return 2;
    FaultInjector faults;
    probe(dir.path());
    for (const TracedCall& call : faults.trace())
      if (call.file.rfind(dir.file("test_rdwrite.txt.Zz9-x.y_w___."), 0) == 0) return 0;
    return 1;
  });
  if (renamed == 2) GTEST_SKIP() << "no user namespace here in which to rename the host";
  EXPECT_EQ(renamed, 0);
}

TEST(CapabilityTest, EachFailingStepHasItsCodeAndLines) {
  TempDir dir;
  ASSERT_EQ(chdir(dir.path().c_str()), 0);  // where a relative path would be made
  writeFile(dir.file("plain"), "x");
  writeFile(dir.file("icl_label.txt"), "INDEXCACHEPOOLID = 3\n");
  // Labels that cannot be updated: no regular file, more than a reader takes.
  for (const char* sub : {"odd", "odd/icl_label.txt", "big", "fits"}) makeDir(dir.file(sub));
  writeFile(dir.file("big/icl_label.txt"), std::string(65001, 'x'));
  writeFile(dir.file("fits/icl_label.txt"), std::string(65000, 'x'));
  const std::string label = dir.file("icl_label.txt");
  // The first directory made or examined.
  const std::string top = dir.path().substr(0, dir.path().find('/', 1));
  ASSERT_EQ(probe(dir.path()), "0 0");
  const std::string chown = "returned by stat while checking for file chown capabilities.";
  const std::string notOpened =
      "<E>fopen() failed to open the file for writing. [<d>/<s>] Index cache label could not be "
      "written. | <E>Test file [<d>/<s>]: ";
  const std::string notWholly =
      "<D>fopen failed to open the file for writing. [<d>/<s>] Index cache label could not be "
      "written. | <E>Test file [<d>/<s>]: ";
  const auto notForUpdate = [](const std::string& sub) {  // the label in <d><sub>
    const std::string file = "[<d>" + sub + "/icl_label.txt]";
    return "-1 10 | <D>fopen failed to open the existing ICL file for writing. ICL file: " + file +
           "  | <E>Index cache label " + file + " ";
  };
  const std::string dirFailed =
      "]: [No such file or directory] | E ICLController::CreateDirRecursive: Failed to ";
  const struct {
    std::string location;  // "": the directory
    SysOp op;              // Ftruncate, which the check never calls: no fault
    long nth;
    int err;
    std::string report;  // the answer, the error code, the lines; <d> the directory, <s> scratch,
                         // <E> and <D> the check's Error and Debug lines
    bool persistent = false;
  } cases[] = {
      {"rel/x", SysOp::Ftruncate, 0, 0,
       "-1 3 | D ICLController::DoesPathExist: Path - [rel/x]: [No such file or directory] | E "
       "fixPath: Path [rel/x] must be absolute | E ICLController::CreateDirRecursive: The "
       "destination path must start from slash. | <E>Could not create directory: [rel/x]"},
      {dir.file("made/./here"), SysOp::Mkdir, 1, EACCES,
       "-1 10 | D ICLController::DoesPathExist: Path - [<d>/made/./here]: [No such file or "
       "directory] | D ICLController::CreateDirRecursive: Creating directory [<d>/made] | E "
       "ICLController::CreateDirRecursive: Failed to create directory [<d>/made]:\n[Permission "
       "denied] | <E>Could not create directory: [<d>/made/here] | <E>Directory [<d>/made]: "
       "mkdir() failed: [Permission denied]"},
      {dir.file("made"), SysOp::Stat, 2, EIO,
       "-1 6 | D ICLController::DoesPathExist: Path - [<d>/made" + dirFailed + "stat directory [" +
           top + "]:\n[Input/output error] | <E>Could not create directory: [<d>/made] | " +
           "<E>Directory [" + top + "]: stat() failed: [Input/output error]"},
      {dir.file("plain"), SysOp::Ftruncate, 0, 0,
       "-1 10 | D ICLController::DoesPathExist: Path - [<d>/plain] Not Found | <E>fopen() failed "
       "to open the file for writing. [<d>/plain/<s>] Index cache label could not be written. | "
       "<E>Test file [<d>/plain/<s>]: creating failed: [Not a directory]"},
      {"", SysOp::Open, 1, EACCES, "-1 10 | " + notOpened + "creating failed: [Permission denied]"},
      {"", SysOp::Open, 1, EEXIST, "0 0"},  // a name taken: the next one
      {"", SysOp::Open, 1, EEXIST, "-1 10 | " + notOpened + "creating failed: [File exists]", true},
      {"", SysOp::Fstat, 1, EIO, "-1 10 | " + notOpened + "examining failed: [Input/output error]"},
      {"", SysOp::Write, 1, ENOSPC,
       "-1 10 | " + notWholly + "writing failed: [No space left on device]"},
      {"", SysOp::Close, 1, EIO, "-1 10 | " + notWholly + "closing failed: [Input/output error]"},
      {"", SysOp::Open, 2, EACCES,
       "-1 10 | E ZUPITextFileOpen::reloadFile: fopen() failed to open the file [<d>/<s>]. | E "
       "ZUPITextFileOpen::reloadFile: Could not load the file [<d>/<s>]: open() failed: "
       "[Permission denied] | <E>fopen() failed to open the test file for reading. [<d>/<s>] "
       "Index cache label could not be written."},
      {"", SysOp::Open, 3, EACCES,
       "-1 10 | <D>open failed to open the test file for read/write to do the file lock test. File "
       "[<d>/<s>]  | <E>Test file [<d>/<s>]: opening for reading and writing failed: [Permission "
       "denied]"},
      {"", SysOp::FcntlLock, 1, EINVAL,
       "-1 13 | <E>fcntl() failed to establish a file lock - file locks are not supported in the "
       "path specified for the index cache. | <E>Test file [<d>/<s>]: locking failed: [Invalid "
       "argument]"},
      {"", SysOp::FcntlLock, 1, EAGAIN,
       "-1 12 | <E>fcntl ()failed to establish a file lock. File [<d>/<s>] | <E>Test file "
       "[<d>/<s>]: locking failed: [Resource temporarily unavailable]"},
      {"", SysOp::FcntlLock, 1, ENOLCK,
       "-1 12 | <E>Unknown fcntl error [37] returned while checking for file locking "
       "capabilities. | <E>Test file [<d>/<s>]: locking failed: [No locks available]"},
      {"", SysOp::FcntlLock, 2, EBADF, "0 0 | <D>fcntl failed to release a file lock"},
      {"", SysOp::Fstat, 5, ENOENT,
       "-1 15 | <E>File <d>/<s> does not exist | <E>Error [2] " + chown},
      {"", SysOp::Fstat, 5, EIO, "-1 15 | <E>stat() for <d>/<s> failed | <E>Error [5] " + chown},
      {"", SysOp::Fchown, 1, EPERM,
       "-1 15 | <E>Error [1] returned while checking for file chown capabilities by stetting GUID "
       "[" +
           std::to_string(getegid()) + "] and UID [" + std::to_string(geteuid()) +
           "] for [<d>/<s>]."},
      {"", SysOp::Fchmod, 1, EPERM,
       "-1 14 | <E>Error [1] returned while checking for file chmod capabilities."},
      {"", SysOp::Unlink, 1, EBUSY,
       "-1 10 | <D>Failed to remove [<d>/<s>], errno [16] | <E>Test file [<d>/<s>]: removing "
       "failed: [Device or resource busy]"},
      {"", SysOp::Stat, 3, EIO,
       "-1 6 | <E>Index cache label [<d>/icl_label.txt] could not be examined: stat() failed: "
       "[Input/output error]"},
      {"", SysOp::Open, 4, EACCES,
       notForUpdate("") + "could not be opened for update: open() failed: [Permission denied]"},
      {dir.file("odd"), SysOp::Ftruncate, 0, 0, notForUpdate("/odd") + "is not a regular file."},
      {dir.file("fits"), SysOp::Ftruncate, 0, 0, "0 0"},
      {dir.file("big"), SysOp::Ftruncate, 0, 0,
       notForUpdate("/big") +
           "is larger than the [65000] bytes a label may hold ([65001] bytes), so it can be "
           "neither read nor updated."},
  };
  for (const auto& c : cases) {
    FaultInjector faults({{c.op, c.nth, c.err, c.persistent}});
    const std::string report = probe(c.location.empty() ? dir.path() : c.location);
    const std::string expected =
        replaced(replaced(c.report, "<E>", "E " + kCheck), "<D>", "D " + kCheck);
    EXPECT_EQ(replaced(report, dir.path(), "<d>"), expected) << sysOpName(c.op) << " #" << c.nth;
    const Lines left = scratchFiles(dir.path());
    EXPECT_EQ(left.size(), c.op == SysOp::Unlink ? 1u : 0u)
        << "a failed check removes its scratch file";
    // only the removal was refused: the scratch file got its new mode
    for (const std::string& file : left) EXPECT_EQ(modeOf(file), 0777u);
    for (const std::string& file : left) std::filesystem::remove(file);
  }
  EXPECT_EQ(readFile(label), "INDEXCACHEPOOLID = 3\n");
  EXPECT_EQ(probe(""),
            "-1 4 | E ICLController::DoesPathExist: Received an empty path string as an "
            "iclLocation. | E " +
                kCheck + "Failed to determine if path exists.");
}

// A file put in the scratch file's place while the check runs is left as it is, and said so. (A
// name another file holds is never opened: rows of the table above.)
TEST(CapabilityTest, NeverActsOnAFileItDidNotWrite) {
  TempDir dir;
  FaultInjector faults;  // puts the real calls back when it goes
  sys::calls().open = [](const char* path, int flags, mode_t mode) {
    const std::string name = path;
    if ((flags & (O_CREAT | O_ACCMODE)) == O_RDWR && name.find("/test_rdwrite") != name.npos) {
      writeFile(name + ".other", "another's\n", 0600);
      EXPECT_EQ(rename((name + ".other").c_str(), path), 0);
    }
    return sys::realCalls().open(path, flags, mode);
  };
  const std::string s = dir.file("<s>");
  EXPECT_EQ(
      probe(dir.path()),
      "-1 10 | D " + kCheck +
          "open failed to open the test file for read/write to do the file lock test. File [" + s +
          "]  | E " + kCheck + "Test file [" + s + "] is no longer the file this check created.");
  const Lines left = scratchFiles(dir.path());
  EXPECT_EQ(left.size() == 1 ? readFile(left[0]) : "", "another's\n");
}

// CreateDirRecursive, which the check uses to make its directory, and fixPath where the fuzz
// corpus cannot reach it (the canonical forms themselves are a fuzz property).

bool gRivalMakesAFile;

// The result, the path as left, and each line's message.
std::string create(const std::string& path) {
  LogCapture log;
  ICLController controller("hostA", "/");
  std::vector<char> buffer(path.c_str(), path.c_str() + path.size() + 1);
  std::string out =
      std::to_string(controller.CreateDirRecursive(buffer.data())) + " " + buffer.data();
  for (const std::string& line : log.lines()) out += " | " + line.substr(line.find(": ") + 2);
  return out;
}

TEST(CreateDirRecursive, CreatesMissingParentsFirstAndLeavesTheCanonicalForm) {
  TempDir dir;
  ASSERT_EQ(chdir(dir.path().c_str()), 0);  // where a relative path would be made
  writeFile(dir.file("file"), "x");
  const std::string d = dir.path(), made = " | Creating directory [" + d;
  EXPECT_EQ(create(backslashed(d + "\\b\\.\\c\\\\d\\")),
            "0 " + d + "/b/c/d/" + made + "/b]" + made + "/b/c]" + made + "/b/c/d]");
  EXPECT_TRUE(std::filesystem::is_directory(d + "/b/c/d"));
  EXPECT_EQ(create(d + "/b/c") + create("/"), "0 " + d + "/b/c0 /");
  EXPECT_EQ(create(d + "/file/sub"), "-1 " + d + "/file/sub | Failed to stat directory [" + d +
                                         "/file/sub]:\n[Not a directory]");
  // Another host makes the name between our stat and our mkdir: a directory will do.
  FaultInjector faults;  // puts the real calls back when it goes
  sys::calls().mkdir = [](const char* path, mode_t mode) {
    gRivalMakesAFile ? writeFile(path, "") : (void)sys::realCalls().mkdir(path, mode);
    return sys::realCalls().mkdir(path, mode);
  };
  EXPECT_EQ(create(d + "/r"), "0 " + d + "/r" + made + "/r]");
  gRivalMakesAFile = true;
  EXPECT_EQ(create(d + "/f"), "-1 " + d + "/f" + made + "/f] | Failed to create directory [" + d +
                                  "/f]:\n[File exists]");
  LogCapture log;
  ICLController controller("hostA", "/");
  EXPECT_EQ(controller.CreateDirRecursive(nullptr), -1);
  EXPECT_EQ(controller.fixPath(nullptr), 0x23000180);
  EXPECT_EQ(log.errors(),
            (Lines{"E ICLController::CreateDirRecursive: The directory path is empty.",
                   "E fixPath: Path [(null)] must be absolute"}));
}

}  // namespace
}  // namespace icl::test
