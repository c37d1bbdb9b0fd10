#include "ScratchFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "sys/SysCalls.h"

namespace icl {
namespace {

// A hard link planted at the name would make the test empty, re-own and
// re-mode the file it points to; one we created ourselves has one link.
bool isPrivateRegularFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1;
}

}  // namespace

ScratchWrite writeScratchFile(const char* path, const std::string& text,
                              ScratchIdentity& identity) {
  // No O_TRUNC: the file is emptied only once it is known to be our own.
  // O_NONBLOCK keeps a planted FIFO from stalling the open.
  sys::UniqueFd fd(
      sys::openRetry(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd.valid()) return ScratchWrite::kNotOpened;
  struct stat st;
  if (sys::calls().fstat(fd.get(), &st) != 0 || !isPrivateRegularFile(st)) {
    return ScratchWrite::kNotOpened;
  }
  if (sys::calls().ftruncate(fd.get(), 0) != 0) return ScratchWrite::kNotOpened;
  if (sys::writeFull(fd.get(), text.data(), text.size()) != 0) return ScratchWrite::kNotWritten;
  if (fd.close() != 0) return ScratchWrite::kNotWritten;
  identity.device = st.st_dev;
  identity.inode = st.st_ino;
  return ScratchWrite::kWritten;
}

sys::UniqueFd reopenScratchFile(const char* path, const ScratchIdentity& identity) {
  sys::UniqueFd fd(sys::openRetry(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return fd;
  struct stat st;
  if (sys::calls().fstat(fd.get(), &st) != 0 || !isPrivateRegularFile(st) ||
      st.st_dev != identity.device || st.st_ino != identity.inode) {
    return sys::UniqueFd();  // closes the descriptor we must not act on
  }
  return fd;
}

}  // namespace icl
