#ifndef ICL_ICL_WRITERLOCK_H
#define ICL_ICL_WRITERLOCK_H

// How the label operations take the writers' lock, say what went wrong, and
// run their read-modify-write under it.

#include "Backoff.h"
#include "EvEvent.h"
#include "ICLRoutines.h"
#include "LabelLock.h"

namespace icl {

// What a step run under the writers' lock answers.
enum class StepResult : int {
  Succeeded,  // the operation answers 0
  Failed,     // the operation answers -1; the step has set the error and logged
  // The step was about to write, but the lock was not taken because the
  // directory was missing (LockResult::NoDirectory): take the lock again
  // (the directory is there now) and run the step once more.
  RetryUnderLock,
  // Just before its rename the step found the label changed or the lock
  // lost (LabelStillCurrent.h) and wrote nothing: take the lock again, load
  // the label again and redo the change on it.
  Superseded,
};

// How often one operation redoes its change after Superseded.
const int kSupersededRedos = 3;

// Takes the writers' lock of the directory `location` names. 0: go on, as
// lock.state() says: Held (write; the claim is ours too), NoDirectory (the
// directory was not there, or no location was given: nothing guards a
// write, and a step about to write answers StepResult::RetryUnderLock; the
// read that follows reports a missing directory), NotSupported or NoAccess
// (write without the lock: the file system refuses record locks, or this
// process can neither open the lock file nor write the directory). -1: the
// lock could not be taken; `error` is set (ICL_ERROR_FILE_LOCK, or
// ICL_ERROR_FILE_READ for a name that stays stale) and an Error line says why.
int takeWritersLock(EvDebug& log, const char* function, const char* location, LabelLock& lock,
                    TICLError& error);

// Runs `step(lock)` under the writers' lock and answers its result as 0 or
// -1 (`lock` says how it was taken, and is asked again before a rename).
// A step that meets a directory which appeared after the lock was tried
// answers RetryUnderLock and runs again; one that found its label superseded
// runs again on the label as it is then, kSupersededRedos times at most.
// A directory that keeps appearing and vanishing, and a label that keeps
// changing under a writer (or a lock that keeps being lost), fail the
// operation with ICL_ERROR_FILE_LOCK and an Error line.
template <typename Step>
int runWithWritersLock(EvDebug& log, const char* function, const char* location, TICLError& error,
                       Step step) {
  const int kAttempts = 3;
  int appeared = 0;
  int superseded = 0;
  // A redo waits a moment, so that caches that answered for the label catch up.
  Backoff beforeRedo(kSupersededRedos, std::chrono::milliseconds(10),
                     std::chrono::milliseconds(100));
  while (appeared < kAttempts && superseded <= kSupersededRedos) {
    LabelLock lock;
    if (takeWritersLock(log, function, location, lock, error) != 0) return -1;
    switch (step(lock)) {
      case StepResult::Succeeded:
        return 0;
      case StepResult::Failed:
        return -1;
      case StepResult::RetryUnderLock:
        ++appeared;
        break;
      case StepResult::Superseded:
        if (++superseded <= kSupersededRedos) beforeRedo.pause();
        break;
    }
  }
  error = ICL_ERROR_FILE_LOCK;
  if (superseded > kSupersededRedos) {
    log.Error(function,
              "The index cache label in [%s] was not changed: another writer changed it, or took "
              "the writers' lock, each of the [%d] times this change was about to be written.",
              location, superseded);
    return -1;
  }
  log.Error(function,
            "The index cache directory [%s] keeps appearing and vanishing; the label "
            "was not changed.",
            location);
  return -1;
}

}  // namespace icl

#endif
