#include "write/NewLabelFile.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "label/LabelDirectory.h"
#include "label/LabelNames.h"
#include "sys/DirectoryListing.h"
#include "sys/FileIo.h"
#include "sys/JoinPath.h"
#include "sys/SysCalls.h"
#include "write/WriterIdentity.h"

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

// Gives the new file the old one's owner, group and permission bits. Only a
// privileged process may give a file away: EPERM there is no error, the file
// keeps our owner and takes the group if we may. Any other failure is one.
int copyAttributes(int fd, const struct stat& old, const std::string& path, ReplaceError& error) {
  struct stat now;
  if (sys::calls().fstat(fd, &now) != 0) return fail(error, FileStep::Examining, path, errno);
  if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
    if (sys::calls().fchown(fd, old.st_uid, old.st_gid) != 0) {
      if (errno != EPERM) return fail(error, FileStep::SettingOwner, path, errno);
      if (now.st_gid != old.st_gid &&
          sys::calls().fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM) {
        return fail(error, FileStep::SettingGroup, path, errno);
      }
    }
  }
  // After the chown, which may clear set-id bits.
  if (sys::calls().fchmod(fd, old.st_mode & 07777) != 0) {
    return fail(error, FileStep::SettingPermissions, path, errno);
  }
  return 0;
}

// "<tag>" out of "<name prefix>-<tag>" where the tag's last part is a
// counter; "" for any other name (an older writer's reserved "<label>.tmp").
std::string tagOfTempName(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() + 1 || name[prefix.size()] != '-') return "";
  const std::string rest = name.substr(prefix.size() + 1);
  const size_t lastDash = rest.rfind('-');
  return lastDash == std::string::npos ? "" : rest.substr(0, lastDash);
}

// The names the sweep may judge: the label's temporaries and the claims a
// take-over moved aside.
const char* leftoverPrefix(const char* name) {
  static const std::string label = std::string(kLabelFileName) + kTempInfix;
  static const std::string claim = std::string(kClaimFileName) + kTempInfix;
  if (strncmp(name, label.c_str(), label.size()) == 0) return label.c_str();
  if (strncmp(name, claim.c_str(), claim.size()) == 0) return claim.c_str();
  return nullptr;
}

}  // namespace

NewLabelFile::~NewLabelFile() {
  if (!path_.empty() && !renamed_) sys::calls().unlink(path_.c_str());
}

int NewLabelFile::prepare(const std::string& labelPath, const std::string& content,
                          const struct stat* attributes, ReplaceError& error) {
  labelPath_ = labelPath;
  sys::UniqueFd fd;
  for (int attempt = 0; !fd.valid(); ++attempt) {
    const std::string name = labelPath + kTempInfix + "-" + uniqueTag();
    fd = sys::UniqueFd(
        sys::openRetry(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.valid() && (errno != EEXIST || attempt + 1 == kUniqueNameAttempts)) {
      return fail(error, FileStep::Creating, name, errno);
    }
    if (fd.valid()) path_ = name;
  }
  if (attributes != nullptr && copyAttributes(fd.get(), *attributes, path_, error) != 0) return -1;
  if (sys::writeFull(fd.get(), content.data(), content.size()) != 0) {
    return fail(error, FileStep::Writing, path_, errno);
  }
  if (sys::fsyncRetry(fd.get()) != 0) return fail(error, FileStep::Syncing, path_, errno);
  const int err = fd.close();
  return err == 0 ? 0 : fail(error, FileStep::Closing, path_, err);
}

int NewLabelFile::commit(ReplaceError& error) {
  if (sys::calls().rename(path_.c_str(), labelPath_.c_str()) != 0) {
    return fail(error, FileStep::Renaming, path_, errno);
  }
  renamed_ = true;
  if (syncDirectory(LabelDirectory::of(labelPath_).slashed(), error) == 0) return 0;
  error.targetReplaced = true;
  return -1;
}

void sweepLeftovers(const std::string& labelPath, const std::string& ownNewFile,
                    std::vector<std::string>& removed) {
  struct stat own;
  if (sys::calls().stat(ownNewFile.c_str(), &own) != 0) return;  // no clock to judge by
  const std::string directory = LabelDirectory::of(labelPath).path();
  std::vector<std::string> candidates;
  listDirectory(directory, [&](const char* name, ino64_t) {
    if (leftoverPrefix(name) != nullptr) candidates.emplace_back(name);
  });
  const time_t oldest = own.st_mtime - std::chrono::seconds(kLeftoverAge).count();
  for (const std::string& name : candidates) {
    const std::string path = sys::joinPath(directory, name.c_str());
    struct stat st;
    if (path == ownNewFile || sys::calls().lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    const bool gone = tagOfDeadLocalWriter(tagOfTempName(name, leftoverPrefix(name.c_str())));
    if (!gone && st.st_mtime >= oldest) continue;
    if (sys::calls().unlink(path.c_str()) == 0) removed.push_back(path);
  }
}

int syncDirectory(const std::string& directory, ReplaceError& error) {
  sys::UniqueFd dir(sys::openRetry(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return fail(error, FileStep::OpeningDirectory, directory, errno);
  if (sys::fsyncRetry(dir.get()) != 0 && errno != EINVAL) {
    return fail(error, FileStep::SyncingDirectory, directory, errno);
  }
  const int err = dir.close();
  return err == 0 ? 0 : fail(error, FileStep::ClosingDirectory, directory, err);
}

int syncUnchangedLabel(const std::string& labelPath, ReplaceError& error) {
  sys::UniqueFd label(
      sys::openRetry(labelPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  int err = label.valid() && sys::fsyncRetry(label.get()) == 0 ? 0 : errno;
  if (err == EINVAL) err = 0;  // a file system that cannot sync
  if (err != 0) return fail(error, FileStep::Syncing, labelPath, err);
  return syncDirectory(LabelDirectory::of(labelPath).slashed(), error);
}

}  // namespace icl
