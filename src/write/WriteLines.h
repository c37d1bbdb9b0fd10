#ifndef ICL_WRITE_WRITELINES_H
#define ICL_WRITE_WRITELINES_H

// Every line the write path logs about a failure, and the lines a finished
// change logs, in one place: hosts and operators match them, so each keeps
// its words. The lines older versions wrote keep theirs word for word.

#include <string>
#include <vector>

#include "EvEvent.h"
#include "ICLRoutines.h"
#include "sys/FileStep.h"
#include "write/LabelLock.h"
#include "write/WriterClaim.h"

namespace icl {

// Why a replace failed: the step whose call failed, on which path, and its
// errno; `targetReplaced` when only the directory's steps failed (after the
// rename).
struct ReplaceError {
  FileStep step = FileStep::None;
  std::string path;
  int err = 0;
  bool targetReplaced = false;
};

// A new label and a rewrite fail with different lines that operators know.
enum class LabelWriteKind { NewLabel, Rewrite };

// The check before the rename said no (StillOurs.h).
enum class RenameVerdict {
  Go,
  TargetChanged,  // the label is no longer the file the change was made from
  LockLost,       // the writer no longer holds the lock or the claim
};

// `text` from a file, fit for a log line: bytes outside printable ASCII as
// \xNN, at most 128 of them.
std::string printableTag(const std::string& text);

// The turn (WriterTurn.h): how the lock and the claim were taken, or not.
void logLockModeUnset(EvDebug& log, const char* function, const std::string& lockPath, int err);
void logUnlocked(EvDebug& log, const char* function, const std::string& lockPath, LockResult result,
                 int err, bool claimed);
void logClaimTakenOver(EvDebug& log, const char* function, const std::string& claimPath,
                       const ClaimSeen& seen);
// Always -1, with `error` set to ICL_ERROR_FILE_LOCK.
int failToLock(EvDebug& log, const char* function, const std::string& lockPath, LockResult result,
               int err, TICLError& error);
// Always -1, with `error` set to ICL_ERROR_FILE_LOCK. `lockShared`: the
// writer held the lock, which the claim's other writers did not see.
int failToClaim(EvDebug& log, const char* function, const std::string& claimPath,
                ClaimResult result, int err, const ClaimSeen& seen, bool lockShared,
                TICLError& error);
// Always -1, with `error` set to ICL_ERROR_FILE_READ.
int failStaleName(EvDebug& log, const char* function, const std::string& labelPath,
                  TICLError& error);

// The change (WritePath.cpp).
void logFull(EvDebug& log, const char* function, const std::string& labelPath,
             const std::string& content);
void logLeftoversRemoved(EvDebug& log, const char* function,
                         const std::vector<std::string>& removed);
void logReplaceFailure(EvDebug& log, const char* function, LabelWriteKind kind,
                       const std::string& labelPath, const ReplaceError& error);
void logUnchangedUnsynced(EvDebug& log, const char* function, const std::string& labelPath,
                          const ReplaceError& error);
void logAbandoned(EvDebug& log, const char* function, const std::string& labelPath,
                  RenameVerdict why);
void logOvertaken(EvDebug& log, const char* function, const std::string& labelPath);
void logGaveUp(EvDebug& log, const char* function, const char* location, int times);
void logDirectoryUnsteady(EvDebug& log, const char* function, const char* location);
void logRewriteDone(EvDebug& log, const char* function, bool removing, bool ownLineFound,
                    int32_t accessPathID);

}  // namespace icl

#endif
