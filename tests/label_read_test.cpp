// Reading a label: value parsing, the scan, the read operations and verifyICL.

#include <stdint.h>

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ICLRoutines.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "ZUPIFileOpen.h"
#include "icl/LabelFormat.h"

namespace icl {
namespace test {
namespace {

const char* const kExtract = "ICLController::extractICLInfoFromFile";
const char* const kRead = "ICLController::InternalReadDataFromICL";
const char* const kVerify = "ICLController::verifyICL";
const char* const kLoad = "ZUPITextFileOpen::reloadFile";

TEST(LabelValues, IdsParseLikePercentDButNeverWrap) {
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"12", true, 12},
      {"5ABC", true, 5},
      {"\t 7", true, 7},
      {"+12", true, 12},
      {"-3", true, -3},
      {"007", true, 7},
      {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"4294967299", false, 0},  // %d would wrap it to 3
      {"99999999999999999999999", false, 0},
      {"", false, 0},
      {"X", false, 0},
      {"-", false, 0},
      {"+-1", false, 0},
  };
  for (const auto& c : cases) {
    int32_t value = 99;
    EXPECT_EQ(parseLabelId(c.text, value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 99) << c.text;
  }
}

TEST(LabelValues, MarkersReadSignedAndUnsignedDecimalAsTheSameBits) {
  const struct {
    const char* text;
    bool ok;
    int64_t value;
  } cases[] = {
      {"77", true, 77},
      {"9223372036854775807", true, INT64_MAX},
      {"9223372036854775808", true, INT64_MIN},   // written unsigned from INT64_MIN
      {"18446744073709551615", true, -1},         // written unsigned from -1
      {"18446744073709551611", true, -5},
      {"-5", true, -5},
      {"-9223372036854775808", true, INT64_MIN},
      {"-9223372036854775809", false, 0},
      {"18446744073709551616", false, 0},
      {"123456789012345678901234", false, 0},
      {"12 # x", true, 12},
      {"seven", false, 0},
  };
  for (const auto& c : cases) {
    int64_t value = 99;
    EXPECT_EQ(parseLabelMarker(c.text, value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 99) << c.text;
  }
}

struct ScanCase {
  const char* name;
  std::string label;
  int result;
  TICLError error;
  ICLData found;      // as the controller reads it (accessPathID 12 when listed)
  int mask;           // in the invalid-label line, -1 when the read succeeds
};

const char* const kValid =
    "# INDEX CACHE LABEL FILE\n"
    "INDEXCACHEPOOLID = 3\n"
    "INDEXCACHEID = 7\n"
    "INDEXCACHETIMESTAMPMARKER = 77\n"
    "USED_BY_ACCESSPATHID: 12 #hostA\n";

TEST(LabelScan, ReadsKeysWhateverTheirCaseSpacingAndLineEnds) {
  const ScanCase cases[] = {
      {"as written", kValid, 0, ICL_ERROR_NONE, {3, 7, 77, 12}, -1},
      {"CR LF and blank lines",
       "INDEXCACHEPOOLID = 3\r\n\r\n\r\nINDEXCACHEID = 7\r\nINDEXCACHETIMESTAMPMARKER = 77\r\n"
       "\r\nUSED_BY_ACCESSPATHID: 12 #hostA\r\n",
       0, ICL_ERROR_NONE, {3, 7, 77, 12}, -1},
      {"lower case and spaces inside",
       "indexcachepoolid=3\nIndex Cache Id = 1 2\nindexcachetimestampmarker = 7 7\n"
       "used_by_accesspathid : 12 # other host\n",
       0, ICL_ERROR_NONE, {3, 12, 77, 12}, -1},
      {"comments after values", "INDEXCACHEPOOLID = 3 # pool\nINDEXCACHEID = 7 # old id 5\n"
       "INDEXCACHETIMESTAMPMARKER = 77#\n",
       0, ICL_ERROR_NONE, {3, 7, 77, 0}, -1},
      {"own line absent", "INDEXCACHEPOOLID=3\nINDEXCACHEID=7\nINDEXCACHETIMESTAMPMARKER=77\n"
       "USED_BY_ACCESSPATHID: 123 #x\nUSED_BY_ACCESSPATHID: 12 hostA\n",
       0, ICL_ERROR_NONE, {3, 7, 77, 0}, -1},
      {"own line with leading zero", "INDEXCACHEPOOLID=3\nINDEXCACHEID=7\n"
       "INDEXCACHETIMESTAMPMARKER=77\nUSED_BY_ACCESSPATHID: 012\n",
       0, ICL_ERROR_NONE, {3, 7, 77, 0}, -1},
      {"own line with a sign", "INDEXCACHEPOOLID=3\nINDEXCACHEID=7\n"
       "INDEXCACHETIMESTAMPMARKER=77\nUSED_BY_ACCESSPATHID: +12\n",
       0, ICL_ERROR_NONE, {3, 7, 77, 0}, -1},
      {"unparseable values count as present", "INDEXCACHEPOOLID = \nINDEXCACHEID = seven\n"
       "INDEXCACHETIMESTAMPMARKER = X\n",
       0, ICL_ERROR_NONE, {0, 0, 0, 0}, -1},
      {"out-of-range values read as unparseable", "INDEXCACHEPOOLID = 4294967299\n"
       "INDEXCACHEID = 2147483648\nINDEXCACHETIMESTAMPMARKER = 18446744073709551616\n",
       0, ICL_ERROR_NONE, {0, 0, 0, 0}, -1},
      {"unsigned marker of an older writer", "INDEXCACHEPOOLID=3\nINDEXCACHEID=7\n"
       "INDEXCACHETIMESTAMPMARKER = 18446744073709551615\n",
       0, ICL_ERROR_NONE, {3, 7, -1, 0}, -1},
      {"digits up to the first non-digit", "INDEXCACHEPOOLID=5ABC\nINDEXCACHEID=-7x\n"
       "INDEXCACHETIMESTAMPMARKER=+9\n",
       0, ICL_ERROR_NONE, {5, -7, 9, 0}, -1},
      {"repeated key, own line absent: the last wins",
       "INDEXCACHEPOOLID=1\nINDEXCACHEID=7\nINDEXCACHETIMESTAMPMARKER=77\nINDEXCACHEPOOLID=2\n",
       0, ICL_ERROR_NONE, {2, 7, 77, 0}, -1},
      {"repeated key after the own line: the scan stopped",
       "INDEXCACHEPOOLID=1\nINDEXCACHEID=7\nINDEXCACHETIMESTAMPMARKER=77\n"
       "USED_BY_ACCESSPATHID:12\nINDEXCACHEPOOLID=2\n",
       0, ICL_ERROR_NONE, {1, 7, 77, 12}, -1},
      {"repeated key before the own line: the last wins",
       "INDEXCACHEPOOLID=1\nINDEXCACHEID=7\nINDEXCACHETIMESTAMPMARKER=77\nINDEXCACHEPOOLID=2\n"
       "USED_BY_ACCESSPATHID:12\n",
       0, ICL_ERROR_NONE, {2, 7, 77, 12}, -1},
      {"key colon instead of equals", "INDEXCACHEPOOLID=3\nINDEXCACHEID:7\n"
       "INDEXCACHETIMESTAMPMARKER=77\n",
       -1, ICL_ERROR_FILE_INVALID, {3, 0, 77, 0}, 5},
      {"tab before '='", "INDEXCACHEPOOLID=3\nINDEXCACHEID\t= 7\nINDEXCACHETIMESTAMPMARKER=77\n",
       -1, ICL_ERROR_FILE_INVALID, {3, 0, 77, 0}, 5},
      {"timestamp missing", "INDEXCACHEPOOLID=3\nINDEXCACHEID=7\n", -1, ICL_ERROR_FILE_INVALID,
       {3, 7, 0, 0}, 3},
      {"key only in a comment", "# INDEXCACHEPOOLID=3\nINDEXCACHEID=7\n"
       "INDEXCACHETIMESTAMPMARKER=77\n",
       -1, ICL_ERROR_FILE_INVALID, {0, 7, 77, 0}, 6},
      {"empty file", "", -1, ICL_ERROR_FILE_INVALID, {0, 0, 0, 0}, 0},
  };
  TempDir dir;
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir.file("icl_label.txt"), c.label);
    LogCapture log;
    ICLController controller("hostA", dir.path().c_str());
    controller.SetICLData(ICLData{9, 9, 9, 12});
    ICLData found = {-1, -1, -1, -1};
    EXPECT_EQ(controller.InternalReadDataFromICL(found), c.result);
    EXPECT_EQ(controller.GetICLError(), c.error);
    if (c.result == 0) {
      EXPECT_EQ(found.indexCachePoolID, c.found.indexCachePoolID);
      EXPECT_EQ(found.indexCacheID, c.found.indexCacheID);
      EXPECT_EQ(found.timeStampMarker, c.found.timeStampMarker);
      EXPECT_EQ(found.accessPathID, c.found.accessPathID);
      EXPECT_TRUE(log.lines().empty());
    } else {
      EXPECT_EQ(found.indexCachePoolID, -1) << "a failed read leaves the record alone";
      EXPECT_EQ(log.lines(),
                std::vector<LogLine>{errorLine(
                    kExtract,
                    "Index cache label file does not contain all the required parameters, and "
                    "is thus invalid. Bitmask = [" + std::to_string(c.mask) + "]")});
    }
  }
}

TEST(LabelScan, FindsTheOwnLineForEveryAccessPathId) {
  TempDir dir;
  for (int32_t id : {INT32_MIN, -1, 1, INT32_MAX}) {
    SCOPED_TRACE(id);
    writeFile(dir.file("icl_label.txt"),
              "INDEXCACHEPOOLID=3\nINDEXCACHEID=7\nINDEXCACHETIMESTAMPMARKER=77\n"
              "USED_BY_ACCESSPATHID: " + std::to_string(id) + " #h\n");
    ICLController controller("hostA", dir.path().c_str());
    controller.SetICLData(ICLData{3, 7, 77, id});
    ICLData found;
    ASSERT_EQ(controller.InternalReadDataFromICL(found), 0);
    EXPECT_EQ(found.accessPathID, id);
  }
}

TEST(LabelScan, ExtractKeepsWhatWasParsedWhenTheLabelIsInvalid) {
  TempDir dir;
  writeFile(dir.file("f.txt"), "INDEXCACHEPOOLID=3\nINDEXCACHETIMESTAMPMARKER=9\n");
  ZUPITextFileOpen file(dir.file("f.txt").c_str(), nullptr, true);
  ICLController controller("hostA", dir.path().c_str());
  ICLData data = {1, 1, 1, 1};
  EXPECT_EQ(controller.extractICLInfoFromFile(data, file), -1);
  EXPECT_EQ(data.indexCachePoolID, 3);
  EXPECT_EQ(data.indexCacheID, 0);
  EXPECT_EQ(data.timeStampMarker, 9);
  EXPECT_EQ(data.accessPathID, 0);
  // Every scan starts at the first line, whatever the reader's position.
  controller.SetICLData(ICLData{0, 0, 0, 0});
  EXPECT_EQ(controller.extractICLInfoFromFile(data, file), -1);
  EXPECT_EQ(data.indexCachePoolID, 3);
}

TEST(LabelScan, TheSizeLimitIs65000Bytes) {
  TempDir dir;
  std::string label = "INDEXCACHEPOOLID=3\nINDEXCACHEID=7\nINDEXCACHETIMESTAMPMARKER=77\n";
  std::string padding = "#" + std::string(65000 - label.size() - 2, 'p') + "\n";
  writeFile(dir.file("icl_label.txt"), padding + label);
  ICLController controller("hostA", dir.path().c_str());
  EXPECT_EQ(controller.ReadDataFromICL(), 0);

  writeFile(dir.file("icl_label.txt"), padding + " " + label);
  LogCapture log;
  EXPECT_EQ(controller.ReadDataFromICL(), -1);
  EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_INVALID);
  EXPECT_EQ(log.lines(),
            (std::vector<LogLine>{
                errorLine(kLoad, "File length exceeded the maximum file size supported by API."),
                errorLine(kRead, "ICL file is not opened. Error code: [7].")}));
}

