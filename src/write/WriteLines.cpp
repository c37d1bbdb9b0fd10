#include "write/WriteLines.h"

#include <string.h>

#include <cstdio>

#include "label/LabelFormat.h"
#include "textfile/LoadReport.h"
#include "write/LabelLock.h"

namespace icl {

std::string printableTag(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size() && i < 128; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c > 0x20 && c < 0x7f && c != '\\') {
      shown.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    }
  }
  return shown;
}

void logLockModeUnset(EvDebug& log, const char* function, const std::string& lockPath, int err) {
  log.Error(function,
            "Could not give the new lock file [%s] the directory's group and permissions: [%s]. "
            "Other users may be unable to take the lock.",
            lockPath.c_str(), strerror(err));
}

void logUnlocked(EvDebug& log, const char* function, const std::string& lockPath, LockResult result,
                 int err, bool claimed) {
  log.Debug(function, "%s [%s]: [%s]. Changing the index cache label without a lock%s.",
            result == LockResult::NotSupported ? "File locks are not supported for"
                                               : "Cannot open the lock file",
            lockPath.c_str(), strerror(err), claimed ? "; the claim keeps other writers out" : "");
}

void logClaimTakenOver(EvDebug& log, const char* function, const std::string& claimPath,
                       const ClaimSeen& seen) {
  log.Debug(function, "Took over the claim [%s] of writer [%s], which is gone.", claimPath.c_str(),
            printableTag(seen.takenOver).c_str());
}

int failToLock(EvDebug& log, const char* function, const std::string& lockPath, LockResult result,
               int err, TICLError& error) {
  error = ICL_ERROR_FILE_LOCK;
  if (result == LockResult::Refused) {
    log.Error(function,
              "Cannot open the lock file [%s]: [%s]. The index cache label was not changed: "
              "without the lock, the change could undo another writer's. Give this user write "
              "access to the lock file.",
              lockPath.c_str(), strerror(err));
  } else if (result == LockResult::TimedOut) {
    log.Error(function,
              "Timed out after [%lld] ms waiting for the index cache label lock [%s] held by "
              "another writer.",
              static_cast<long long>(labelLockWaitLimit().count()), lockPath.c_str());
  } else {
    log.Error(function, "Could not take the index cache label lock [%s]: [%s]", lockPath.c_str(),
              err != 0 ? strerror(err) : "not a regular file");
  }
  return -1;
}

int failToClaim(EvDebug& log, const char* function, const std::string& claimPath,
                ClaimResult result, int err, const ClaimSeen& seen, bool lockShared,
                TICLError& error) {
  error = ICL_ERROR_FILE_LOCK;
  if (result != ClaimResult::TimedOut) {
    log.Error(function, "Could not take the index cache label claim [%s]: [%s]", claimPath.c_str(),
              err != 0 ? strerror(err) : "not a regular file");
    return -1;
  }
  const long long waited = static_cast<long long>(labelLockWaitLimit().count());
  const std::string holder = printableTag(seen.holder);
  if (seen.claimsSeen <= 1) {
    // One claim the whole time: its writer is slow, paused or gone.
    log.Error(function,
              "Timed out after [%lld] ms waiting for the index cache label claim [%s] of writer "
              "[%s], which stood unchanged for [%lld] ms: its writer may be gone. A claim is "
              "taken over once it stands unchanged for [%lld] s; remove it by hand only once "
              "that writer is known to have ended.",
              waited, claimPath.c_str(), holder.c_str(),
              static_cast<long long>(seen.unchangedFor.count()),
              static_cast<long long>(kClaimStaleAfter.count()));
  } else {
    log.Error(function,
              "Timed out after [%lld] ms waiting for the index cache label claim [%s]: live "
              "writers held it in turn ([%d] claims, the last of writer [%s]).%s",
              waited, claimPath.c_str(), seen.claimsSeen, holder.c_str(),
              lockShared ? " They changed the label while this writer held the writers' lock: "
                           "the file system does not pass locks between its clients."
                         : "");
  }
  return -1;
}

