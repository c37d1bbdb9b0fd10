#include "LabelBytes.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ICLRoutines.h"

namespace icl {
namespace tool {
namespace {

// Far above the largest label the library accepts (65000 bytes).
const off_t kMaxLabelBytes = 1 << 20;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);  // read-only: a failed close loses nothing
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::string labelPathOf(const std::string& dir) {
  std::string path = convertSlashes(dir.c_str());
  if (path.back() != '/') path += '/';
  return path + "icl_label.txt";
}

LabelSnapshot labelSnapshot(const std::string& dir) {
  LabelSnapshot snapshot;
  // Non-blocking: a FIFO in the label's place must not hang the tool.
  Descriptor fd(open(labelPathOf(dir).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    const int err = errno;
    snapshot.known = err == ENOENT || err == ENOTDIR;  // no label there
    snapshot.why = strerror(err);
    return snapshot;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    snapshot.why = strerror(errno);
    return snapshot;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxLabelBytes) {
    snapshot.why = S_ISREG(st.st_mode) ? "larger than any label" : "not a regular file";
    return snapshot;
  }
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      snapshot.why = strerror(errno);
      return snapshot;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxLabelBytes)) {
      snapshot.why = "larger than any label";
      return snapshot;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  snapshot.known = true;
  snapshot.bytes = std::move(bytes);
  return snapshot;
}

std::optional<bool> labelChanged(const LabelSnapshot& before, const LabelSnapshot& after) {
  if (!before.known || !after.known) return std::nullopt;
  return before.bytes != after.bytes;
}

}  // namespace tool
}  // namespace icl
