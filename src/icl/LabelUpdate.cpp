#include "ICLRoutines.h"
#include "NoThrow.h"
#include "WriterLock.h"
#include "textfile/LoadReport.h"

namespace {

using icl::StepResult;

const char* const kUpdate = "ICLController::UpdateICL";
const char* const kRemove = "ICLController::RemoveAccessPathIDfromICL";

// Failures of a read after which only a completely new label can help.
bool newLabelIsTheRemedy(TICLError error) {
  return error == ICL_ERROR_FILE_NOT_FOUND || error == ICL_ERROR_FILE_INVALID ||
         error == ICL_ERROR_NONE;
}

}  // namespace

int ICLController::UpdateICL(bool allowNewICL) {
  return icl::answerWithoutThrowing(iclError, ICL_ERROR_FILE_WRITE,
                                    [&] { return updateLabel(allowNewICL); });
}

int ICLController::updateLabel(bool allowNewICL) {
  iclError = ICL_ERROR_NONE;
  Debug(kUpdate, "ICL update for IndexCacheID [%d] in IndexPool [%d] started", iclData.indexCacheID,
        iclData.indexCachePoolID);
  return icl::runWithWritersLock(
      *this, kUpdate, iclLocation, iclError, [this, allowNewICL](icl::LabelLock& held) {
        ICLData found = {0, 0, 0, 0};
        icl::LoadReport loaded;
        if (readLabel(found, loaded, allowNewICL ? EV_LOG_DEBUG : EV_LOG_ERROR) != 0) {
          return replaceUnusableLabel(allowNewICL, held);
        }
        if (held.directoryWasMissing()) return StepResult::RetryUnderLock;
        return addToMatchingLabel(found, loaded, held);
      });
}

StepResult ICLController::replaceUnusableLabel(bool allowNewICL, icl::LabelLock& held) {
  // Every host would lose its access path: only an operator may decide.
  if (labelRefusedForItsSize()) {
    Error(kUpdate,
          "Index cache label [%s] is larger than the [%d] bytes a label may hold, so it cannot be "
          "read; it is not replaced by a new label, which would drop every access path it lists. "
          "Trim it to the access paths in use, or move it aside, then try again.",
          iclPath.c_str(), icl::kReaderSizeLimit);
    return StepResult::Failed;
  }
  if (!newLabelIsTheRemedy(iclError)) {
    Error(kUpdate, "Failing UpdateICL request because of previous error. (ICL Error code [%d])",
          static_cast<int>(iclError));
    return StepResult::Failed;
  }
  if (!allowNewICL) {
    iclError = ICL_ERROR_NEW_LABEL_NOT_ALLOWED;
    Error(kUpdate,
          "A completely new ICL would need to be written, but this is not allowed by the "
          "parameters given to this function.");
    return StepResult::Failed;
  }
  if (held.directoryWasMissing()) return StepResult::RetryUnderLock;
  if (iclError != ICL_ERROR_NONE) {
    Debug(kUpdate, "Ignoring previous ICL error as we are updating the ICL");
  }
  iclError = ICL_ERROR_NONE;
  return writeNewLabel(held);
}

StepResult ICLController::addToMatchingLabel(const ICLData& found, const icl::LoadReport& loaded,
                                             icl::LabelLock& held) {
  const bool samePool = found.indexCachePoolID == iclData.indexCachePoolID;
  const bool sameCache = found.indexCacheID == iclData.indexCacheID;
  if (!samePool) {
    Error(kUpdate,
          "ICL_LABEL mismatch. Expected IndexCachePool ID: [%d], IndexCachePool ID in file: [%d]",
          iclData.indexCachePoolID, found.indexCachePoolID);
  }
  if (!sameCache) {
    Error(kUpdate, "ICL_LABEL mismatch. Expected IndexCacheID: [%d], IndexCacheID in file: [%d]",
          iclData.indexCacheID, found.indexCacheID);
  }
  // A marker of 0 leaves the label's own marker in place: nothing is updated.
  if (samePool && sameCache && iclData.timeStampMarker != 0 &&
      found.timeStampMarker != iclData.timeStampMarker) {
    Error(kUpdate, "Updating previous time stamp marker: [%ld] to [%ld]",
          static_cast<long>(found.timeStampMarker), static_cast<long>(iclData.timeStampMarker));
  }
  if (!samePool || !sameCache) {
    iclError = ICL_ERROR_MISMATCH;
    return StepResult::Failed;
  }
  return rewriteLabel(ICL_UPDATE_ADD, held, &loaded);
}

int ICLController::RemoveAccessPathIDfromICL() {
  return icl::answerWithoutThrowing(iclError, ICL_ERROR_FILE_WRITE,
                                    [&] { return removeAccessPath(); });
}

int ICLController::removeAccessPath() {
  Debug(kRemove,
        "About to remove IndexCacheAccessPathID [%d] from  IndexCacheID [%d] in IndexPool [%d].",
        iclData.accessPathID, iclData.indexCacheID, iclData.indexCachePoolID);
  iclError = ICL_ERROR_NONE;
  return icl::runWithWritersLock(
      *this, kRemove, iclLocation, iclError, [this](icl::LabelLock& held) {
        ICLData found = {0, 0, 0, 0};
        icl::LoadReport loaded;
        const StepResult read = readLabelUnderLock(held, false, found, loaded);
        if (read != StepResult::Succeeded) return read;
        return rewriteLabel(ICL_UPDATE_REMOVE, held, &loaded);
      });
}
