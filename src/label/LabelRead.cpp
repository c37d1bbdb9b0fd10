#include <errno.h>
#include <stdio.h>

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
  char lines[3][160] = {};
  if (found.indexCachePoolID != expected.indexCachePoolID) {
    snprintf(
        lines[0], sizeof lines[0],
        "ICL_LABEL mismatch. Expected IndexCachePool ID: [%d], IndexCachePool ID in file: [%d]",
        expected.indexCachePoolID, found.indexCachePoolID);
  }
  if (found.indexCacheID != expected.indexCacheID) {
    snprintf(lines[1], sizeof lines[1],
             "ICL_LABEL mismatch. Expected IndexCacheID: [%d], IndexCacheID in file: [%d]",
             expected.indexCacheID, found.indexCacheID);
  }
  if (compareMarker && found.timeStampMarker != expected.timeStampMarker) {
    snprintf(lines[2], sizeof lines[2],
             "ICL_LABEL mismatch. Expected timeStampMarker: [%ld], timeStampMarker in file: [%ld]",
             static_cast<long>(expected.timeStampMarker), static_cast<long>(found.timeStampMarker));
  }
  bool same = true;
  for (const char* line : lines) {
    if (line[0] == '\0') continue;
    same = false;
    if (level == EV_LOG_ERROR) {
      log.Error(function, "%s", line);
    } else {
      log.Debug(function, "%s", line);
    }
  }
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
