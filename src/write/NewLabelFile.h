#ifndef ICL_WRITE_NEWLABELFILE_H
#define ICL_WRITE_NEWLABELFILE_H

// Replacing the label so that readers only ever see the old or the new bytes.
//
// The new text goes to a temporary file in the label's directory, is
// written, synced and closed (prepare), and only then renamed over the
// label, after which the directory is synced so that the rename survives a
// power cut (commit). Knows nothing of the label's format.
//
// Each writer's temporary file is its own: created exclusively (so never
// through a planted link) under a name no other writer on any host forms,
// "<label>.tmp-<tag>" (WriterIdentity.h). A writer never opens, truncates,
// renames or removes a temporary file it did not create, except in the sweep
// of leftovers, whose rule cannot take a live writer's file:
//   - a name whose tag is a writer of this host that is gone, or
//   - any temporary of the label ("<label>.tmp" and "<label>.tmp-...", older
//     writers' reserved name included) and any claim moved aside by a
//     take-over ("icl_label.claim.tmp-..."), modified kLeftoverAge before this
//     writer's own new file was: the storage's clock against itself, so a
//     host whose clock is off by any amount judges right. A writer renames
//     its file within its wait limit; one cut off for longer finds its file
//     gone, and its rename fails (ENOENT) and says so; nothing is torn.
//
// On disk after a failure before the rename (giving the attributes
// included), or when the caller drops the file: the label exactly as it was,
// and no temporary file of this writer (unless removing it failed too; a
// sweep takes it later). After a failed directory sync
// (ReplaceError::targetReplaced): the new label, possibly not yet durable.

#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "write/WriteLines.h"

namespace icl {

const std::chrono::minutes kLeftoverAge(15);

class NewLabelFile {
 public:
  NewLabelFile() = default;
  ~NewLabelFile();  // removes the file unless it was renamed into place
  NewLabelFile(const NewLabelFile&) = delete;
  NewLabelFile& operator=(const NewLabelFile&) = delete;

  // Creates this writer's temporary file beside `labelPath`, gives it
  // `attributes` (the permission bits, and the owner and group where the
  // process may set them: a process refused with EPERM keeps its own owner
  // and sets the group if it may; any other failure fails; null: 0666 less
  // the umask, the process's owner), writes `content`, syncs and closes it.
  // 0, or -1 with `error` filled (Creating ... Closing) and nothing left.
  int prepare(const std::string& labelPath, const std::string& content,
              const struct stat* attributes, ReplaceError& error);
  // Renames it over the label, then syncs the directory. 0, or -1 with
  // `error` filled (Renaming; or a directory step, with targetReplaced).
  int commit(ReplaceError& error);
  const std::string& path() const { return path_; }

 private:
  std::string labelPath_;
  std::string path_;
  bool renamed_ = false;
};

// Removes the leftovers beside `labelPath` by the rule above, judging ages
// against `ownNewFile` (this writer's prepared file), and adds their paths to
// `removed`. Best effort: a failure is no error (a later sweep tries again).
void sweepLeftovers(const std::string& labelPath, const std::string& ownNewFile,
                    std::vector<std::string>& removed);

// Syncs `directory`, so that a rename in it survives a power cut. File
// systems that cannot sync a directory say EINVAL; that counts as done.
// 0, or -1 with `error` filled (OpeningDirectory, SyncingDirectory,
// ClosingDirectory).
int syncDirectory(const std::string& directory, ReplaceError& error);

// Syncs the label and its directory, for a change that changed no byte:
// 0 means on disk. -1 with `error` filled (the path that failed).
int syncUnchangedLabel(const std::string& labelPath, ReplaceError& error);

}  // namespace icl

#endif
