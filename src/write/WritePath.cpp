// The write path: every operation that changes a label, as one sequence.
//
//   turn  = take the writers' lock and, where needed, the claim (bounded)
//   plan  = load the label and work out the new text (by operation)
//   if unchanged: make sure the label is on disk, answer
//   file  = prepare the new file (exclusive, attributes, write, sync)
//   check that the turn is still ours and the label still the one loaded
//   commit (rename, sync the directory), then end the turn, confirming that
//   it was ours throughout
//
// A label another writer replaced before the check is loaded again and the
// change redone on it; every failure logs its lines (WriteLines.h) and
// answers -1 with its code.

#include "ICLRoutines.h"
#include "ZUPIFileOpen.h"
#include "label/LabelFormat.h"
#include "label/LabelOp.h"
#include "label/NoThrow.h"
#include "sys/Backoff.h"
#include "sys/SysCalls.h"
#include "write/NewLabelFile.h"
#include "write/WriteLines.h"
#include "write/WriterTurn.h"

namespace icl {
namespace {

const char* const kUpdate = "ICLController::UpdateICL";
const char* const kRemove = "ICLController::RemoveAccessPathIDfromICL";
const char* const kCheck = "ICLController::CheckICL";
const char* const kWriteNew = "ICLController::WriteNewICL";
const char* const kRewrite = "ICLController::UpdateICLInternal()";
const char* const kVerify = "ICLController::verifyICL";

// How often one change is redone after another writer overtook it, and how
// often a directory that appeared after the lock was tried is tried again.
const int kSupersededRedos = 3;
const int kDirectoryAttempts = 3;
// About one change in this many sweeps leftovers without other evidence.
const unsigned kSweepOneIn = 64;

// What a change is to write, as its plan found the label.
struct Plan {
  enum Step { Write, Done, Fail };
  explicit Plan(Step first = Fail) : step(first) {}
  Step step;
  LabelWriteKind kind = LabelWriteKind::Rewrite;
  const char* function = kRewrite;  // the write's lines log under this
  std::string text;                 // the new label
  LoadReport loaded;                // the label it was made from
  bool hadLabel = false;            // a label stood there: loaded.named saw it
  bool removing = false;
  bool ownLineFound = false;
  bool redoWhenOvertaken = true;
};

enum class Outcome { Succeeded, Failed, Superseded };

// WriteNewICL needs every part of the identity; refused, it says so.
bool refusedAsIllegal(LabelOp& op) {
  const ICLData& data = op.identity;
  if (data.accessPathID != 0 && data.indexCacheID != 0 && data.indexCachePoolID != 0 &&
      data.timeStampMarker != 0) {
    return false;
  }
  op.self.Error(kWriteNew, "Illegal request. Aborting.");
  return true;
}

// --- Plans ---------------------------------------------------------------

// The label read through `from`, rewritten for the caller's access path.
Plan rewritePlan(LabelOp& op, TUpdateMode mode, LoadReport loaded, bool hadLabel) {
  const LabelRewrite rewrite = rewriteLabelText(*op.reader, mode, op.identity, op.host);
  if (mode == ICL_UPDATE_ADD && !rewrite.markerLineFound) {
    op.self.Debug(kRewrite,
                  "Warning! Timestamp info did not appear in original ICL file. Adding to the end "
                  "of the new one.");
  }
  Plan plan(Plan::Write);
  plan.text = rewrite.text;
  plan.loaded = std::move(loaded);
  plan.hadLabel = hadLabel;
  plan.removing = mode == ICL_UPDATE_REMOVE;
  plan.ownLineFound = rewrite.ownLineFound;
  return plan;
}

// A new label listing only the caller's access path, over whatever stands
// at the name now (the check before the rename makes sure it still does).
Plan newLabelPlan(LabelOp& op) {
  if (refusedAsIllegal(op) || op.self.ConstructICLPath() != 0) return Plan();
  Plan plan(Plan::Write);
  plan.kind = LabelWriteKind::NewLabel;
  plan.function = kWriteNew;
  plan.hadLabel = sys::calls().stat(op.labelPath.c_str(), &plan.loaded.named) == 0;
  plan.text = renderNewLabel(op.identity, op.host, op.description);
  return plan;
}

// UpdateICL on a label that could not be used: a new one, where allowed.
Plan replaceUnusablePlan(LabelOp& op, bool allowNew) {
  if (labelRefusedForItsSize(op)) {
    // Every host would lose its access path: only an operator may decide.
    op.self.Error(kUpdate,
                  "Index cache label [%s] is larger than the [%d] bytes a label may hold, so it "
                  "cannot be read; it is not replaced by a new label, which would drop every "
                  "access path it lists. Trim it to the access paths in use, or move it aside, "
                  "then try again.",
                  op.labelPath.c_str(), kReaderSizeLimit);
    return Plan();
  }
  const TICLError why = op.error;
  if (why != ICL_ERROR_FILE_NOT_FOUND && why != ICL_ERROR_FILE_INVALID && why != ICL_ERROR_NONE) {
    op.self.Error(kUpdate,
                  "Failing UpdateICL request because of previous error. (ICL Error code [%d])",
                  static_cast<int>(why));
    return Plan();
  }
  if (!allowNew) {
    op.error = ICL_ERROR_NEW_LABEL_NOT_ALLOWED;
    op.self.Error(kUpdate,
                  "A completely new ICL would need to be written, but this is not allowed by the "
                  "parameters given to this function.");
    return Plan();
  }
  if (why != ICL_ERROR_NONE) {
    op.self.Debug(kUpdate, "Ignoring previous ICL error as we are updating the ICL");
  }
  op.error = ICL_ERROR_NONE;
  return newLabelPlan(op);
}

Plan updatePlan(LabelOp& op, bool allowNew) {
  ICLData found = {0, 0, 0, 0};
  LoadReport loaded;
  if (readLabel(op, found, loaded, allowNew ? EV_LOG_DEBUG : EV_LOG_ERROR) != 0) {
    return replaceUnusablePlan(op, allowNew);
  }
  const bool same = sameIdentity(op.self, op.identity, found, false, EV_LOG_ERROR, kUpdate);
  // A marker of 0 leaves the label's own marker in place: nothing is updated.
  if (same && op.identity.timeStampMarker != 0 &&
      found.timeStampMarker != op.identity.timeStampMarker) {
    op.self.Error(kUpdate, "Updating previous time stamp marker: [%ld] to [%ld]",
                  static_cast<long>(found.timeStampMarker),
                  static_cast<long>(op.identity.timeStampMarker));
  }
  if (!same) {
    op.error = ICL_ERROR_MISMATCH;
    return Plan();
  }
  return rewritePlan(op, ICL_UPDATE_ADD, std::move(loaded), true);
}

// Remove and CheckICL: the label read afresh must be the caller's.
Plan verifiedPlan(LabelOp& op, TUpdateMode mode, bool compareMarker) {
  ICLData found = {0, 0, 0, 0};
  LoadReport loaded;
  if (readLabel(op, found, loaded) != 0) return Plan();
  if (!sameIdentity(op.self, op.identity, found, compareMarker, EV_LOG_DEBUG, kVerify)) {
    op.error = ICL_ERROR_MISMATCH;
    return Plan();
  }
  // Another writer may have added the access path since CheckICL's first read.
  if (mode == ICL_UPDATE_ADD && found.accessPathID != 0) return Plan(Plan::Done);
  return rewritePlan(op, mode, std::move(loaded), true);
}

// UpdateICLInternal: the text the caller loaded, the attributes of the label
// as it stands now, read through one descriptor.
Plan loadedTextPlan(LabelOp& op, TUpdateMode mode) {
  LoadReport current;
  ZUPITextFileOpen standing(op.labelPath.c_str(), current);
  const bool present = standing.isFileOpen();
  if (!present && standing.getFileIOError() != ZUPI_FILE_NOT_FOUND) {
    failWith(op, ICL_ERROR_FILE_READ, EV_LOG_ERROR, kRewrite,
             "Index cache label [%s] left unchanged: it could not be read again to keep its owner "
             "and permissions.",
             op.labelPath.c_str());
    return Plan();
  }
  Plan plan = rewritePlan(op, mode, present ? std::move(current) : LoadReport(), present);
  plan.redoWhenOvertaken = false;  // the caller's text would be stale
  return plan;
}

// --- Writing -------------------------------------------------------------

Outcome failWrite(LabelOp& op, const Plan& plan, const ReplaceError& error) {
  logReplaceFailure(op.self, plan.function, plan.kind, op.labelPath, error);
  op.error = ICL_ERROR_FILE_WRITE;
  return Outcome::Failed;
}

void logDone(LabelOp& op, const Plan& plan) {
  if (plan.kind == LabelWriteKind::Rewrite) {
    logRewriteDone(op.self, kRewrite, plan.removing, plan.ownLineFound, op.identity.accessPathID);
    return;
  }
  op.self.Debug(kWriteNew,
                "New ICL file was written successfully. Pool=[%d], Cache=[%d], Timestamp=[%ld].",
                op.identity.indexCachePoolID, op.identity.indexCacheID,
                static_cast<long>(op.identity.timeStampMarker));
}

// A change that changes no byte writes nothing (no new file, no new time),
// but answers 0 only once the label and its directory are on disk: one that
// failed to sync them before and is now retried must not answer 0 on a label
// a power cut loses.
Outcome finishUnchanged(LabelOp& op, const Plan& plan) {
  ReplaceError error;
  if (syncUnchangedLabel(op.labelPath, error) != 0) {
    logUnchangedUnsynced(op.self, kRewrite, op.labelPath, error);
    op.error = ICL_ERROR_FILE_WRITE;
    return Outcome::Failed;
  }
  logDone(op, plan);
  return Outcome::Succeeded;
}

// Leftovers of writers that died are swept where a claim was taken over
// from one, and otherwise about once in kSweepOneIn changes.
void sweepIfDue(LabelOp& op, const Plan& plan, const WriterTurn& turn, const NewLabelFile& file) {
  if (!turn.tookOverClaim() && !drawOneIn(kSweepOneIn)) return;
  std::vector<std::string> removed;
  sweepLeftovers(op.labelPath, file.path(), removed);
  logLeftoversRemoved(op.self, plan.function, removed);
}

Outcome writePlanned(LabelOp& op, WriterTurn& turn, const Plan& plan) {
  if (plan.kind == LabelWriteKind::Rewrite && plan.hadLabel && plan.text == plan.loaded.bytes) {
    return finishUnchanged(op, plan);
  }
  if (plan.text.size() > static_cast<size_t>(kReaderSizeLimit)) {
    logFull(op.self, plan.function, op.labelPath, plan.text);
    op.error = ICL_ERROR_FILE_WRITE;
    return Outcome::Failed;
  }
  const bool keepAttributes = plan.kind == LabelWriteKind::Rewrite && plan.hadLabel;
  NewLabelFile file;
  ReplaceError error;
  if (file.prepare(op.labelPath, plan.text, keepAttributes ? &plan.loaded.opened : nullptr,
                   error) != 0) {
    return failWrite(op, plan, error);
  }
  sweepIfDue(op, plan, turn, file);
  const RenameVerdict verdict =
      turn.stillOurs(op.labelPath, plan.hadLabel ? &plan.loaded.named : nullptr);
  if (verdict != RenameVerdict::Go) {
    logAbandoned(op.self, plan.function, op.labelPath, verdict);
    return Outcome::Superseded;
  }
  if (file.commit(error) != 0) return failWrite(op, plan, error);
  if (!turn.end()) {
    logOvertaken(op.self, plan.function, op.labelPath);
    op.error = ICL_ERROR_FILE_WRITE;
    return Outcome::Failed;
  }
  logDone(op, plan);
  return Outcome::Succeeded;
}

// The one sequence every change runs: its turn, its plan, its write; again
// on the label as it is then when another writer overtook it.
template <typename MakePlan>
int changeLabel(LabelOp& op, const char* function, MakePlan makePlan) {
  Backoff beforeRedo(kSupersededRedos, std::chrono::milliseconds(10),
                     std::chrono::milliseconds(100));
  int appeared = 0;
  for (int superseded = 0;;) {
    WriterTurn turn;
    if (turn.take(op.self, function, op.location, op.error) != 0) return -1;
    const Plan plan = makePlan(op);
    if (plan.step == Plan::Fail) return -1;
    if (turn.directoryWasMissing()) {  // nothing guarded the plan: take the turn again
      if (++appeared < kDirectoryAttempts) continue;
      op.error = ICL_ERROR_FILE_LOCK;
      logDirectoryUnsteady(op.self, function, op.location);
      return -1;
    }
    if (plan.step == Plan::Done) return 0;
    const Outcome outcome = writePlanned(op, turn, plan);
    if (outcome != Outcome::Superseded) return outcome == Outcome::Succeeded ? 0 : -1;
    if (!plan.redoWhenOvertaken) {
      return failWith(op, ICL_ERROR_FILE_LOCK, EV_LOG_ERROR, kRewrite,
                      "Index cache label [%s] left unchanged: another writer changed it, or took "
                      "the writers' lock, while this change was being written. Read it again and "
                      "retry.",
                      op.labelPath.c_str());
    }
    if (++superseded > kSupersededRedos) {
      op.error = ICL_ERROR_FILE_LOCK;
      logGaveUp(op.self, function, op.location, superseded);
      return -1;
    }
    beforeRedo.pause();
  }
}

// --- The operations ------------------------------------------------------

int updateLabel(LabelOp& op, bool allowNew) {
  op.error = ICL_ERROR_NONE;
  op.self.Debug(kUpdate, "ICL update for IndexCacheID [%d] in IndexPool [%d] started",
                op.identity.indexCacheID, op.identity.indexCachePoolID);
  return changeLabel(op, kUpdate, [allowNew](LabelOp& o) { return updatePlan(o, allowNew); });
}

int removeAccessPath(LabelOp& op) {
  op.self.Debug(kRemove,
                "About to remove IndexCacheAccessPathID [%d] from  IndexCacheID [%d] in "
                "IndexPool [%d].",
                op.identity.accessPathID, op.identity.indexCacheID, op.identity.indexCachePoolID);
  op.error = ICL_ERROR_NONE;
  return changeLabel(op, kRemove,
                     [](LabelOp& o) { return verifiedPlan(o, ICL_UPDATE_REMOVE, false); });
}

int checkLabel(LabelOp& op) {
  op.self.Debug(kCheck, "Index Cache Label check for IndexCacheID [%d] in IndexPool [%d] started.",
                op.identity.indexCacheID, op.identity.indexCachePoolID);
  op.error = ICL_ERROR_NONE;
  const bool compareMarker = op.identity.timeStampMarker != 0;
  ICLData found = {0, 0, 0, 0};
  // A check that has nothing to add stays a reader: no lock, no wait.
  LoadReport loaded;
  if (readLabel(op, found, loaded) != 0) return -1;
  if (!sameIdentity(op.self, op.identity, found, compareMarker, EV_LOG_DEBUG, kVerify)) {
    op.error = ICL_ERROR_MISMATCH;
    return -1;
  }
  if (found.accessPathID != 0 || op.identity.accessPathID == 0) return 0;
  op.self.Debug(kCheck, "About to verify writability of Index Cache for host [%s].", op.host);
  return changeLabel(op, kCheck, [compareMarker](LabelOp& o) {
    return verifiedPlan(o, ICL_UPDATE_ADD, compareMarker);
  });
}

int writeNewLabel(LabelOp& op) {
  // Refused before the lock is taken, so an illegal request creates no file.
  if (refusedAsIllegal(op)) return -1;
  return changeLabel(op, kWriteNew, newLabelPlan);
}

int rewriteLoadedLabel(LabelOp& op, TUpdateMode mode) {
  if (op.reader == nullptr || !op.reader->isFileOpen()) {
    op.self.Error(kRewrite,
                  "Internal Error! Entered internal UpdateICL function without the virtual ICL "
                  "label file being open!");
    return -1;
  }
  // The caller's copy, as asked, but in the writers' turn so that it never
  // interleaves with another writer's replace.
  return changeLabel(op, kRewrite, [mode](LabelOp& o) { return loadedTextPlan(o, mode); });
}

template <typename Body>
int answer(ICLController& controller, TICLError& error, Body body) {
  return answerWithoutThrowing(error, ICL_ERROR_FILE_WRITE, [&] {
    LabelOp op = ICLControllerAccess::op(controller);
    return body(op);
  });
}

}  // namespace
}  // namespace icl

int ICLController::UpdateICL(bool allowNewICL) {
  return icl::answer(*this, iclError,
                     [allowNewICL](icl::LabelOp& op) { return icl::updateLabel(op, allowNewICL); });
}

int ICLController::RemoveAccessPathIDfromICL() {
  return icl::answer(*this, iclError, icl::removeAccessPath);
}

int ICLController::CheckICL() { return icl::answer(*this, iclError, icl::checkLabel); }

int ICLController::WriteNewICL() { return icl::answer(*this, iclError, icl::writeNewLabel); }

int ICLController::UpdateICLInternal(TUpdateMode mode) {
  return icl::answer(*this, iclError,
                     [mode](icl::LabelOp& op) { return icl::rewriteLoadedLabel(op, mode); });
}