int failStaleName(EvDebug& log, const char* function, const std::string& labelPath,
                  TICLError& error) {
  error = ICL_ERROR_FILE_READ;
  log.Error(function,
            "Index cache label [%s] was not changed: under its name this host still finds another "
            "file than the one the server lists. The file system keeps names in a cache; mount it "
            "without an entry cache timeout.",
            labelPath.c_str());
  return -1;
}

void logFull(EvDebug& log, const char* function, const std::string& labelPath,
             const std::string& content) {
  log.Error(function,
            "Index cache label [%s] is full: it would grow to [%zu] bytes, over the limit of [%d] "
            "bytes, listing [%d] access paths. It was left unchanged; remove access paths that "
            "are no longer used to make room.",
            labelPath.c_str(), content.size(), kReaderSizeLimit, countAccessPathLines(content));
}

void logLeftoversRemoved(EvDebug& log, const char* function,
                         const std::vector<std::string>& removed) {
  for (const std::string& path : removed) {
    log.Debug(function, "Removed the temporary file [%s] left by an interrupted writer.",
              path.c_str());
  }
}

void logReplaceFailure(EvDebug& log, const char* function, LabelWriteKind kind,
                       const std::string& labelPath, const ReplaceError& error) {
  // The lines older versions wrote: only creating the file, and closing a
  // rewritten one, had one.
  const bool rewriting = kind == LabelWriteKind::Rewrite;
  if (error.step == FileStep::Creating) {
    log.Error(
        function, "fopen() failed to open the file for %s. [%s] Index cache label could not be %s.",
        rewriting ? "updating" : "writing", labelPath.c_str(), rewriting ? "updated" : "written");
  } else if (error.step == FileStep::Closing && rewriting) {
    log.Error(function, "Unable to close the index cache label file!");
  }
  const char* step = fileStepText(error.step);
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

void logUnchangedUnsynced(EvDebug& log, const char* function, const std::string& labelPath,
                          const ReplaceError& error) {
  log.Error(function,
            "Index cache label [%s] already holds this change, but syncing [%s] failed: [%s]. The "
            "change may not survive a power failure.",
            labelPath.c_str(), error.path.c_str(), strerror(error.err));
}

void logAbandoned(EvDebug& log, const char* function, const std::string& labelPath,
                  RenameVerdict why) {
  if (why == RenameVerdict::LockLost) {
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

void logOvertaken(EvDebug& log, const char* function, const std::string& labelPath) {
  log.Error(function,
            "Index cache label [%s] was replaced, but this writer no longer held the writers' "
            "lock and claim when it did, or could not tell that it still did: a change another "
            "writer made meanwhile may be missing. Read the label and redo any change that is "
            "missing.",
            labelPath.c_str());
}

void logGaveUp(EvDebug& log, const char* function, const char* location, int times) {
  log.Error(function,
            "The index cache label in [%s] was not changed: another writer changed it, or took "
            "the writers' lock, each of the [%d] times this change was about to be written.",
            location, times);
}

void logDirectoryUnsteady(EvDebug& log, const char* function, const char* location) {
  log.Error(function,
            "The index cache directory [%s] keeps appearing and vanishing; the label was not "
            "changed.",
            location);
}

void logRewriteDone(EvDebug& log, const char* function, bool removing, bool ownLineFound,
                    int32_t accessPathID) {
  if (!removing && !ownLineFound) {
    log.Debug(function, "Accesspath ID [%d] successfully added to Index Cache Label file.",
              accessPathID);
  }
  if (removing && ownLineFound) {
    log.Debug(function, "Accesspath ID [%d] successfully removed from Index Cache Label file.",
              accessPathID);
  } else if (removing) {
    log.Debug(function,
              "Warning: Accesspath ID [%d] was not removed as it was not present in the first "
              "place. Still marking success.",
              accessPathID);
  }
}

}  // namespace icl
