#include <errno.h>

#include <new>

#include "ICLRoutines.h"
#include "LabelFormat.h"
#include "LabelRetry.h"
#include "NoThrow.h"
#include "ZUPIFileOpen.h"
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
    return failWith(ICL_ERROR_FILE_INVALID, EV_LOG_ERROR, kFunction,
                    "Index cache label file does not contain all the required parameters, and is "
                    "thus invalid. Bitmask = [%d]",
                    scan.seenMask);
  }
  return 0;
}

int ICLController::InternalReadDataFromICL(ICLData& data) {
  icl::LoadReport loaded;
  return readLabel(data, loaded);
}

int ICLController::readLabel(ICLData& data, icl::LoadReport& loaded, EvLogLevel absentLevel) {
  if (ConstructICLPath() != 0) return -1;
  if (loadLabel(loaded, absentLevel) != 0) return -1;
  ICLData found = {0, 0, 0, 0};
  if (extractICLInfoFromFile(found, *iclFile) != 0) return -1;
  data = found;
  return 0;
}

int ICLController::loadLabel(icl::LoadReport& loaded, EvLogLevel absentLevel) {
  static const char* const kFunction = "ICLController::InternalReadDataFromICL";
  icl::LabelRetry retry(iclPath);  // another host may be replacing the label
  do {
    delete iclFile;
    iclFile = nullptr;
    loaded = icl::LoadReport();
    try {
      iclFile = new (std::nothrow) ZUPITextFileOpen(iclPath.c_str(), loaded);
    } catch (const std::bad_alloc&) {
      iclFile = nullptr;  // the reader's own members could not be allocated
    }
    if (iclFile == nullptr) {
      loaded.err = ENOMEM;
      return failWith(ICL_ERROR_OUT_OF_MEMORY, EV_LOG_ERROR, kFunction,
                      "Not enough memory to open ICL File");
    }
  } while (!iclFile->isFileOpen() &&
           retry.pauseBeforeLoadingAgain(iclFile->getFileIOError(), *this, kFunction));
  if (!iclFile->isFileOpen()) {
    const TICLError error = labelErrorForLoadCode(iclFile->getFileIOError());
    return failWith(error, error == ICL_ERROR_FILE_NOT_FOUND ? absentLevel : EV_LOG_ERROR,
                    kFunction, "ICL file is not opened. Error code: [%d].",
                    static_cast<int>(error));
  }
  return 0;
}

bool ICLController::labelRefusedForItsSize() {
  return iclError == ICL_ERROR_FILE_INVALID && iclFile != nullptr && !iclFile->isFileOpen() &&
         iclFile->getFileIOError() == ZUPI_FILE_TOO_LARGE;
}

int ICLController::ReadDataFromICL() {
  iclError = ICL_ERROR_NONE;
  iclData = ICLData{0, 0, 0, 0};
  return icl::answerWithoutThrowing(iclError, ICL_ERROR_FILE_READ,
                                    [this] { return InternalReadDataFromICL(iclData); });
}

bool ICLController::verifyICL(ICLData expected, ICLData found, bool compareTimeStampMarker) {
  static const char* const kFunction = "ICLController::verifyICL";
  bool same = true;
  if (found.indexCachePoolID != expected.indexCachePoolID) {
    same = false;
    Debug(kFunction,
          "ICL_LABEL mismatch. Expected IndexCachePool ID: [%d], IndexCachePool ID in file: [%d]",
          expected.indexCachePoolID, found.indexCachePoolID);
  }
  if (found.indexCacheID != expected.indexCacheID) {
    same = false;
    Debug(kFunction, "ICL_LABEL mismatch. Expected IndexCacheID: [%d], IndexCacheID in file: [%d]",
          expected.indexCacheID, found.indexCacheID);
  }
  if (compareTimeStampMarker && found.timeStampMarker != expected.timeStampMarker) {
    same = false;
    Debug(kFunction,
          "ICL_LABEL mismatch. Expected timeStampMarker: [%ld], timeStampMarker in file: [%ld]",
          static_cast<long>(expected.timeStampMarker), static_cast<long>(found.timeStampMarker));
  }
  return same;
}
