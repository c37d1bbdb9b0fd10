// The whole-file reader's loading: the size limit, and each failure's code
// and line with the descriptors it closes. Lines and sanitizeString are fuzz
// properties (fuzz_corpus_test).

#include "Testing.h"
#include "ZUPIFileOpen.h"

namespace icl::test {
namespace {

// Another writer rewrites the file in place, longer, right after the
// reader's first fstat (which examines what it opened), or after each; or
// the file says a size its reads never reach, as a sysfs attribute does.
enum class Change { GrowsOnce, GrowsEachTime, SaysMore };
std::string gChanging;
Change gChange = Change::GrowsOnce;
int fstatThenChange(int fd, struct stat* st) {
  const int result = sys::realCalls().fstat(fd, st);
  if (gChange == Change::SaysMore) st->st_size = 4096;
  if (!gChanging.empty() && gChange != Change::SaysMore) {
    writeFile(gChanging, readFile(gChanging) + "9");
    if (gChange == Change::GrowsOnce) gChanging.clear();
  }
  return result;
}

TEST(TextFile, AFileThatChangesWhileItIsReadIsReadWholeOrNotAtAll) {
  TempDir dir;
  const std::string path = dir.file("label");
  const std::string load = "E ZUPITextFileOpen::reloadFile: ",
                    notWhole = load + "Failed to read the entire file [" + path + "].";
  const struct {
    Change change;
    std::string report;  // the line read, or the code; the Error lines
  } rows[] = {
      {Change::GrowsOnce, "USED_BY_ACCESSPATHID: 3999999"},
      {Change::GrowsEachTime, "3 | " + notWhole + " | " + load + "Could not load the file [" +
                                  path + "]: it changed while it was read, [3] times in a row."},
      {Change::SaysMore, "3 | " + notWhole + " | " + load + "Could not load the file [" + path +
                             "]: its size is [4096] bytes, but [28] were read, [3] times in a "
                             "row."},
  };
  for (const auto& row : rows) {
    writeFile(path, "USED_BY_ACCESSPATHID: 399999");
    LogCapture log;
    FaultInjector faults;
    sys::calls().fstat = fstatThenChange;
    gChanging = path;
    gChange = row.change;
    ZUPITextFileOpen reader(path.c_str(), nullptr, true);
    std::string report = reader.isFileOpen() ? std::string(reader.readln())
                                             : std::to_string(reader.getFileIOError());
    for (const std::string& line : log.errors()) report += " | " + line;
    EXPECT_EQ(report, row.report);
  }
}

TEST(TextFile, EachLoadFailureHasItsCodeAndLineAndClosesWhatItOpened) {
  TempDir dir;
  const std::string plain = dir.file("plain"), fifo = dir.file("fifo"),
                    load = " ZUPITextFileOpen::reloadFile: ";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  writeFile(plain, "data\n");
  writeFile(dir.file("big"), std::string(65001, 'x'));
  const auto notLoaded = [&load, &plain](const std::string& why) {
    return " E" + load + "Could not load the file [" + plain + "]: " + why;
  };
  const std::string notWhole = " E" + load + "Failed to read the entire file [" + plain + "].";
  // EINTR fails every time: a file system that answers nothing else is given up on, not waited for.
  const struct {
    std::string path;
    const char* mode;
    std::string report;
    SysOp failing = SysOp::Ftruncate;  // the default: none, the reader never makes that call
    int err = EACCES;
  } cases[] = {
      {dir.file("none"), nullptr, "2 D" + load + "File [" + dir.file("none") + "] does not exist."},
      {fifo, nullptr, "3 E" + load + "File [" + fifo + "] is not a regular file."},
      {dir.file("big"), "r+b",
       "4 E" + load + "File length exceeded the maximum file size supported by API."},
      {plain, "rb+ccccccc",
       "3 E" + load + "Open mode of more than 9 characters refused for the file [" + plain + "]."},
      {plain, "q", "3 E" + load + "fopen() failed to open the file [" + plain + "]."},
      {plain, "r+b",
       "3 E" + load + "fopen() failed to open the file [" + plain + "]." +
           notLoaded("open() failed: [Permission denied]"),
       SysOp::Open},
      {plain, nullptr, "3" + notLoaded("fstat() failed: [Permission denied]"), SysOp::Fstat},
      {plain, nullptr, "3" + notWhole + notLoaded("read() failed: [Permission denied]"),
       SysOp::Read},
      {plain, nullptr, "3" + notWhole + notLoaded("read() failed: [Interrupted system call]"),
       SysOp::Read, EINTR},
  };
  for (const auto& c : cases) {
    LogCapture log;
    FaultInjector faults({{c.failing, 1, c.err, c.err == EINTR}});
    {
      ZUPITextFileOpen reader(c.path.c_str(), c.mode, true);
      std::string report = std::to_string(reader.getFileIOError());
      for (const std::string& line : log.lines()) report += " " + line;
      EXPECT_EQ(report, c.report);
      EXPECT_TRUE(!reader.isFileOpen() && reader.isEof() && reader.getch() == 0 &&
                  *reader.readln() == 0);
    }
    EXPECT_EQ(faults.calls(SysOp::Open), faults.calls(SysOp::Close) + (c.failing == SysOp::Open));
  }
  {  // a loaded file's descriptor is closed once, after the load or with the reader
    FaultInjector faults;
    { ZUPITextFileOpen once(plain.c_str(), nullptr, true), kept(plain.c_str(), nullptr, false); }
    EXPECT_EQ(faults.calls(SysOp::Close), faults.calls(SysOp::Open));
  }
  {  // on FUSE, a read around the page cache the backing file refuses is made through it
    FaultInjector faults({{SysOp::Read, 1, EINVAL}}, 0x65735546);
    EXPECT_STREQ(ZUPITextFileOpen(plain.c_str(), nullptr, true).readln(), "data");
  }
  EXPECT_STREQ(ZUPITextFileOpen(plain.c_str(), "a+b", true).readln(), "data");  // as fopen reads
  LogCapture log;
  ZUPITextFileOpen big(dir.file("big").c_str(), nullptr, false);
  EXPECT_EQ(big.setMaxFileSize(65001), 0);
  EXPECT_EQ(big.reloadFile(false), 0);  // the limit set holds for the next load
  ZUPITextFileOpen copy(big);           // from the first line, with the default limit
  EXPECT_EQ(std::string(copy.readln()).size(), 65001u);
  EXPECT_EQ(copy.reloadFile(true), -1);
  EXPECT_EQ(ZUPITextFileOpen(copy).getFileIOError(), 4);
  char dest[4] = "xyz";  // sanitizeString with null arguments
  sanitizeString(dest, nullptr, 4);
  sanitizeString(dest + 1, "abc", 0);
  sanitizeString(nullptr, "abc", 4);
  EXPECT_EQ(std::string(dest, 3), std::string("\0yz", 3));
}

}  // namespace
}  // namespace icl::test
