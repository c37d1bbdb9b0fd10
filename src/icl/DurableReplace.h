#ifndef ICL_ICL_DURABLEREPLACE_H
#define ICL_ICL_DURABLEREPLACE_H

// Replacing a file so that readers only ever see the old or the new bytes.
//
// The new content goes to a temporary file in the same directory (created
// exclusively, so never through a planted link), is written, synced and
// closed, and only then renamed over the target; the directory is synced so
// the rename survives a power cut. Knows nothing of the label's format.
//
// On disk after a failure before the rename (setting the attributes
// included): the target exactly as it was, and no temporary file (unless
// removing it failed too; a reserved one is then cleared by the next
// writer). After a failed directory sync (ReplaceError::targetReplaced):
// the new target, possibly not yet durable.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "FileStep.h"

namespace icl {

struct ReplaceRequest {
  std::string directory;  // where the target lives; synced after the rename
  std::string target;     // the file to replace
  const std::string* content = nullptr;
  // The attributes to give the new file: the permission bits, and the owner
  // and group where the process may set them (a process refused with EPERM
  // keeps its own owner and sets the group if it may). Any other failure to
  // set them fails the replace. Null: 0666 less the umask, the process's owner.
  const struct stat* attributes = nullptr;
  // The caller holds the writers' lock: use the one reserved temporary name,
  // and remove a file found there (only a writer that died can leave one).
  // Without the lock, a unique name per attempt is used.
  bool reservedTemp = false;
};

// Why a replace failed. The steps before the rename work on the temporary
// file (RemovingStaleTemp, Creating, Examining, SettingOwner, SettingGroup,
// SettingPermissions, Writing, Syncing, Closing, Renaming); after it only
// the directory's (OpeningDirectory, SyncingDirectory, ClosingDirectory).
struct ReplaceError {
  FileStep step = FileStep::None;
  std::string path;             // the file or directory the step worked on
  int err = 0;                  // errno of the failed call
  bool targetReplaced = false;  // only a directory step failed
};

struct ReplaceNotes {
  bool staleTempRemoved = false;
};

// The reserved temporary name for `target`.
std::string reservedTempPath(const std::string& target);

// For a caller that holds the writers' lock but writes nothing: removes the
// reserved temporary file a writer that died left beside `target`. True when
// one was removed; a failure is no error (the next write retries it).
bool removeStaleTemp(const std::string& target);

// 0 on success; -1 with `error` filled.
int replaceFileDurably(const ReplaceRequest& request, ReplaceError& error, ReplaceNotes& notes);

}  // namespace icl

#endif