TEST(ReadDataFromICL, YieldsTheLabelsIdentityWithoutTheAccessPathAndZerosOnFailure) {
  TempDir dir;
  writeFile(dir.file("icl_label.txt"), kValid);
  ICLController controller("hostA", dir.path().c_str());
  controller.SetICLData(ICLData{1, 2, 3, 12});
  EXPECT_EQ(controller.ReadDataFromICL(), 0);
  ICLData data;
  controller.GetICLData(data);
  EXPECT_EQ(data.indexCachePoolID, 3);
  EXPECT_EQ(data.indexCacheID, 7);
  EXPECT_EQ(data.timeStampMarker, 77);
  EXPECT_EQ(data.accessPathID, 0);

  // A second read loads the file again and sees what changed on disk.
  writeFile(dir.file("icl_label.txt"),
            "INDEXCACHEPOOLID=4\nINDEXCACHEID=8\nINDEXCACHETIMESTAMPMARKER=88\n");
  EXPECT_EQ(controller.ReadDataFromICL(), 0);
  controller.GetICLData(data);
  EXPECT_EQ(data.indexCachePoolID, 4);

  ASSERT_EQ(unlink(dir.file("icl_label.txt").c_str()), 0);
  EXPECT_EQ(controller.ReadDataFromICL(), -1);
  EXPECT_EQ(controller.GetICLError(), ICL_ERROR_FILE_NOT_FOUND);
  controller.GetICLData(data);
  EXPECT_EQ(data.indexCachePoolID, 0);
  EXPECT_EQ(data.indexCacheID, 0);
  EXPECT_EQ(data.timeStampMarker, 0);
  EXPECT_EQ(data.accessPathID, 0);
}

