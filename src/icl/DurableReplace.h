#ifndef ICL_ICL_DURABLEREPLACE_H
#define ICL_ICL_DURABLEREPLACE_H

// Replacing a file so that readers only ever see the old or the new bytes.
//
// The new content goes to a temporary file in the same directory, is
// written, synced and closed, and only then renamed over the target; the
// directory is synced so the rename survives a power cut. Knows nothing of
// the label's format.
//
// Each writer's temporary file is its own: created exclusively (so never
// through a planted link) under a name no other writer on any host forms,
// "<target>.tmp-<writer tag>-<n>" (WriterIdentity.h). A writer never opens,
// truncates, renames or removes a temporary file it did not create, except
// in the sweep of leftovers, whose rule cannot take a live writer's file:
//   - a name whose tag is a writer of this host that is gone, or
//   - any temporary of the target ("<target>.tmp" and "<target>.tmp-...",
//     older writers' reserved name included) not modified for
//     kLeftoverAge: a writer renames its file within its lock wait. One
//     cut off from the storage for longer finds its file gone, and its
//     rename fails (ENOENT) and says so; nothing is ever torn.
//
// On disk after a failure before the rename (setting the attributes
// included), or when the caller's last check abandons it: the target exactly
// as it was, and no temporary file of this writer (unless removing it failed
// too; the sweep takes it later). After a failed directory sync
// (ReplaceError::targetReplaced): the new target, possibly not yet durable.

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "FileStep.h"

namespace icl {

const std::chrono::minutes kLeftoverAge(15);

// The caller's last word before the rename.
enum class RenameVerdict {
  Go,
  TargetChanged,  // the target is no longer the file the content was made from
  LockLost,       // the caller no longer holds what kept other writers out
};

struct ReplaceRequest {
  std::string directory;  // where the target lives; synced after the rename
  std::string target;     // the file to replace
  const std::string* content = nullptr;
  // The attributes to give the new file: the permission bits, and the owner
  // and group where the process may set them (a process refused with EPERM
  // keeps its own owner and sets the group if it may). Any other failure to
  // set them fails the replace. Null: 0666 less the umask, the process's owner.
  const struct stat* attributes = nullptr;
  // The caller holds the writers' lock: sweep the leftovers of writers that
  // are gone first.
  bool sweepLeftovers = false;
  // Asked once the temporary file is complete, just before the rename;
  // anything but Go abandons the replace. Empty: always Go.
  std::function<RenameVerdict()> beforeRename;
};

// Why a replace failed. The steps before the rename work on the temporary
// file (Creating, Examining, SettingOwner, SettingGroup, SettingPermissions,
// Writing, Syncing, Closing, Renaming); after it only the directory's
// (OpeningDirectory, SyncingDirectory, ClosingDirectory). An abandoned
// replace has step None and `abandoned` says why.
struct ReplaceError {
  FileStep step = FileStep::None;
  std::string path;             // the file or directory the step worked on
  int err = 0;                  // errno of the failed call
  bool targetReplaced = false;  // only a directory step failed
  RenameVerdict abandoned = RenameVerdict::Go;
};

struct ReplaceNotes {
  std::vector<std::string> leftoversRemoved;  // paths the sweep removed
};

// Removes the leftover temporary files of `target` by the rule above and
// adds their paths to `removed`. Best effort: a failure is no error (the next
// sweep tries again).
void sweepLeftoverTemps(const std::string& directory, const std::string& target,
                        std::vector<std::string>& removed);

// Syncs `directory`, so that a rename in it survives a power cut. File
// systems that cannot sync a directory say EINVAL; that counts as done.
// 0, or -1 with `error` filled (OpeningDirectory, SyncingDirectory,
// ClosingDirectory).
int syncDirectory(const std::string& directory, ReplaceError& error);

// 0 on success; -1 with `error` filled.
int replaceFileDurably(const ReplaceRequest& request, ReplaceError& error, ReplaceNotes& notes);

}  // namespace icl

#endif
