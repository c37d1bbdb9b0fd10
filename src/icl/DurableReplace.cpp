#include "DurableReplace.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "DirectoryListing.h"
#include "WriterIdentity.h"
#include "sys/FileIo.h"
#include "sys/JoinPath.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

const int kUniqueNameAttempts = 16;
const char* const kTempInfix = ".tmp";

int fail(ReplaceError& error, FileStep step, const std::string& path, int err) {
  error.step = step;
  error.path = path;
  error.err = err;
  return -1;
}

std::string ownTempPath(const std::string& target) {
  static std::atomic<unsigned> sequence{0};
  return target + kTempInfix + "-" + writerTag() + "-" + std::to_string(sequence.fetch_add(1));
}

// "<boot>-<pid>" out of "<target name>.tmp-<boot>-<pid>-<n>"; "" for any
// other name (an older writer's reserved "<target name>.tmp" among them).
std::string tagOfTempName(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() + 1 || name[prefix.size()] != '-') return "";
  const std::string rest = name.substr(prefix.size() + 1);
  const size_t lastDash = rest.rfind('-');
  return lastDash == std::string::npos ? "" : rest.substr(0, lastDash);
}

// Whether the sweep may remove the temporary file `name` (a regular file).
bool isLeftover(const std::string& name, const std::string& prefix, const struct stat& st) {
  if (tagOfDeadLocalWriter(tagOfTempName(name, prefix))) return true;
  return time(nullptr) - st.st_mtime > std::chrono::seconds(kLeftoverAge).count();
}

// Gives the new file the old one's owner, group and permission bits. Only a
// privileged process may give a file away: EPERM there is no error, the file
// keeps our owner and takes the group if we may. Any other failure is one.
int copyAttributes(int fd, const struct stat& old, const std::string& tempPath,
                   ReplaceError& error) {
  struct stat now;
  if (sys::calls().fstat(fd, &now) != 0) return fail(error, FileStep::Examining, tempPath, errno);
  if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
    if (sys::calls().fchown(fd, old.st_uid, old.st_gid) != 0) {
      if (errno != EPERM) return fail(error, FileStep::SettingOwner, tempPath, errno);
      if (now.st_gid != old.st_gid &&
          sys::calls().fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM) {
        return fail(error, FileStep::SettingGroup, tempPath, errno);
      }
    }
  }
  // After the chown, which may clear set-id bits.
  if (sys::calls().fchmod(fd, old.st_mode & 07777) != 0) {
    return fail(error, FileStep::SettingPermissions, tempPath, errno);
  }
  return 0;
}

// Creates this writer's temporary file exclusively; never opens an existing one.
int createTemp(const ReplaceRequest& request, std::string& tempPath, ReplaceError& error) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  for (int attempt = 0;; ++attempt) {
    tempPath = ownTempPath(request.target);
    int fd = sys::openRetry(tempPath.c_str(), flags, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST || attempt + 1 == kUniqueNameAttempts) {
      return fail(error, FileStep::Creating, tempPath, errno);
    }
  }
}

// Writes, syncs and closes the temporary file; closes it on every path.
int fillTemp(sys::UniqueFd& fd, const ReplaceRequest& request, const std::string& tempPath,
             ReplaceError& error) {
  if (request.attributes != nullptr &&
      copyAttributes(fd.get(), *request.attributes, tempPath, error) != 0) {
    return -1;
  }
  if (sys::writeFull(fd.get(), request.content->data(), request.content->size()) != 0) {
    return fail(error, FileStep::Writing, tempPath, errno);
  }
  if (sys::fsyncRetry(fd.get()) != 0) return fail(error, FileStep::Syncing, tempPath, errno);
  int err = fd.close();
  if (err != 0) return fail(error, FileStep::Closing, tempPath, err);
  return 0;
}

// Renames this writer's complete temporary file over the target, unless the
// caller's last check says no. The temporary file is gone on every failure.
int renameIntoPlace(const ReplaceRequest& request, const std::string& tempPath,
                    ReplaceError& error) {
  const RenameVerdict verdict = request.beforeRename ? request.beforeRename() : RenameVerdict::Go;
  if (verdict != RenameVerdict::Go) {
    error.abandoned = verdict;
    sys::calls().unlink(tempPath.c_str());
    return -1;
  }
  if (sys::calls().rename(tempPath.c_str(), request.target.c_str()) != 0) {
    fail(error, FileStep::Renaming, tempPath, errno);
    sys::calls().unlink(tempPath.c_str());
    return -1;
  }
  return 0;
}

}  // namespace

void sweepLeftoverTemps(const std::string& directory, const std::string& target,
                        std::vector<std::string>& removed) {
  const size_t slash = target.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? target : target.substr(slash + 1)) + kTempInfix;
  std::vector<std::string> candidates;
  listDirectory(directory, [&](const char* name, ino64_t) {
    if (strncmp(name, prefix.c_str(), prefix.size()) == 0) candidates.emplace_back(name);
  });
  for (const std::string& name : candidates) {
    const std::string path = sys::joinPath(directory, name.c_str());
    struct stat st;
    if (sys::calls().lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (!isLeftover(name, prefix, st)) continue;
    if (sys::calls().unlink(path.c_str()) == 0) removed.push_back(path);
  }
}

int syncDirectory(const std::string& directory, ReplaceError& error) {
  sys::UniqueFd dir(sys::openRetry(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return fail(error, FileStep::OpeningDirectory, directory, errno);
  if (sys::fsyncRetry(dir.get()) != 0 && errno != EINVAL) {
    return fail(error, FileStep::SyncingDirectory, directory, errno);
  }
  int err = dir.close();
  if (err != 0) return fail(error, FileStep::ClosingDirectory, directory, err);
  return 0;
}

int replaceFileDurably(const ReplaceRequest& request, ReplaceError& error, ReplaceNotes& notes) {
  if (request.sweepLeftovers) {
    sweepLeftoverTemps(request.directory, request.target, notes.leftoversRemoved);
  }
  std::string tempPath;
  int created = createTemp(request, tempPath, error);
  if (created < 0) return -1;
  sys::UniqueFd fd(created);
  if (fillTemp(fd, request, tempPath, error) != 0) {
    fd.close();
    sys::calls().unlink(tempPath.c_str());
    return -1;
  }
  if (renameIntoPlace(request, tempPath, error) != 0) return -1;
  if (syncDirectory(request.directory, error) != 0) {
    error.targetReplaced = true;
    return -1;
  }
  return 0;
}

}  // namespace icl
