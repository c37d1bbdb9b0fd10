#include "LabelBytes.h"

#include <fcntl.h>
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

std::optional<std::string> labelBytes(const std::string& dir) {
  // Non-blocking: a FIFO in the label's place must not hang the tool.
  Descriptor fd(open(labelPathOf(dir).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > kMaxLabelBytes) {
    return std::nullopt;
  }
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n == 0) return bytes;
    if (n < 0 || bytes.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxLabelBytes)) {
      return std::nullopt;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace tool
}  // namespace icl
