// The label controller itself: event codes, construction, the location
// check and the label path.

#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ICLRoutines.h"
#include "LogCapture.h"
#include "TempDir.h"

namespace icl {
namespace test {
namespace {

const char* const kDoesPathExist = "ICLController::DoesPathExist";
const char* const kConstructPath = "ICLController::ConstructICLPath";
const char* const kConstructor = "ICLController::ICLController";
const char* const kRead = "ICLController::InternalReadDataFromICL";

TEST(ICLControllerEvents, EveryErrorMapsToItsEventCodeAndOthersToMinusOne) {
  const struct {
    int32_t error;
    int event;
  } cases[] = {
      {0, 0},           {1, 0x2300017F},  {2, 0x23000235},  {3, 0x23000180},
      {4, 0x23000180},  {5, 0x23000236},  {6, 0x23000235},  {7, 0x23000237},
      {8, 0x23000238},  {9, 0x23000235},  {10, 0x23000239}, {11, 0x2300023A},
      {12, 0x23000260}, {13, 0x23000261}, {14, 0x23000261}, {15, 15},
      {16, -1},         {-1, -1},         {INT32_MIN, -1},  {INT32_MAX, -1},
  };
  ICLController controller("hostA", "/");
  for (const auto& c : cases) {
    EXPECT_EQ(controller.convertICLErrorToEvEventCode(static_cast<TICLError>(c.error)), c.event)
        << "error " << c.error;
  }
}

TEST(ICLControllerIdentity, StartsAllZeroAndKeepsWhatIsSetExactly) {
  ICLController controller("hostA", "/");
  ICLData data = {1, 2, 3, 4};
  controller.GetICLData(data);
  EXPECT_EQ(data.indexCachePoolID, 0);
  EXPECT_EQ(data.indexCacheID, 0);
  EXPECT_EQ(data.timeStampMarker, 0);
  EXPECT_EQ(data.accessPathID, 0);
  EXPECT_EQ(controller.GetICLError(), ICL_ERROR_NONE);

  const ICLData set = {INT32_MIN, INT32_MAX, INT64_MIN, -12};
  EXPECT_EQ(controller.SetICLData(set), 0);
  EXPECT_EQ(controller.GetICLData(data), 0);
  EXPECT_EQ(data.indexCachePoolID, INT32_MIN);
  EXPECT_EQ(data.indexCacheID, INT32_MAX);
  EXPECT_EQ(data.timeStampMarker, INT64_MIN);
  EXPECT_EQ(data.accessPathID, -12);
}

struct PathCase {
  const char* name;
  std::string location;
  int existsResult;
  bool exists;
  int constructResult;
  TICLError error;
  std::vector<LogLine> lines;  // of DoesPathExist, then ConstructICLPath (which calls it again)
};

TEST(ICLControllerPath, ExistenceCheckAndPathFormingReportEachCase) {
  TempDir dir;
  const std::string file = dir.file("plain");
  writeFile(file, "x");
  const std::string missing = dir.file("missing");
  std::string backslashed = dir.path();
  for (char& c : backslashed) c = c == '/' ? '\\' : c;

  const PathCase cases[] = {
      {"existing directory", dir.path(), 0, true, 0, ICL_ERROR_NONE, {}},
      {"trailing slash", dir.path() + "/", 0, true, 0, ICL_ERROR_NONE, {}},
      {"backslashes", backslashed, 0, true, 0, ICL_ERROR_NONE, {}},
      {"empty", "", -1, false, -1, ICL_ERROR_EMPTY_PATH,
       {errorLine(kDoesPathExist, "Received an empty path string as an iclLocation."),
        errorLine(kDoesPathExist, "Received an empty path string as an iclLocation."),
        errorLine(kConstructPath, "Failed to verify the path existence. Failing")}},
      {"regular file", file, 0, false, -1, ICL_ERROR_PATH_NOT_FOUND,
       {debugLine(kDoesPathExist, "Path - [" + file + "] Not Found"),
        debugLine(kDoesPathExist, "Path - [" + file + "] Not Found"),
        debugLine(kConstructPath, "The specified path does not exist.")}},
      {"missing directory", missing, 0, false, -1, ICL_ERROR_PATH_NOT_FOUND,
       {debugLine(kDoesPathExist, "Path - [" + missing + "]: [No such file or directory]"),
        debugLine(kDoesPathExist, "Path - [" + missing + "]: [No such file or directory]"),
        debugLine(kConstructPath, "The specified path does not exist.")}},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ICLController controller("hostA", c.location.c_str());
    bool exists = !c.exists;
    EXPECT_EQ(controller.DoesPathExist(exists), c.existsResult);
    EXPECT_EQ(exists, c.exists);
    EXPECT_EQ(controller.ConstructICLPath(), c.constructResult);
    EXPECT_EQ(controller.GetICLError(), c.error);
    EXPECT_EQ(log.lines(), c.lines);
  }
}

TEST(ICLControllerPath, TheLabelPathIsTheConvertedDirectoryWithOneSlash) {
  TempDir dir;
  std::string backslashed = dir.path();
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  const std::string label = dir.path() + "/icl_label.txt";
  // The reader names the path it was given when the label is missing.
  for (const std::string& location : {dir.path(), dir.path() + "/", backslashed}) {
    SCOPED_TRACE(location);
    LogCapture log;
    ICLController controller("hostA", location.c_str());
    EXPECT_EQ(controller.ReadDataFromICL(), -1);
    EXPECT_EQ(controller.ReadDataFromICL(), -1) << "a second call forms the same path";
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  debugLine("ZUPITextFileOpen::reloadFile", "File [" + label + "] does not exist."),
                  errorLine(kRead, "ICL file is not opened. Error code: [5]."),
                  debugLine("ZUPITextFileOpen::reloadFile", "File [" + label + "] does not exist."),
                  errorLine(kRead, "ICL file is not opened. Error code: [5]."),
              }));
  }
  EXPECT_EQ(convertSlashes("C:\\idx\\\\cache1\\"), "C:/idx//cache1/");
  EXPECT_EQ(convertSlashes(nullptr), "");
}

