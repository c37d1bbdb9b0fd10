#include "ICLRoutines.h"
#include "NoThrow.h"
#include "WriterLock.h"
#include "textfile/LoadReport.h"

namespace {

using icl::StepResult;

const char* const kCheck = "ICLController::CheckICL";

}  // namespace

int ICLController::CheckICL() {
  return icl::answerWithoutThrowing(iclError, ICL_ERROR_FILE_WRITE, [&] { return checkLabel(); });
}

int ICLController::checkLabel() {
  Debug(kCheck, "Index Cache Label check for IndexCacheID [%d] in IndexPool [%d] started.",
        iclData.indexCacheID, iclData.indexCachePoolID);
  iclError = ICL_ERROR_NONE;
  const bool compareMarker = iclData.timeStampMarker != 0;
  ICLData found = {0, 0, 0, 0};
  // A check that has nothing to add stays a reader: no lock, no wait.
  if (InternalReadDataFromICL(found) != 0) return -1;
  if (!verifyICL(iclData, found, compareMarker)) {
    iclError = ICL_ERROR_MISMATCH;
    return -1;
  }
  if (found.accessPathID != 0 || iclData.accessPathID == 0) return 0;

  Debug(kCheck, "About to verify writability of Index Cache for host [%s].", hostName);
  return icl::runWithWritersLock(
      *this, kCheck, iclLocation, iclError, [this, compareMarker](icl::LabelLock& held) {
        // Another writer may have changed the label since the read
        // above.
        ICLData current = {0, 0, 0, 0};
        icl::LoadReport loaded;
        const StepResult read = readLabelUnderLock(held, compareMarker, current, loaded);
        if (read != StepResult::Succeeded || current.accessPathID != 0) return read;
        return rewriteLabel(ICL_UPDATE_ADD, held, &loaded);
      });
}

StepResult ICLController::readLabelUnderLock(icl::LabelLock& held, bool compareMarker,
                                             ICLData& found, icl::LoadReport& loaded) {
  if (readLabel(found, loaded) != 0) return StepResult::Failed;
  if (held.directoryWasMissing()) return StepResult::RetryUnderLock;
  if (!verifyICL(iclData, found, compareMarker)) {
    iclError = ICL_ERROR_MISMATCH;
    return StepResult::Failed;
  }
  return StepResult::Succeeded;
}
