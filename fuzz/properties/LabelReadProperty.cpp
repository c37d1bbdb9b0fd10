#include "LabelReadProperty.h"

#include <string>
#include <vector>

#include "Findings.h"
#include "ICLRoutines.h"
#include "Reference.h"
#include "Scratch.h"

namespace icl {
namespace fuzz {
namespace {

const char* const kExtract = "ICLController::extractICLInfoFromFile";
const char* const kRead = "ICLController::InternalReadDataFromICL";
const char* const kLoad = "ZUPITextFileOpen::reloadFile";
const size_t kSizeLimit = 65000;
const ICLData kUntouched = {0x5a5a5a5a, 0x5a5a5a5a, 0x5a5a5a5a5a5a5a5a, 0x5a5a5a5a};

struct Outcome {
  int result;
  TICLError error;
  ICLData data;
  std::vector<LoggedLine> lines;
};

// What a read for access path `ownID` must come to; `failed` is the record
// a failed read leaves behind.
Outcome expectedRead(const std::string& bytes, int32_t ownID, const ICLData& failed) {
  if (bytes.size() > kSizeLimit) {
    return Outcome{-1, ICL_ERROR_FILE_INVALID, failed,
                   {{EV_LOG_ERROR, kLoad,
                     "File length exceeded the maximum file size supported by API."},
                    {EV_LOG_ERROR, kRead, "ICL file is not opened. Error code: [7]."}}};
  }
  const ReferenceReading r = referenceRead(referenceLines(bytes), ownID);
  if (r.mask != 7) {
    return Outcome{-1, ICL_ERROR_FILE_INVALID, failed,
                   {{EV_LOG_ERROR, kExtract,
                     "Index cache label file does not contain all the required parameters, and "
                     "is thus invalid. Bitmask = [" + std::to_string(r.mask) + "]"}}};
  }
  return Outcome{0, ICL_ERROR_NONE, ICLData{r.pool, r.cache, r.marker, r.ownFound ? ownID : 0},
                 {}};
}

void compare(Findings& findings, const std::string& what, const Outcome& got,
             const Outcome& expected) {
  findings.equal(what + ": result", got.result, expected.result);
  findings.equal(what + ": error code", got.error, expected.error);
  findings.equal(what + ": pool id", got.data.indexCachePoolID, expected.data.indexCachePoolID);
  findings.equal(what + ": cache id", got.data.indexCacheID, expected.data.indexCacheID);
  findings.equal(what + ": timestamp marker", got.data.timeStampMarker,
                 expected.data.timeStampMarker);
  findings.equal(what + ": access path (caller's line found)", got.data.accessPathID,
                 expected.data.accessPathID);
  findings.check(got.lines == expected.lines, what + ": log lines" + describeLines(got.lines) +
                                                  "\n expected" + describeLines(expected.lines));
}

}  // namespace

std::string checkLabelRead(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Findings findings;
  const std::string written = writeScratchFile("icl_label.txt", bytes);
  if (!findings.check(written.empty(), written)) return findings.result(printable(bytes));

  {
    CapturedLog log;
    ICLController controller("hostA", scratchDirectory().c_str());
    controller.SetICLData(ICLData{11, 22, 33, 44});  // ReadDataFromICL must forget these
    Outcome got;
    got.result = controller.ReadDataFromICL();
    got.error = controller.GetICLError();
    controller.GetICLData(got.data);
    got.lines = log.lines();
    compare(findings, "ReadDataFromICL", got, expectedRead(bytes, 0, ICLData{0, 0, 0, 0}));
  }
  {
    // The first access path the label lists, so that the scan's early stop
    // is exercised.
    const int32_t ownID = firstListedAccessPath(referenceLines(bytes), 12);
    CapturedLog log;
    ICLController controller("hostA", scratchDirectory().c_str());
    controller.SetICLData(ICLData{11, 22, 33, ownID});
    Outcome got;
    got.data = kUntouched;
    got.result = controller.InternalReadDataFromICL(got.data);
    got.error = controller.GetICLError();
    got.lines = log.lines();
    compare(findings, "InternalReadDataFromICL for access path " + std::to_string(ownID), got,
            expectedRead(bytes, ownID, kUntouched));
  }
  return findings.result(printable(bytes));
}

}  // namespace fuzz
}  // namespace icl
