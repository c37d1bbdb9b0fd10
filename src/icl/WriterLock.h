#ifndef ICL_ICL_WRITERLOCK_H
#define ICL_ICL_WRITERLOCK_H

// How the label operations take the writers' lock and say what went wrong.

#include "EvEvent.h"
#include "ICLRoutines.h"
#include "LabelLock.h"

namespace icl {

struct WriterLockState {
  bool guarded = false;  // a write is safe now: the lock is held, or locks are refused here
  bool held = false;     // the lock is held
};

// Takes the writers' lock of the directory `location` names. 0: go on, with
// `state` saying whether a write is safe (a missing directory is not an
// error here: the read that follows reports it). -1: the lock could not be
// taken; `error` is ICL_ERROR_FILE_LOCK and an Error line says why.
int takeWritersLock(EvDebug& log, const char* function, const char* location, LabelLock& lock,
                    WriterLockState& state, TICLError& error);

// A body's answer when it is about to write but the lock was not taken
// because the directory did not exist then.
const int kRetryUnderLock = -2;

// Runs `body(state)` under the writers' lock. A body that meets a directory
// which appeared after the lock was tried answers kRetryUnderLock and runs
// again; a directory that keeps appearing and vanishing fails the operation.
template <typename Body>
int runWithWritersLock(EvDebug& log, const char* function, const char* location,
                       TICLError& error, Body body) {
  const int kAttempts = 3;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    LabelLock lock;
    WriterLockState state;
    if (takeWritersLock(log, function, location, lock, state, error) != 0) return -1;
    int result = body(state);
    if (result != kRetryUnderLock) return result;
  }
  error = ICL_ERROR_FILE_LOCK;
  log.Error(function, "The index cache directory [%s] keeps appearing and vanishing; the label "
                      "was not changed.", location);
  return -1;
}

}  // namespace icl

#endif