TEST(ReadDataFromICL, EachFailureHasItsCodeEventAndLines) {
  TempDir dir;
  const std::string missingDir = dir.file("missing");
  const std::string noLabel = dir.file("empty");
  const std::string labelIsDir = dir.file("labeldir");
  makeDir(noLabel);
  makeDir(labelIsDir);
  makeDir(labelIsDir + "/icl_label.txt");
  struct Case {
    const char* name;
    std::string location;
    TICLError error;
    int event;
    std::vector<LogLine> lines;
  };
  const Case cases[] = {
      {"empty location", "", ICL_ERROR_EMPTY_PATH, 0x23000180,
       {errorLine("ICLController::DoesPathExist",
                  "Received an empty path string as an iclLocation."),
        errorLine("ICLController::ConstructICLPath",
                  "Failed to verify the path existence. Failing")}},
      {"missing directory", missingDir, ICL_ERROR_PATH_NOT_FOUND, 0x23000180,
       {debugLine("ICLController::DoesPathExist",
                  "Path - [" + missingDir + "]: [No such file or directory]"),
        debugLine("ICLController::ConstructICLPath", "The specified path does not exist.")}},
      {"no label", noLabel, ICL_ERROR_FILE_NOT_FOUND, 0x23000236,
       {debugLine(kLoad, "File [" + noLabel + "/icl_label.txt] does not exist."),
        errorLine(kRead, "ICL file is not opened. Error code: [5].")}},
      {"label is a directory", labelIsDir, ICL_ERROR_FILE_READ, 0x23000235,
       {errorLine(kLoad, "File [" + labelIsDir + "/icl_label.txt] is not a regular file."),
        errorLine(kRead, "ICL file is not opened. Error code: [6].")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ICLController controller("hostA", c.location.c_str());
    EXPECT_EQ(controller.ReadDataFromICL(), -1);
    EXPECT_EQ(controller.GetICLError(), c.error);
    EXPECT_EQ(controller.convertICLErrorToEvEventCode(controller.GetICLError()), c.event);
    EXPECT_EQ(log.lines(), c.lines);
  }
}

TEST(VerifyICL, ComparesPoolCacheAndOptionallyTheMarkerLoggingEachDifference) {
  const std::string poolLine =
      "ICL_LABEL mismatch. Expected IndexCachePool ID: [3], IndexCachePool ID in file: [4]";
  const std::string cacheLine =
      "ICL_LABEL mismatch. Expected IndexCacheID: [7], IndexCacheID in file: [8]";
  const std::string markerLine =
      "ICL_LABEL mismatch. Expected timeStampMarker: [77], timeStampMarker in file: [-1]";
  struct Case {
    const char* name;
    ICLData found;
    bool compareMarker;
    bool same;
    std::vector<LogLine> lines;
  };
  const Case cases[] = {
      {"identical", {3, 7, 77, 5}, true, true, {}},
      {"marker differs, not compared", {3, 7, -1, 0}, false, true, {}},
      {"marker differs, compared", {3, 7, -1, 0}, true, false, {debugLine(kVerify, markerLine)}},
      {"pool and cache differ", {4, 8, 77, 0}, false, false,
       {debugLine(kVerify, poolLine), debugLine(kVerify, cacheLine)}},
      {"everything differs", {4, 8, -1, 0}, true, false,
       {debugLine(kVerify, poolLine), debugLine(kVerify, cacheLine),
        debugLine(kVerify, markerLine)}},
  };
  ICLController controller("hostA", "/");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    EXPECT_EQ(controller.verifyICL(ICLData{3, 7, 77, 12}, c.found, c.compareMarker), c.same);
    EXPECT_EQ(log.lines(), c.lines);
    EXPECT_EQ(controller.GetICLError(), ICL_ERROR_NONE);
  }
}

}  // namespace
}  // namespace test
}  // namespace icl
