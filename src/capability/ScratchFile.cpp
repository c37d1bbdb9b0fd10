#include "capability/ScratchFile.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>

#include "label/LabelDirectory.h"
#include "sys/SysCalls.h"

namespace icl {
namespace {

const int kUniqueNameAttempts = 16;
const size_t kNodeNameLength = 64;

// This host's kernel node name, as a file name may hold it.
std::string nodeName() {
  struct utsname host;
  if (uname(&host) != 0) return "unknown";
  std::string name(host.nodename, strnlen(host.nodename, kNodeNameLength));
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) c = '_';
  }
  return name.empty() ? "unknown" : name;
}

std::string uniqueScratchPath(const std::string& directory, const std::string& node) {
  static std::atomic<unsigned> sequence{0};
  return LabelDirectory(directory.c_str()).scratch() + "." + node + "." +
         std::to_string(static_cast<long>(getpid())) + "." + std::to_string(sequence.fetch_add(1));
}

// A hard link planted at the name would make the check re-own and re-mode
// the file it points to; the file we created has one link.
bool isPrivateRegularFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

bool isFile(const struct stat& st, const ScratchFile& file) {
  return st.st_dev == file.device && st.st_ino == file.inode;
}

ScratchWrite failed(ScratchWrite result, ScratchFailure& failure, FileStep step, int err) {
  failure.step = step;
  failure.err = err;
  return result;
}

// Creates a file under a name of its own; never opens an existing one.
int createUnique(const std::string& directory, ScratchFile& file) {
  const std::string node = nodeName();
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  for (int attempt = 0;; ++attempt) {
    file.path = uniqueScratchPath(directory, node);
    int fd = sys::openRetry(file.path.c_str(), flags, 0666);
    if (fd >= 0 || errno != EEXIST || attempt + 1 == kUniqueNameAttempts) return fd;
  }
}

}  // namespace

ScratchWrite writeScratchFile(const std::string& directory, const std::string& text,
                              ScratchFile& file, ScratchFailure& failure) {
  failure = ScratchFailure();
  sys::UniqueFd fd(createUnique(directory, file));
  if (!fd.valid()) return failed(ScratchWrite::kNotCreated, failure, FileStep::Creating, errno);
  struct stat st;
  if (sys::calls().fstat(fd.get(), &st) != 0) {
    int err = errno;
    sys::calls().unlink(file.path.c_str());  // made one call ago under a name of our own
    return failed(ScratchWrite::kNotCreated, failure, FileStep::Examining, err);
  }
  file.device = st.st_dev;
  file.inode = st.st_ino;
  if (sys::writeFull(fd.get(), text.data(), text.size()) != 0) {
    return failed(ScratchWrite::kNotWritten, failure, FileStep::Writing, errno);
  }
  int err = fd.close();
  if (err != 0) return failed(ScratchWrite::kNotWritten, failure, FileStep::Closing, err);
  return ScratchWrite::kWritten;
}

sys::UniqueFd reopenScratchFile(const ScratchFile& file, int& err) {
  err = 0;
  sys::UniqueFd fd(sys::openRetry(file.path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || sys::calls().fstat(fd.get(), &st) != 0) {
    err = errno;
    return sys::UniqueFd();
  }
  if (!isPrivateRegularFile(st) || !isFile(st, file)) {
    return sys::UniqueFd();  // closes the descriptor we must not act on
  }
  return fd;
}

int removeScratchFile(const ScratchFile& file) {
  struct stat st;
  if (sys::calls().lstat(file.path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (!isFile(st, file)) return 0;
  return sys::calls().unlink(file.path.c_str()) == 0 ? 0 : errno;
}

}  // namespace icl
