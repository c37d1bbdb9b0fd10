#include <string.h>

#include <string>

#include "ICLRoutines.h"
#include "LabelFile.h"
#include "LabelFormat.h"
#include "LabelNames.h"
#include "WriterLock.h"
#include "ZUPIFileOpen.h"
#include "textfile/LoadReport.h"

namespace {

const char* const kWriteNew = "ICLController::WriteNewICL";
const char* const kRewrite = "ICLController::UpdateICLInternal()";
// The step of a write refused before anything was written: no reader could load the result.
const char* const kStepFull = "checking the size of";

bool hasFullIdentity(const ICLData& data) {
  return data.accessPathID != 0 && data.indexCacheID != 0 && data.indexCachePoolID != 0 &&
         data.timeStampMarker != 0;
}

bool stepIs(const icl::ReplaceError& error, const char* step) {
  return strcmp(error.step, step) == 0;
}

void logStaleTempRemoved(EvDebug& log, const char* function, const std::string& labelPath) {
  log.Debug(function, "Removed the temporary file [%s] left by an interrupted writer.",
            icl::reservedTempPath(labelPath).c_str());
}

// Writes `content` over the label named by `labelPath`, with `attributes`
// (null: a new file's). Content no reader would accept is refused with an
// Error line and nothing is written.
int writeLabelFile(EvDebug& log, const char* function, const std::string& labelPath,
                   const std::string& content, const struct stat* attributes, bool lockHeld,
                   icl::ReplaceError& error) {
  if (content.size() > static_cast<size_t>(icl::kReaderSizeLimit)) {
    error.step = kStepFull;
    log.Error(function,
              "Index cache label [%s] is full: it would grow to [%zu] bytes, over the limit of "
              "[%d] bytes, listing [%d] access paths. It was left unchanged; remove access paths "
              "that are no longer used to make room.",
              labelPath.c_str(), content.size(), icl::kReaderSizeLimit,
              icl::countAccessPathLines(content));
    return -1;
  }
  icl::ReplaceRequest request;
  request.directory = labelPath.substr(0, labelPath.size() - strlen(icl::kLabelFileName));
  request.target = labelPath;
  request.content = &content;
  request.attributes = attributes;
  request.reservedTemp = lockHeld;
  icl::ReplaceNotes notes;
  int result = icl::replaceFileDurably(request, error, notes);
  if (notes.staleTempRemoved) logStaleTempRemoved(log, function, labelPath);
  return result;
}

// The line that says which step failed, on what, and why.
void logReplaceFailure(EvDebug& log, const char* function, const std::string& labelPath,
                       const icl::ReplaceError& error) {
  if (stepIs(error, kStepFull)) return;  // said already
  if (error.targetReplaced) {
    log.Error(function,
              "Index cache label [%s] was replaced, but %s [%s] failed: [%s]. The change may not "
              "survive a power failure.",
              labelPath.c_str(), error.step, error.path.c_str(), strerror(error.err));
  } else {
    log.Error(function, "Index cache label [%s] left unchanged: %s [%s] failed: [%s]",
              labelPath.c_str(), error.step, error.path.c_str(), strerror(error.err));
  }
}

}  // namespace

int ICLController::WriteNewICL() {
  // Refused before the lock is taken, so an illegal request creates no file.
  if (!hasFullIdentity(iclData)) {
    Error(kWriteNew, "Illegal request. Aborting.");
    return -1;
  }
  return icl::runWithWritersLock(*this, kWriteNew, iclLocation, iclError,
                                 [this](const icl::WriterLockState& lock) {
                                   return writeNewLabel(lock.guarded, lock.held);
                                 });
}

