// CreateDirRecursive, and fixPath where the fuzz corpus cannot reach it (the
// canonical forms themselves are a fuzz property).

#include "Testing.h"

namespace icl::test {
namespace {

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
  std::string backslashed = d + "\\b\\.\\c\\\\d\\";
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  EXPECT_EQ(create(backslashed),
            "0 " + d + "/b/c/d/" + made + "/b]" + made + "/b/c]" + made + "/b/c/d]");
  EXPECT_TRUE(std::filesystem::is_directory(d + "/b/c/d"));
  EXPECT_EQ(create(d + "/b/c") + create("/"), "0 " + d + "/b/c0 /");
  EXPECT_EQ(create(d + "/file/sub"), "-1 " + d + "/file/sub | Failed to stat directory [" + d +
                                         "/file/sub]:\n[Not a directory]");
  // Another host makes the name between our stat and our mkdir: a directory will do.
  RealCallsOnExit restore;
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
