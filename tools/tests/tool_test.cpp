// The icl tool, run as a process: tables of command lines with the exit
// status, standard output and standard error each must give, over every
// command's success and failure paths, JSON output written out whole.

#include <stdlib.h>

#include <sstream>
#include <thread>

#include "ICLToolSupport.h"
#include "IdxCacheDirInfo.h"
#include "Testing.h"

namespace icl::test {
namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

// `text` as one word for sh.
std::string quoted(const std::string& text) { return "'" + replaced(text, "'", "'\\''") + "'"; }

// Runs an sh command line; its output goes to files, so nothing blocks.
ToolRun runShell(const std::string& line) {
  static TempDir files;
  const std::string out = files.file("out"), err = files.file("err");
  const int status = system(("(" + line + ") >" + out + " 2>" + err).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

// The built icl with the words of `line` (split at ' ', '' an empty one, '~' a
// space), standing for "%s" in the shell line `around`.
ToolRun runTool(const std::string& line, std::string around = "%s") {
  std::string command = ICL_TOOL_PATH;
  std::istringstream words(line);
  for (std::string word; std::getline(words, word, ' ');)
    command += " " + quoted(word == "''" ? "" : replaced(word, "~", " "));
  return runShell(around.replace(around.find("%s"), 2, command));
}

// "" must be empty, "=TEXT" must be TEXT, any other TEXT must be held.
void expectText(const std::string& actual, const std::string& expected, const char* what) {
  if (expected.empty() || expected[0] == '=')
    EXPECT_EQ(actual, expected.substr(expected.empty() ? 0 : 1)) << what;
  else
    EXPECT_NE(actual.find(expected), std::string::npos) << what << " lacks: " << expected << "\n"
                                                        << actual;
}

const std::string kRunAgain = "  (run again with -v for the library's full log)\n";

struct Row {
  std::string line;  // after "icl": words split at ' ' ('' an empty one), '@' the test's
                     // directory, '~' a space
  int status;
  std::string out, err = "";  // as expectText takes them
  std::string around = "%s";  // a shell line around the tool's
};

// Runs each row; a usage error's text ends with the usage.
void runRows(const std::vector<Row>& rows, const std::string& dir) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    ToolRun run = runTool(replaced(row.line, "@", dir), replaced(row.around, "@", dir));
    EXPECT_EQ(run.status, row.status) << run.out << run.err;
    expectText(run.out, replaced(row.out, "@", dir), "standard output");
    expectText(run.err, replaced(row.err, "@", dir), "standard error");
    if (row.status != 2 || row.line.find("--json") != std::string::npos) continue;
    EXPECT_NE(run.err.find("\nUsage: icl "), std::string::npos);
    EXPECT_NE(run.err.find("\nRun 'icl "), std::string::npos);
  }
}

TEST(ToolUsage, BadCommandLinesExitWith2AOneLineMessageAndTheUsage) {
  TempDir dir;
  const std::string made = "new @ --pool 3 --cache 7 --path 12 --marker 5";
  const std::string helpOfCheck = runTool("help check").out;
  ASSERT_EQ(helpOfCheck.rfind("Usage: icl check DIR --pool ID --cache ID --path ID", 0), 0u);
  const std::vector<Row> rows = {
      {"", 2, "", "icl: no command given\n"},
      {"frob @", 2, "", "icl: unknown command 'frob'\n"},
      {"--pool 3 show @", 2, "", "icl: option --pool goes after the command\n"},
      {"check", 2, "",
       "icl check: missing the index cache directory DIR and the required options "
       "--pool, --cache and --path\n"},
      {"show ''", 2, "", "icl show: the index cache directory DIR must not be empty\n"},
      {"show @ other", 2, "", "icl show: unexpected argument 'other' (only one DIR)\n"},
      {"version x", 2, "", "icl version: unexpected argument 'x'\n"},
      {"help frob", 2, "", "icl help: no command 'frob' to help with\n"},
      {"check @ --pool x", 2, "", "icl check: --pool: 'x' is not a decimal number\n"},
      {"check @ --pool=", 2, "", ": --pool: empty value\n"},
      {"check @ --pool 0", 2, "", ": --pool: 0 is no id (0 means unset)\n"},
      {"check @ --pool 2147483648", 2, "", "'2147483648' is out of range for a signed 32-bit id"},
      {"check @ --marker 9223372036854775808", 2, "", "' is out of range for a 64-bit marker\n"},
      {"check @ --marker 0", 2, "", ": --marker: the marker must not be 0 (0 means unset)\n"},
      {"check @ --wait -1", 2, "", ": --wait: '-1' is out of range (0 to 86400 seconds)\n"},
      {"check @ --pool 3 --pool=3", 2, "", ": option --pool given more than once\n"},
      {"check @ --path", 2, "", ": option --path needs a value\n"},
      {"check @ --bogus", 2, "", ": unknown option '--bogus'\n"},
      {"du @ --pool 3", 2, "", "icl du: option --pool does not apply to du\n"},
      {"du @ --detail=yes", 2, "", ": option --detail takes no value\n"},
      {"update @ --pool 3 --cache 7 --path 12 --allow-new", 2, "", ": --allow-new needs --marker"},
      {made + " --host a\nINDEXCACHEPOOLID~=~9", 2, "", "--host must not contain control"},
      {made + " --host=", 2, "", ": --host must not be empty\n"},
      {made + " --description " + std::string(256, 'd'), 2, "", ": --description must be at most"},
      {"show -- -x", 1, "", "icl show: -x: ICL_ERROR_PATH_NOT_FOUND (3)"},  // '--' before a DIR
      {"--json check @ --pool 0", 2,
       "={\"schema\":1,\"command\":\"check\",\"ok\":false,\"error\":{\"name\":\"USAGE\","
       "\"code\":null,\"event\":null,\"message\":\"--pool: 0 is no id (0 means "
       "unset)\"},\"usage\":\"icl check DIR --pool ID --cache ID --path ID [--marker N] "
       "[--wait SECONDS]\"}\n"},
      {"check @ --pool bad -h", 0, "=" + helpOfCheck, ""},  // help wins over what is wrong
  };
  runRows(rows, dir.path());
}

TEST(ToolUsage, CompletionOffersTheCommandsAndTheOptionsEachTakes) {
  const auto complete = [](const std::string& words) {
    const std::string script =
        "source " ICL_BASH_COMPLETION "; COMP_WORDS=(" + words +
        "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _icl; echo ${COMPREPLY[*]}";
    return runShell("bash -c " + quoted(script)).out;
  };
  const std::pair<std::string, std::string> completions[] = {
      {"icl ''", "show check update remove new test-dir du version help\n"},
      {"icl --json s", "show\n"},
      {"icl du /tmp -", "--detail --json --verbose -v --quiet -q --host --help -h --version\n"},
      {"icl help t", "test-dir\n"},
      {"icl check /tmp --pool 3 --host h --w", "--wait\n"},
      {"icl test-dir /tmp --h", "--host --help\n"},  // one branch for show and test-dir
      {"icl help --j", "--json\n"}};
  for (const auto& c : completions) EXPECT_EQ(complete(c.first), c.second) << c.first;
}

TEST(ToolCommands, EveryCommandsSuccessAndFailureInTextAndJson) {
  TempDir dir;
  for (const char* sub : {"c", "empty", "invalid", "odd", "mib", "du", "du/ZU_Index",
                          "du/ZU_Index/part", "du/ZU_SIDB", "dulink", "dulink/ZU_SIDB"})
    makeDir(dir.file(sub));
  // A well-known sub-directory that is a link is measured where it leads; a link inside is not.
  ASSERT_EQ(symlink("../du/ZU_Index", dir.file("dulink/ZU_Index").c_str()), 0);
  ASSERT_EQ(symlink("../../du/ZU_SIDB", dir.file("dulink/ZU_SIDB/inner").c_str()), 0);
  writeFile(dir.file("file"), "x");
  writeFile(dir.file("invalid/icl_label.txt"), "INDEXCACHEPOOLID = 3\nINDEXCACHEID = 7\n");
  // Hand-made, with control bytes, an overlong and a surrogate encoding,
  // U+10FFFF and a sequence cut short.
  writeFile(dir.file("odd/icl_label.txt"),
            "# hand-made\r\nIndexCachePoolId = 3\r\nindexcacheid = 7\r\n"
            "INDEXCACHETIMESTAMPMARKER = 9223372036854775807\r\n\r\n"
            "USED_BY_ACCESSPATHID: 12 #hostA\r\nused_by_accesspathid : -13 #  host B  \r\n"
            "USED_BY_ACCESSPATHID: 012 #old\r\n# USED_BY_ACCESSPATHID: 15 #comment\r\n"
            "USED_BY_ACCESSPATHID: 16 #\x1b[2J\a\xff\xc0\xaf\xed\xa0\x80\xc2\x9b\xc3\xa9"
            "\xf4\x8f\xbf\xbf\xe2\x82\r\n");
  writeFile(dir.file("mib/icl_label.txt"), std::string(1 << 20, 'x'));  // the most it compares
  writeFile(dir.file("du/ZU_Index/part/big"), std::string(2048, 'x'));  // 3 KB
  writeFile(dir.file("du/ZU_SIDB/db"), std::string(2 << 20, 'x'));      // 2049 KB
  writeFile(dir.file("du/ZU_Other"), std::string(9000, 'x'));           // not well known
  const std::string hostB = "host~\"B\"~\\2", hostBJson = "\"host\":\"host \\\"B\\\" \\\\2\"";
  const std::string mismatch =
      "ICL_ERROR_MISMATCH (8), event code 0x23000238: the label names another pool, index cache or "
      "marker";
  const std::string notDir = "ICL_ERROR_PATH_NOT_FOUND (3), event code 0x23000180: ";
  const std::string full = "=icl: cannot write the output: No space left on device\n";
  const std::string fffd = "\xef\xbf\xbd";
  const std::string onTerminal = "ICL_PROGRESS_DELAY_MS=0 script -qec \"%s\" /dev/null";
  const std::vector<Row> rows = {
      // A label's life: global options before the command, "changed" as the label's bytes tell.
      {"--host hostA new @/c --pool 3 --cache 7 --path 12 --marker 1001 --description Demo~1", 0,
       "=@/c: new label written: pool 3, cache 7, marker 1001, access path 12 for host hostA "
       "(label changed)\n"},
      {"--json check @/c --pool 3 --cache 7 --path 13 --host " + hostB, 0,
       "={\"schema\":1,\"command\":\"check\",\"dir\":\"@/c\",\"ok\":true," + hostBJson +
           ",\"pool\":3,\"cache\":7,\"marker\":null,\"path\":13,\"changed\":true}\n"},
      {"update @/c --pool 3 --cache 7 --path 13 --host " + hostB + " --json", 0,
       "\"changed\":false}"},
      {"show @/c", 0,
       "=label   @/c/icl_label.txt\npool    3\ncache   7\nmarker  1001\n"
       "access paths: 2\n  12     hostA\n  13     host \"B\" \\2\n"},
      {"--json check @/c --pool 4 --cache 7 --path 14 --host h", 1,
       "={\"schema\":1,\"command\":\"check\",\"dir\":\"@/c\",\"ok\":false,\"host\":\"h\","
       "\"pool\":4,\"cache\":7,\"marker\":null,\"path\":14,\"changed\":false,\"label\":{"
       "\"pool\":3,\"cache\":7,\"marker\":1001},\"error\":{\"name\":\"ICL_ERROR_MISMATCH\","
       "\"code\":8,\"event\":\"0x23000238\",\"message\":\"" +
           mismatch + "\"},\"libraryErrors\":[]}\n"},
      {"-q check @/c --pool 4 --cache 7 --path 14 --marker 5", 1, "",
       "=icl check: @/c: " + mismatch +
           "\n  expected pool 4, cache 7, marker 5\n  the label holds pool 3, cache 7, "
           "marker 1001\n"},
      {"check @/c --pool 3 --cache 7 --path 13", 0, "access path 13 (label unchanged)\n"},
      {"--json remove @/c --pool 3 --cache 7 --path 12", 0, "\"changed\":true}"},
      {"remove @/c --pool 3 --cache 7 --path 12", 0,
       "=@/c: access path 12 was not listed (pool 3, cache 7) (label unchanged)\n"},
      // Failures: the error's name, code, event code and meaning, and the library's lines.
      {"--json check @/empty --pool 3 --cache 7 --path 12", 1,
       "\"message\":\"ICL_ERROR_FILE_NOT_FOUND (5), event code 0x23000236: no label: the "
       "directory holds no icl_label.txt\"},\"libraryErrors\":[{\"function\":\"ICLController::"
       "InternalReadDataFromICL\","},
      {"update @/empty --pool 3 --cache 7 --path 12", 1, "",
       "(11), event code 0x2300023A: there is no usable label and a new one was not allowed\n"
       "  library: ICLController::"},
      {"show @/empty", 1, "",
       "=icl show: @/empty: ICL_ERROR_FILE_NOT_FOUND (5), event code 0x23000236: no label: "
       "the directory holds no icl_label.txt\n  library: ICLController::"
       "InternalReadDataFromICL: ICL file is not opened. Error code: [5].\n  to write one: icl "
       "new @/empty --pool ID --cache ID --path ID --marker N\n            or: icl update "
       "@/empty --pool ID --cache ID --path ID --allow-new --marker N\n" +
           kRunAgain},
      {"show @/missing", 1, "",
       "=icl show: @/missing: " + notDir + "no such directory\n" + kRunAgain},
      {"du @/file", 1, "", "icl du: @/file: " + notDir + "not a directory\n"},
      {"du @/" + std::string(300, 'd'), 1, "", "ICL_ERROR_EMPTY_PATH (4), event code 0x23000180"},
      {"--json show @/invalid", 1,
       "={\"schema\":1,\"command\":\"show\",\"dir\":\"@/invalid\",\"ok\":false,\"error\":{"
       "\"name\":\"ICL_ERROR_FILE_INVALID\",\"code\":7,\"event\":\"0x23000237\",\"message\":"
       "\"ICL_ERROR_FILE_INVALID (7), event code 0x23000237: the label is invalid: a required "
       "key is missing, or it is too large\"},\"libraryErrors\":[{\"function\":\"ICLController"
       "::extractICLInfoFromFile\",\"message\":\"Index cache label file does not contain all "
       "the required parameters, and is thus invalid. Bitmask = [3]\"}]}\n"},
      {"new @/mib --pool 3 --cache 7 --path 12 --marker 5", 0, "(label changed)\n"},
      {"test-dir @/file", 1, "",
       "ICL_ERROR_FILE_WRITE (10), event code 0x23000239: creating a test file failed: Not a "
       "directory\n  library: "},
      // Every line as the label holds it; no raw control byte, and JSON always UTF-8.
      {"--json show @/odd", 0,
       "={\"schema\":1,\"command\":\"show\",\"dir\":\"@/odd\",\"ok\":true,"
       "\"label\":\"@/odd/icl_label.txt\",\"pool\":3,\"cache\":7,\"marker\":9223372036854775807,"
       "\"accessPaths\":[{\"id\":12,\"host\":\"hostA\"},{\"id\":-13,\"host\":\"host B\"},"
       "{\"id\":null,\"text\":\"012\",\"host\":\"old\"},{\"id\":16,\"host\":\"\\u001b[2J\\u0007" +
           fffd + fffd + fffd + fffd + fffd + fffd + "\xc2\x9b\xc3\xa9\xf4\x8f\xbf\xbf" + fffd +
           fffd + "\"}]}\n"},
      {"show @/odd", 0,
       "\n  16     "
       "\\x1B[2J\\x07\\xFF\\xC0\\xAF\\xED\\xA0\\x80\\xC2\\x9B\xc3\xa9\xf4\x8f\xbf\xbf\\xE2\\x82\n"},
      // A result that never reaches its reader is a failure.
      {"show @/odd", 1, "", full, "%s >/dev/full"},
      {"--help", 1, "", full, "%s >/dev/full"},
      {"check --json", 2, "", full, "%s >/dev/full"},
      {"du @/empty", 1, "=@/empty: 0 KB\n", "", "%s 2>/dev/full"},
      // Directories: a relative one, and the size of an index cache in one walk.
      {"test-dir b/cache", 0,
       "=b/cache: created\nb/cache: files can be created, written, read "
       "back, locked, re-owned, re-moded and removed here\n",
       "", "cd @ && %s"},
      {"--json test-dir @/b/cache", 0,
       "={\"schema\":1,\"command\":\"test-dir\",\"dir\":\"@/b/cache\",\"ok\":true,"
       "\"created\":false}\n"},
      {"du @/empty", 0, "=@/empty: 0 KB\n",
       "=icl du: @/empty: none of the well-known sub-directories is here: is it an index cache?\n"},
      {"--json du @/empty", 0, "\"kb\":0,\"indexCache\":false,\"complete\":true}"},
      {"--json du @/du --detail", 0,
       "={\"schema\":1,\"command\":\"du\",\"dir\":\"@/du\",\"ok\":true,\"kb\":2052,"
       "\"indexCache\":true,\"subdirectories\":[{\"name\":\"ZU_Index\",\"kb\":3,\"complete\""
       ":true},{\"name\":\"ZU_SIDB\",\"kb\":2049,\"complete\":true}],\"complete\":true}\n"},
      {"du @/dulink --detail", 0,
       "=@/dulink: 3 KB\n  ZU_Index         3 KB\n  ZU_SIDB          0 KB\n"},
      {"du @/du --detail", 0,
       "=@/du: 2052 KB\n  ZU_Index         3 KB\n  ZU_SIDB          2049 KB\n"},
      // -v: each sub-directory walked once, and a healthy walk logs no Error line.
      {"du @/du --detail -v", 0,
       "=debug: getDiskUsage:     processing path [@/du/ZU_SIDB]. "
       "Adding size [2049] KB from file [db]\n",
       "", "%s 2>&1 >/dev/null | grep -e error: -e 'ZU_SIDB]. Adding'"},
      // The progress line: on a terminal only, cleared at the end, never in JSON.
      {"du @/du", 0,
       "=\r\033[Kdu: 1 file, 2 directories, 2.0 KiB so far\r\033[Kdu: 2 files, 3 "
       "directories, 2.0 MiB so far\r\033[K@/du: 2052 KB\r\n",
       "", onTerminal},
      {"--json du @/du", 0,
       "={\"schema\":1,\"command\":\"du\",\"dir\":\"@/du\",\"ok\":true,"
       "\"kb\":2052,\"indexCache\":true,\"complete\":true}\r\n",
       "", onTerminal},
      {"du @/du", 0, "=@/du: 2052 KB\n", "", "ICL_PROGRESS_DELAY_MS=0 %s"},
      {"version", 0, "\nlibrary libicl.so.1, version "},
      {"help", 0, "\nFiles, beside the label in DIR:\n  icl_label.txt\n"},
      {"--version --json", 0, "\"library\":{\"soname\":\"libicl.so.1\","},
  };
  runRows(rows, dir.path());
}

// What the user cannot read is never passed off as known: as user 65534 under
// root, as the user itself otherwise (mode 000 keeps its owner out too).
TEST(ToolCommands, WhatTheUserCannotReadIsNeverPassedOffAsKnown) {
  TempDir dir;
  const std::string asUser =
      geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups %s" : "%s";
  const ToolRun reach = runTool("version", asUser);
  if (reach.status != 0)  // a build in a private directory, root's home say
    GTEST_SKIP() << "user 65534 cannot run the built tool " ICL_TOOL_PATH ": "
                 << reach.err.substr(0, reach.err.find('\n'));
  for (const char* sub :
       {"du", "du/ZU_Index", "du/ZU_Index/locked", "du/ZU_SIDB", "c", "priv", "priv/c"})
    makeDir(dir.file(sub));
  writeFile(dir.file("du/ZU_Index/big"), std::string(2048, 'x'));  // 3 KB
  writeFile(dir.file("du/ZU_Index/locked/f"), "");                 // 1 KB, not to be read
  writeFile(dir.file("du/ZU_SIDB/db"), "x");                       // 1 KB
  const std::string made = "new @/c --pool 3 --cache 7 --path 12 --marker 5 --host a";
  runRows({{made, 0, "(label changed)\n", ""}}, dir.path());
  ASSERT_EQ(chmod(dir.path().c_str(), 0755) + chmod(dir.file("du/ZU_Index/locked").c_str(), 0) +
                chmod(dir.file("priv").c_str(), 0) + chmod(dir.file("c").c_str(), 0777) +
                chmod(dir.file("c/icl_label.lock").c_str(), 0666),
            0);
  const std::string lib = "  library: getDiskUsage: ", locked = "@/du/ZU_Index/locked";
  const std::string unexamined =
      ": @/priv/c: ICL_ERROR_FILE_READ (6), event code 0x23000235: the directory could not be "
      "examined: Permission denied\n  library: ICLController::DoesPathExist: Could not examine "
      "the index cache directory [@/priv/c]: stat() failed: [Permission denied]\n";
  const std::vector<Row> rows = {
      // A directory that cannot be examined is said to be that, each library line once.
      {"du @/priv/c", 1, "", "=icl du" + unexamined + kRunAgain, asUser},
      {"test-dir @/priv/c", 1, "",
       "=icl test-dir" + unexamined +
           "  library: ICLController::canFilesBeCreatedInDirectory: Failed to determine if "
           "path exists.\n" +
           kRunAgain,
       asUser},
      // A total that leaves something out: printed, said, and a failure.
      {"du @/du", 1, "=@/du: 4 KB\n",
       "=icl du: @/du: INCOMPLETE: 1 part of the index cache could not be read; the total "
       "leaves it out\n  cannot read " +
           locked + ": openat: Permission denied\n" + lib +
           "Find first file returned an invalid handle for path [" + locked + "]\n" + lib +
           "Failed to open the directory [" + locked + "] (openat):\\x0A[Permission denied]\n" +
           kRunAgain,
       asUser},
      {"--json du @/du --detail", 1,
       "\"ok\":false,\"kb\":4,\"indexCache\":true,\"subdirectories\":[{\"name\":\"ZU_Index\","
       "\"kb\":3,\"complete\":false},{\"name\":\"ZU_SIDB\",\"kb\":1,\"complete\":true}],"
       "\"complete\":false,\"error\":{\"name\":\"INCOMPLETE\",\"code\":null,\"event\":null,",
       "", asUser},
      // A label it could not read before writing it: whether it changed is unknown.
      {made, 0,
       "=@/c: new label written: pool 3, cache 7, marker 5, access path 12 for host a (whether "
       "the label changed is unknown: it could not be read before: Permission denied)\n",
       "", "chmod 0 @/c/icl_label.txt && " + asUser},
      {"--json " + made, 0, "\"changed\":null}", "", "chmod 0 @/c/icl_label.txt && " + asUser},
  };
  runRows(rows, dir.path());
}

TEST(ToolFeedback, AWriterWaitingForALockHeldByAnotherProcessSaysSoAndGivesUpAsAsked) {
  TempDir dir;
  // The writers' lock, held here for three seconds; the tools run in other processes.
  const int fd = open(dir.file("icl_label.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  struct flock lock = {F_WRLCK, SEEK_SET, 0, 0, 0};  // all of it
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
  std::thread holder([fd] {
    usleep(3000 * 1000);
    close(fd);
  });
  const std::vector<Row> rows = {
      {"update @ --pool 3 --cache 7 --path 2 --wait 0", 1, "",
       "=icl update: @: ICL_ERROR_FILE_LOCK (12), event code 0x23000260: the writers' lock or "
       "claim could not be taken\n  library: ICLController::UpdateICL: Timed out after [0] ms "
       "waiting for the index cache label lock [@/icl_label.lock] held by another writer.\n" +
           kRunAgain},
      {"--json update @ --pool 3 --cache 7 --path 2 --wait 1", 1, "Timed out after [1000] ms"},
      {"new @ --pool 3 --cache 7 --path 2 --marker 5 --wait 9", 0, "(label changed)\n",
       "=icl new: waiting for the label lock on @... (another writer holds it; giving up "
       "after 9 s)\n"},
  };
  runRows(rows, dir.path());
  holder.join();
}

}  // namespace
}  // namespace icl::test
