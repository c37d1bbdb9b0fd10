#include "DurableReplace.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

const int kUniqueNameAttempts = 16;

int fail(ReplaceError& error, FileStep step, const std::string& path, int err) {
  error.step = step;
  error.path = path;
  error.err = err;
  return -1;
}

std::string uniqueTempPath(const std::string& target) {
  static std::atomic<unsigned> sequence{0};
  return target + ".tmp." + std::to_string(static_cast<long>(getpid())) + "." +
         std::to_string(sequence.fetch_add(1));
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

// Creates the temporary file exclusively; never opens an existing one.
int createTemp(const ReplaceRequest& request, std::string& tempPath, ReplaceError& error,
               ReplaceNotes& notes) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  if (request.reservedTemp) {
    tempPath = reservedTempPath(request.target);
    if (sys::calls().unlink(tempPath.c_str()) == 0) {
      notes.staleTempRemoved = true;
    } else if (errno != ENOENT) {
      return fail(error, FileStep::RemovingStaleTemp, tempPath, errno);
    }
    int fd = sys::openRetry(tempPath.c_str(), flags, 0666);
    if (fd < 0) return fail(error, FileStep::Creating, tempPath, errno);
    return fd;
  }
  for (int attempt = 0;; ++attempt) {
    tempPath = uniqueTempPath(request.target);
    int fd = sys::openRetry(tempPath.c_str(), flags, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST || attempt + 1 == kUniqueNameAttempts) {
      return fail(error, FileStep::Creating, tempPath, errno);
    }
  }
}

// Syncs the directory so the rename itself is on disk. File systems that
// cannot sync a directory say EINVAL; there is nothing more to do then.
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

}  // namespace

std::string reservedTempPath(const std::string& target) { return target + ".tmp"; }

bool removeStaleTemp(const std::string& target) {
  return sys::calls().unlink(reservedTempPath(target).c_str()) == 0;
}

int replaceFileDurably(const ReplaceRequest& request, ReplaceError& error, ReplaceNotes& notes) {
  std::string tempPath;
  int created = createTemp(request, tempPath, error, notes);
  if (created < 0) return -1;
  sys::UniqueFd fd(created);
  if (fillTemp(fd, request, tempPath, error) != 0) {
    fd.close();
    sys::calls().unlink(tempPath.c_str());
    return -1;
  }
  if (sys::calls().rename(tempPath.c_str(), request.target.c_str()) != 0) {
    fail(error, FileStep::Renaming, tempPath, errno);
    sys::calls().unlink(tempPath.c_str());
    return -1;
  }
  if (syncDirectory(request.directory, error) != 0) {
    error.targetReplaced = true;
    return -1;
  }
  return 0;
}

}  // namespace icl