int ICLController::writeNewLabel(bool guarded, bool lockHeld) {
  if (!hasFullIdentity(iclData)) {
    Error(kWriteNew, "Illegal request. Aborting.");
    return -1;
  }
  if (ConstructICLPath() != 0) return -1;
  if (!guarded) return icl::kRetryUnderLock;
  const std::string content = icl::renderNewLabel(iclData, hostName, description);
  icl::ReplaceError error;
  if (writeLabelFile(*this, kWriteNew, iclPath, content, nullptr, lockHeld, error) != 0) {
    iclError = ICL_ERROR_FILE_WRITE;
    if (stepIs(error, "creating")) {
      Error(kWriteNew,
            "fopen() failed to open the file for writing. [%s] Index cache label could not be "
            "written.",
            iclPath.c_str());
    }
    logReplaceFailure(*this, kWriteNew, iclPath, error);
    return -1;
  }
  Debug(kWriteNew, "New ICL file was written successfully. Pool=[%d], Cache=[%d], Timestamp=[%ld].",
        iclData.indexCachePoolID, iclData.indexCacheID, static_cast<long>(iclData.timeStampMarker));
  return 0;
}

int ICLController::UpdateICLInternal(TUpdateMode mode) {
  if (iclFile == nullptr || !iclFile->isFileOpen()) {
    Error(kRewrite,
          "Internal Error! Entered internal UpdateICL function without the virtual ICL label file "
          "being open!");
    return -1;
  }
  // Rewrites the copy the caller loaded, as asked, but under the writers'
  // lock so that it never interleaves with another writer's replace.
  icl::LabelLock lock;
  icl::WriterLockState state;
  if (icl::takeWritersLock(*this, kRewrite, iclLocation, lock, state, iclError) != 0) return -1;
  // The owner and mode come from the label as it stands now, read through
  // one descriptor; one that cannot be read is not replaced.
  icl::LoadReport current;
  ZUPITextFileOpen standing(iclPath.c_str(), current);
  if (standing.isFileOpen()) return rewriteLabel(mode, state.held, &current);
  if (standing.getFileIOError() == ZUPI_FILE_NOT_FOUND) {
    return rewriteLabel(mode, state.held, nullptr);
  }
  iclError = ICL_ERROR_FILE_READ;
  Error(kRewrite,
        "Index cache label [%s] left unchanged: it could not be read again to keep its owner and "
        "permissions.",
        iclPath.c_str());
  return -1;
}

int ICLController::rewriteLabel(TUpdateMode mode, bool lockHeld, const icl::LoadReport* loaded) {
  const bool removing = mode == ICL_UPDATE_REMOVE;
  const icl::LabelRewrite rewrite = icl::rewriteLabelText(*iclFile, mode, iclData, hostName);
  if (!removing && !rewrite.markerLineFound) {
    Debug(kRewrite,
          "Warning! Timestamp info did not appear in original ICL file. Adding to the end of the "
          "new one.");
  }
  // A change that changes no byte writes nothing: no new file, no new time.
  const bool unchanged = loaded != nullptr && rewrite.text == loaded->bytes;
  if (unchanged && lockHeld && icl::removeStaleTemp(iclPath)) {
    logStaleTempRemoved(*this, kRewrite, iclPath);
  }
  icl::ReplaceError error;
  if (!unchanged &&
      writeLabelFile(*this, kRewrite, iclPath, rewrite.text,
                     loaded != nullptr ? &loaded->opened : nullptr, lockHeld, error) != 0) {
    iclError = ICL_ERROR_FILE_WRITE;
    if (stepIs(error, "creating")) {
      Error(kRewrite,
            "fopen() failed to open the file for updating. [%s] Index cache label could not be "
            "updated.",
            iclPath.c_str());
    } else if (stepIs(error, "closing")) {
      Error(kRewrite, "Unable to close the index cache label file!");
    }
    logReplaceFailure(*this, kRewrite, iclPath, error);
    return -1;
  }
  if (!removing && !rewrite.ownLineFound) {
    Debug(kRewrite, "Accesspath ID [%d] successfully added to Index Cache Label file.",
          iclData.accessPathID);
  }
  if (removing) {
    if (rewrite.ownLineFound) {
      Debug(kRewrite, "Accesspath ID [%d] successfully removed from Index Cache Label file.",
            iclData.accessPathID);
    } else {
      Debug(kRewrite,
            "Warning: Accesspath ID [%d] was not removed as it was not present in the first "
            "place. Still marking success.",
            iclData.accessPathID);
    }
  }
  return 0;
}
