#include "ScratchFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "sys/SysCalls.h"

namespace icl {
namespace {

// A hard link planted at the name would make the check empty, re-own and
// re-mode the file it points to; one we created ourselves has one link.
bool isPrivateRegularFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1;
}

bool isFile(const struct stat& st, const ScratchIdentity& identity) {
  return st.st_dev == identity.device && st.st_ino == identity.inode;
}

ScratchWrite failed(ScratchWrite result, ScratchFailure& failure, FileStep step, int err) {
  failure.step = step;
  failure.err = err;
  return result;
}

}  // namespace

ScratchWrite writeScratchFile(const char* path, const std::string& text,
                              ScratchIdentity& identity, ScratchFailure& failure) {
  failure = ScratchFailure();
  // No O_TRUNC: a file left at the name is emptied only once it is known to
  // be our own. O_NONBLOCK keeps a planted FIFO from stalling the open.
  const int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  sys::UniqueFd fd(sys::openRetry(path, flags | O_CREAT | O_EXCL, 0666));
  const bool created = fd.valid();
  if (!created) {
    if (errno != EEXIST) {
      return failed(ScratchWrite::kNotOpened, failure, FileStep::Creating, errno);
    }
    fd = sys::UniqueFd(sys::openRetry(path, flags));
    if (!fd.valid()) return ScratchWrite::kNotOpened;  // something else holds the name
  }
  struct stat st;
  if (sys::calls().fstat(fd.get(), &st) != 0) {
    int err = errno;
    if (created) sys::calls().unlink(path);  // made one call ago, still empty
    return failed(ScratchWrite::kNotOpened, failure, FileStep::Examining, err);
  }
  if (!isPrivateRegularFile(st)) return ScratchWrite::kNotOpened;
  identity.device = st.st_dev;
  identity.inode = st.st_ino;
  if (sys::calls().ftruncate(fd.get(), 0) != 0) {
    return failed(ScratchWrite::kNotEmptied, failure, FileStep::Emptying, errno);
  }
  if (sys::writeFull(fd.get(), text.data(), text.size()) != 0) {
    return failed(ScratchWrite::kNotWritten, failure, FileStep::Writing, errno);
  }
  int err = fd.close();
  if (err != 0) return failed(ScratchWrite::kNotWritten, failure, FileStep::Closing, err);
  return ScratchWrite::kWritten;
}

sys::UniqueFd reopenScratchFile(const char* path, const ScratchIdentity& identity) {
  sys::UniqueFd fd(sys::openRetry(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return fd;
  struct stat st;
  if (sys::calls().fstat(fd.get(), &st) != 0 || !isPrivateRegularFile(st) ||
      !isFile(st, identity)) {
    return sys::UniqueFd();  // closes the descriptor we must not act on
  }
  return fd;
}

int removeScratchFile(const char* path, const ScratchIdentity& identity) {
  struct stat st;
  if (sys::calls().lstat(path, &st) != 0) return errno == ENOENT ? 0 : errno;
  if (!isFile(st, identity)) return 0;
  return sys::calls().unlink(path) == 0 ? 0 : errno;
}

}  // namespace icl