TEST(ICLControllerConstruction, RefusesNullOrOverlongLocationsInsteadOfCuttingThem) {
  TempDir dir;
  // A 256-character location whose first 255 characters name an existing
  // directory: cut, it would silently point there.
  std::string base = dir.path() + "/";
  std::string target = base + std::string(255 - base.size(), 'd');
  makeDir(target);
  const std::string overlong = target + "x";
  ASSERT_EQ(overlong.size(), 256u);

  struct Case {
    const char* name;
    const char* location;
    LogLine refusal;
  };
  const Case cases[] = {
      {"null", nullptr,
       errorLine(kConstructor, "Index cache location is null; it is treated as empty.")},
      {"256 characters", overlong.c_str(),
       errorLine(kConstructor,
                 "Index cache location is longer than 255 characters; it is treated as empty.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ICLController controller("hostA", c.location);
    bool exists = true;
    EXPECT_EQ(controller.DoesPathExist(exists), -1);
    EXPECT_FALSE(exists);
    EXPECT_EQ(controller.GetICLError(), ICL_ERROR_EMPTY_PATH);
    EXPECT_EQ(controller.ReadDataFromICL(), -1);
    EXPECT_EQ(controller.GetICLError(), ICL_ERROR_EMPTY_PATH);
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines().front(), c.refusal);
  }

  LogCapture log;
  ICLController exact("hostA", target.c_str());
  bool exists = false;
  EXPECT_EQ(exact.DoesPathExist(exists), 0);
  EXPECT_TRUE(exists) << "255 characters fit";
  EXPECT_TRUE(log.lines().empty());
}

TEST(ICLControllerConstruction, NullOrOverlongAuxiliaryTextsAreStoredEmptyWithAnErrorLine) {
  const std::string fits1(1023, 'a');
  const std::string fits2(2047, 'b');
  const std::string long1(1024, 'a');
  const std::string long2(2048, 'b');
  struct Case {
    const char* name;
    const char* aux1;
    const char* aux2;
    std::vector<LogLine> lines;
  };
  const Case cases[] = {
      {"both fit", fits1.c_str(), fits2.c_str(), {}},
      {"both null", nullptr, nullptr,
       {errorLine(kConstructor, "Auxiliary text 1 is null; it is stored empty."),
        errorLine(kConstructor, "Auxiliary text 2 is null; it is stored empty.")}},
      {"both too long", long1.c_str(), long2.c_str(),
       {errorLine(kConstructor,
                  "Auxiliary text 1 is longer than 1023 characters; it is stored empty."),
        errorLine(kConstructor,
                  "Auxiliary text 2 is longer than 2047 characters; it is stored empty.")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ICLController controller("hostA", "/", c.aux1, c.aux2);
    EXPECT_EQ(log.lines(), c.lines);
  }
}

}  // namespace
}  // namespace test
}  // namespace icl
