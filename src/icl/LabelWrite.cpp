#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include <string>
#include <vector>

#include "DurableReplace.h"
#include "ICLRoutines.h"
#include "LabelDirectory.h"
#include "LabelFormat.h"
#include "LabelLock.h"
#include "LabelNames.h"
#include "LabelStillCurrent.h"
#include "NoThrow.h"
#include "WriterLock.h"
#include "ZUPIFileOpen.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"
#include "textfile/LoadReport.h"

namespace {

using icl::StepResult;

const char* const kWriteNew = "ICLController::WriteNewICL";
const char* const kRewrite = "ICLController::UpdateICLInternal()";

// A new label and a rewrite fail with different lines that operators know.
enum class LabelWriteKind { NewLabel, Rewrite };

bool hasFullIdentity(const ICLData& data) {
  return data.accessPathID != 0 && data.indexCacheID != 0 && data.indexCachePoolID != 0 &&
         data.timeStampMarker != 0;
}

void logLeftoversRemoved(EvDebug& log, const char* function,
                         const std::vector<std::string>& removed) {
  for (const std::string& path : removed) {
    log.Debug(function, "Removed the temporary file [%s] left by an interrupted writer.",
              path.c_str());
  }
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

// The new failure lines of a replace the last check abandoned.
void logAbandoned(EvDebug& log, const char* function, const std::string& labelPath,
                  icl::RenameVerdict why) {
  if (why == icl::RenameVerdict::LockLost) {
    log.Debug(function,
              "The writers' lock of the index cache label [%s] was taken by another writer before "
              "this change was written; it was not written.",
              labelPath.c_str());
  } else {
    log.Debug(function,
              "Index cache label [%s] was changed by another writer after it was loaded; this "
              "change was not written.",
              labelPath.c_str());
  }
}

// Writes `content` over the label named by `labelPath`, with `attributes`
// (null: a new file's), unless the label or the lock changed since `loaded`
// (null: there was no label) was loaded. Content no reader would accept is
// refused and nothing is written. Failed has every line of the failure
// logged; Superseded wrote nothing and says why at Debug.
StepResult writeLabelFile(EvDebug& log, const char* function, LabelWriteKind kind,
                          const std::string& labelPath, const std::string& content,
                          const struct stat* loaded, const struct stat* attributes,
                          icl::LabelLock& held) {
  if (content.size() > static_cast<size_t>(icl::kReaderSizeLimit)) {
    log.Error(function,
              "Index cache label [%s] is full: it would grow to [%zu] bytes, over the limit of "
              "[%d] bytes, listing [%d] access paths. It was left unchanged; remove access paths "
              "that are no longer used to make room.",
              labelPath.c_str(), content.size(), icl::kReaderSizeLimit,
              icl::countAccessPathLines(content));
    return StepResult::Failed;
  }
  icl::ReplaceRequest request;
  request.directory = icl::LabelDirectory::of(labelPath).slashed();
  request.target = labelPath;
  request.content = &content;
  request.attributes = attributes;
  request.sweepLeftovers = held.held();
  icl::LabelLock* lock = held.held() ? &held : nullptr;
  request.beforeRename = [lock, &labelPath, loaded] {
    return icl::checkLabelStillCurrent(lock, labelPath, loaded);
  };
  icl::ReplaceError error;
  icl::ReplaceNotes notes;
  const int result = icl::replaceFileDurably(request, error, notes);
  logLeftoversRemoved(log, function, notes.leftoversRemoved);
  if (result == 0) return StepResult::Succeeded;
  if (error.abandoned != icl::RenameVerdict::Go) {
    logAbandoned(log, function, labelPath, error.abandoned);
    return StepResult::Superseded;
  }
  logKnownFailureLine(log, function, kind, labelPath, error.step);
  logReplaceFailure(log, function, labelPath, error);
  return StepResult::Failed;
}

// A change that changes no byte writes nothing, but answers 0 only once the
// label and its directory are on disk: a change that failed to sync them
// before and is now retried must not answer 0 on a label a power cut loses.
int syncUnchangedLabel(EvDebug& log, const char* function, const std::string& labelPath) {
  icl::ReplaceError error;
  icl::sys::UniqueFd label(
      icl::sys::openRetry(labelPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  int err = label.valid() && icl::sys::fsyncRetry(label.get()) == 0 ? 0 : errno;
  if (err == EINVAL) err = 0;  // a file system that cannot sync
  if (err == 0 && icl::syncDirectory(icl::LabelDirectory::of(labelPath).slashed(), error) == 0)
    return 0;
  log.Error(function,
            "Index cache label [%s] already holds this change, but syncing [%s] failed: [%s]. The "
            "change may not survive a power failure.",
            labelPath.c_str(), err != 0 ? labelPath.c_str() : error.path.c_str(),
            strerror(err != 0 ? err : error.err));
  return -1;
}

// The lines a finished rewrite logs, as older versions did.
void logRewriteDone(EvDebug& log, bool removing, bool ownLineFound, int32_t accessPathID) {
  if (!removing && !ownLineFound) {
    log.Debug(kRewrite, "Accesspath ID [%d] successfully added to Index Cache Label file.",
              accessPathID);
  }
  if (removing && ownLineFound) {
    log.Debug(kRewrite, "Accesspath ID [%d] successfully removed from Index Cache Label file.",
              accessPathID);
  } else if (removing) {
    log.Debug(kRewrite,
              "Warning: Accesspath ID [%d] was not removed as it was not present in the first "
              "place. Still marking success.",
              accessPathID);
  }
}

}  // namespace

int ICLController::WriteNewICL() {
  return icl::answerWithoutThrowing(iclError, ICL_ERROR_FILE_WRITE,
                                    [&] { return writeNewLabelFile(); });
}

int ICLController::writeNewLabelFile() {
  // Refused before the lock is taken, so an illegal request creates no file.
  if (!hasFullIdentity(iclData)) {
    Error(kWriteNew, "Illegal request. Aborting.");
    return -1;
  }
  return icl::runWithWritersLock(*this, kWriteNew, iclLocation, iclError,
                                 [this](icl::LabelLock& held) { return writeNewLabel(held); });
}

StepResult ICLController::writeNewLabel(icl::LabelLock& held) {
  if (!hasFullIdentity(iclData)) {
    Error(kWriteNew, "Illegal request. Aborting.");
    return StepResult::Failed;
  }
  if (ConstructICLPath() != 0) return StepResult::Failed;
  if (held.directoryWasMissing()) return StepResult::RetryUnderLock;
  // Whatever stands at the name now is what the new label replaces; the
  // check before the rename makes sure it still does.
  struct stat standing;
  const bool present = icl::sys::calls().stat(iclPath.c_str(), &standing) == 0;
  const std::string content = icl::renderNewLabel(iclData, hostName, description);
  const StepResult written = writeLabelFile(*this, kWriteNew, LabelWriteKind::NewLabel, iclPath,
                                            content, present ? &standing : nullptr, nullptr, held);
  if (written == StepResult::Failed) iclError = ICL_ERROR_FILE_WRITE;
  if (written != StepResult::Succeeded) return written;
  Debug(kWriteNew, "New ICL file was written successfully. Pool=[%d], Cache=[%d], Timestamp=[%ld].",
        iclData.indexCachePoolID, iclData.indexCacheID, static_cast<long>(iclData.timeStampMarker));
  return StepResult::Succeeded;
}

int ICLController::UpdateICLInternal(TUpdateMode mode) {
  return icl::answerWithoutThrowing(iclError, ICL_ERROR_FILE_WRITE,
                                    [&] { return rewriteLoadedLabel(mode); });
}

int ICLController::rewriteLoadedLabel(TUpdateMode mode) {
  if (iclFile == nullptr || !iclFile->isFileOpen()) {
    Error(kRewrite,
          "Internal Error! Entered internal UpdateICL function without the virtual ICL label file "
          "being open!");
    return -1;
  }
  // Rewrites the copy the caller loaded, as asked, but under the writers'
  // lock so that it never interleaves with another writer's replace.
  icl::LabelLock lock;
  if (icl::takeWritersLock(*this, kRewrite, iclLocation, lock, iclError) != 0) return -1;
  // The owner and mode come from the label as it stands now, read through
  // one descriptor; one that cannot be read is not replaced.
  icl::LoadReport current;
  ZUPITextFileOpen standing(iclPath.c_str(), current);
  StepResult result = StepResult::Failed;
  if (standing.isFileOpen()) {
    result = rewriteLabel(mode, lock, &current);
  } else if (standing.getFileIOError() == ZUPI_FILE_NOT_FOUND) {
    result = rewriteLabel(mode, lock, nullptr);
  } else {
    return failWith(ICL_ERROR_FILE_READ, EV_LOG_ERROR, kRewrite,
                    "Index cache label [%s] left unchanged: it could not be read again to keep its "
                    "owner and permissions.",
                    iclPath.c_str());
  }
  if (result != StepResult::Superseded) return result == StepResult::Succeeded ? 0 : -1;
  return failWith(ICL_ERROR_FILE_LOCK, EV_LOG_ERROR, kRewrite,
                  "Index cache label [%s] left unchanged: another writer changed it, or took the "
                  "writers' lock, while this change was being written. Read it again and retry.",
                  iclPath.c_str());
}

StepResult ICLController::rewriteLabel(TUpdateMode mode, icl::LabelLock& held,
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
  if (unchanged && held.held()) {
    std::vector<std::string> removed;
    icl::sweepLeftoverTemps(icl::LabelDirectory::of(iclPath).slashed(), iclPath, removed);
    logLeftoversRemoved(*this, kRewrite, removed);
  }
  if (unchanged && syncUnchangedLabel(*this, kRewrite, iclPath) != 0) {
    iclError = ICL_ERROR_FILE_WRITE;
    return StepResult::Failed;
  }
  if (!unchanged) {
    const StepResult written =
        writeLabelFile(*this, kRewrite, LabelWriteKind::Rewrite, iclPath, rewrite.text,
                       loaded != nullptr ? &loaded->named : nullptr,
                       loaded != nullptr ? &loaded->opened : nullptr, held);
    if (written == StepResult::Failed) iclError = ICL_ERROR_FILE_WRITE;
    if (written != StepResult::Succeeded) return written;
  }
  logRewriteDone(*this, removing, rewrite.ownLineFound, iclData.accessPathID);
  return StepResult::Succeeded;
}
