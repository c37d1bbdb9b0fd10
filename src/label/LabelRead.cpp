#include <errno.h>

#include <new>

#include "ICLRoutines.h"
#include "ZUPIFileOpen.h"
#include "label/LabelFormat.h"
#include "label/LabelOp.h"
#include "label/LabelRetry.h"
#include "label/NoThrow.h"
#include "textfile/LoadReport.h"

namespace {

// The reader's load codes, as the label's error codes.
TICLError labelErrorForLoadCode(int code) {
  switch (code) {
    case ZUPI_FILE_NOT_FOUND:
      return ICL_ERROR_FILE_NOT_FOUND;
    case ZUPI_FILE_TOO_LARGE:
      return ICL_ERROR_FILE_INVALID;
    default:
      return ICL_ERROR_FILE_READ;
  }
}

}  // namespace

int ICLController::extractICLInfoFromFile(ICLData& data, ZUPITextFileOpen& file) {
  static const char* const kFunction = "ICLController::extractICLInfoFromFile";
  const icl::OwnLineText own = icl::ownLineText(iclData.accessPathID);
  file.MoveReadPtrToBeginning();
  icl::LabelScan scan;
  char normalised[icl::kNormalisedLineSize];
  while (!scan.done() && !file.isEof()) {
    sanitizeString(normalised, file.readNonCommentLine(), icl::kNormalisedLineSize);
    icl::scanNormalisedLine(normalised, own, iclData.accessPathID, scan);
  }
  data = scan.found;
  if (scan.seenMask != icl::kSeenAll) {
    icl::LabelOp op = ICLControllerAccess::op(*this);
    return failWith(op, ICL_ERROR_FILE_INVALID, EV_LOG_ERROR, kFunction,
                    "Index cache label file does not contain all the required parameters, and is "
                    "thus invalid. Bitmask = [%d]",
                    scan.seenMask);
  }
  return 0;
}

int ICLController::InternalReadDataFromICL(ICLData& data) {
  icl::LabelOp op = ICLControllerAccess::op(*this);
  icl::LoadReport loaded;
  return icl::readLabel(op, data, loaded);
}

namespace icl {
namespace {

// Loads the label into a new reader in op.reader; a load that meets another
// host's replace is tried again (LabelRetry.h).
int loadLabel(LabelOp& op, LoadReport& loaded, EvLogLevel absentLevel) {
  static const char* const kFunction = "ICLController::InternalReadDataFromICL";
  LabelRetry retry(op.labelPath);
  do {
    delete op.reader;
    op.reader = nullptr;
    loaded = LoadReport();
    try {
      op.reader = new (std::nothrow) ZUPITextFileOpen(op.labelPath.c_str(), loaded);
    } catch (const std::bad_alloc&) {
      op.reader = nullptr;  // the reader's own members could not be allocated
    }
    if (op.reader == nullptr) {
      loaded.err = ENOMEM;
      return failWith(op, ICL_ERROR_OUT_OF_MEMORY, EV_LOG_ERROR, kFunction,
                      "Not enough memory to open ICL File");
    }
  } while (!op.reader->isFileOpen() &&
           retry.pauseBeforeLoadingAgain(op.reader->getFileIOError(), op.self, kFunction));
  if (!op.reader->isFileOpen()) {
    const TICLError error = labelErrorForLoadCode(op.reader->getFileIOError());
    return failWith(op, error, error == ICL_ERROR_FILE_NOT_FOUND ? absentLevel : EV_LOG_ERROR,
                    kFunction, "ICL file is not opened. Error code: [%d].",
                    static_cast<int>(error));
  }
  return 0;
}

}  // namespace

int readLabel(LabelOp& op, ICLData& found, LoadReport& loaded, EvLogLevel absentLevel) {
  if (op.self.ConstructICLPath() != 0) return -1;
  if (loadLabel(op, loaded, absentLevel) != 0) return -1;
  ICLData read = {0, 0, 0, 0};
  if (op.self.extractICLInfoFromFile(read, *op.reader) != 0) return -1;
  found = read;
  return 0;
}

bool labelRefusedForItsSize(const LabelOp& op) {
  return op.error == ICL_ERROR_FILE_INVALID && op.reader != nullptr && !op.reader->isFileOpen() &&
         op.reader->getFileIOError() == ZUPI_FILE_TOO_LARGE;
}

bool sameIdentity(EvDebug& log, const ICLData& expected, const ICLData& found, bool compareMarker,
                  EvLogLevel level, const char* function) {
  bool same = true;
  const auto compare = [&](bool differs, const char* what, long want, long got) {
    if (!differs) return;
    same = false;
    (log.*(level == EV_LOG_ERROR ? &EvDebug::Error : &EvDebug::Debug))(
        function, "ICL_LABEL mismatch. Expected %s: [%ld], %s in file: [%ld]", what, want, what,
        got);
  };
  compare(found.indexCachePoolID != expected.indexCachePoolID, "IndexCachePool ID",
          expected.indexCachePoolID, found.indexCachePoolID);
  compare(found.indexCacheID != expected.indexCacheID, "IndexCacheID", expected.indexCacheID,
          found.indexCacheID);
  compare(compareMarker && found.timeStampMarker != expected.timeStampMarker, "timeStampMarker",
          static_cast<long>(expected.timeStampMarker), static_cast<long>(found.timeStampMarker));
  return same;
}

}  // namespace icl

int ICLController::ReadDataFromICL() {
  iclError = ICL_ERROR_NONE;
  iclData = ICLData{0, 0, 0, 0};
  return icl::answerWithoutThrowing(iclError, ICL_ERROR_FILE_READ,
                                    [this] { return InternalReadDataFromICL(iclData); });
}

bool ICLController::verifyICL(ICLData expected, ICLData found, bool compareTimeStampMarker) {
  return icl::sameIdentity(*this, expected, found, compareTimeStampMarker, EV_LOG_DEBUG,
                           "ICLController::verifyICL");
}
