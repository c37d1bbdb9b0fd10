#include <string.h>

#include <string>

#include "DurableReplace.h"
#include "ICLRoutines.h"
#include "LabelFormat.h"
#include "LabelNames.h"
#include "WriterLock.h"
#include "ZUPIFileOpen.h"
#include "textfile/LoadReport.h"

namespace {

using icl::LockedResult;
using icl::WriterLockState;

const char* const kWriteNew = "ICLController::WriteNewICL";
const char* const kRewrite = "ICLController::UpdateICLInternal()";

// A new label and a rewrite fail with different lines that operators know.
enum class LabelWriteKind { NewLabel, Rewrite };

bool hasFullIdentity(const ICLData& data) {
  return data.accessPathID != 0 && data.indexCacheID != 0 && data.indexCachePoolID != 0 &&
         data.timeStampMarker != 0;
}

void logStaleTempRemoved(EvDebug& log, const char* function, const std::string& labelPath) {
  log.Debug(function, "Removed the temporary file [%s] left by an interrupted writer.",
            icl::reservedTempPath(labelPath).c_str());
}

// The line older versions wrote for a failed write, kept word for word: only
// creating the file, and closing a rewritten one, had one.
void logKnownFailureLine(EvDebug& log, const char* function, LabelWriteKind kind,
                         const std::string& labelPath, icl::FileStep step) {
  const bool rewriting = kind == LabelWriteKind::Rewrite;
  if (step == icl::FileStep::Creating && !rewriting) {
    log.Error(function,
              "fopen() failed to open the file for writing. [%s] Index cache label could not be "
              "written.",
              labelPath.c_str());
  } else if (step == icl::FileStep::Creating) {
    log.Error(function,
              "fopen() failed to open the file for updating. [%s] Index cache label could not be "
              "updated.",
              labelPath.c_str());
  } else if (step == icl::FileStep::Closing && rewriting) {
    log.Error(function, "Unable to close the index cache label file!");
  }
}

// The line that says which step failed, on what, and why.
void logReplaceFailure(EvDebug& log, const char* function, const std::string& labelPath,
                       const icl::ReplaceError& error) {
  const char* step = icl::fileStepText(error.step);
  if (error.targetReplaced) {
    log.Error(function,
              "Index cache label [%s] was replaced, but %s [%s] failed: [%s]. The change may not "
              "survive a power failure.",
              labelPath.c_str(), step, error.path.c_str(), strerror(error.err));
  } else {
    log.Error(function, "Index cache label [%s] left unchanged: %s [%s] failed: [%s]",
              labelPath.c_str(), step, error.path.c_str(), strerror(error.err));
  }
}

// Writes `content` over the label named by `labelPath`, with `attributes`
// (null: a new file's). Content no reader would accept is refused and
// nothing is written. 0, or -1 with every line of the failure logged.
int writeLabelFile(EvDebug& log, const char* function, LabelWriteKind kind,
                   const std::string& labelPath, const std::string& content,
                   const struct stat* attributes, WriterLockState lock) {
  if (content.size() > static_cast<size_t>(icl::kReaderSizeLimit)) {
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
  request.reservedTemp = lock == WriterLockState::Held;
  icl::ReplaceError error;
  icl::ReplaceNotes notes;
  const int result = icl::replaceFileDurably(request, error, notes);
  if (notes.staleTempRemoved) logStaleTempRemoved(log, function, labelPath);
  if (result != 0) {
    logKnownFailureLine(log, function, kind, labelPath, error.step);
    logReplaceFailure(log, function, labelPath, error);
  }
  return result;
}

}  // namespace

int ICLController::WriteNewICL() {
  // Refused before the lock is taken, so an illegal request creates no file.
  if (!hasFullIdentity(iclData)) {
    Error(kWriteNew, "Illegal request. Aborting.");
    return -1;
  }
  return icl::runWithWritersLock(*this, kWriteNew, iclLocation, iclError,
                                 [this](WriterLockState lock) { return writeNewLabel(lock); });
}

LockedResult ICLController::writeNewLabel(WriterLockState lock) {
  if (!hasFullIdentity(iclData)) {
    Error(kWriteNew, "Illegal request. Aborting.");
    return LockedResult::Failed;
  }
  if (ConstructICLPath() != 0) return LockedResult::Failed;
  if (lock == WriterLockState::NotTaken) return LockedResult::RetryUnderLock;
  const std::string content = icl::renderNewLabel(iclData, hostName, description);
  if (writeLabelFile(*this, kWriteNew, LabelWriteKind::NewLabel, iclPath, content, nullptr, lock) !=
      0) {
    iclError = ICL_ERROR_FILE_WRITE;
    return LockedResult::Failed;
  }
  Debug(kWriteNew, "New ICL file was written successfully. Pool=[%d], Cache=[%d], Timestamp=[%ld].",
        iclData.indexCachePoolID, iclData.indexCacheID, static_cast<long>(iclData.timeStampMarker));
  return LockedResult::Succeeded;
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
  WriterLockState state = WriterLockState::NotTaken;
  if (icl::takeWritersLock(*this, kRewrite, iclLocation, lock, state, iclError) != 0) return -1;
  // The owner and mode come from the label as it stands now, read through
  // one descriptor; one that cannot be read is not replaced.
  icl::LoadReport current;
  ZUPITextFileOpen standing(iclPath.c_str(), current);
  if (standing.isFileOpen()) return rewriteLabel(mode, state, &current);
  if (standing.getFileIOError() == ZUPI_FILE_NOT_FOUND) return rewriteLabel(mode, state, nullptr);
  return failWith(ICL_ERROR_FILE_READ, EV_LOG_ERROR, kRewrite,
                  "Index cache label [%s] left unchanged: it could not be read again to keep its "
                  "owner and permissions.",
                  iclPath.c_str());
}

int ICLController::rewriteLabel(TUpdateMode mode, WriterLockState lock,
                                const icl::LoadReport* loaded) {
  const bool removing = mode == ICL_UPDATE_REMOVE;
  const icl::LabelRewrite rewrite = icl::rewriteLabelText(*iclFile, mode, iclData, hostName);
  if (!removing && !rewrite.markerLineFound) {
    Debug(kRewrite,
          "Warning! Timestamp info did not appear in original ICL file. Adding to the end of the "
          "new one.");
  }
  // A change that changes no byte writes nothing: no new file, no new time.
  const bool unchanged = loaded != nullptr && rewrite.text == loaded->bytes;
  if (unchanged && lock == WriterLockState::Held && icl::removeStaleTemp(iclPath)) {
    logStaleTempRemoved(*this, kRewrite, iclPath);
  }
  if (!unchanged &&
      writeLabelFile(*this, kRewrite, LabelWriteKind::Rewrite, iclPath, rewrite.text,
                     loaded != nullptr ? &loaded->opened : nullptr, lock) != 0) {
    iclError = ICL_ERROR_FILE_WRITE;
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
