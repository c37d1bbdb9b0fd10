// The label file of an index cache directory, looked at directly: its path,
// and its bytes as they stand, for tools that compare them before and after
// an operation.

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "ICLToolSupport.h"
#include "label/LabelDirectory.h"
#include "sys/Absent.h"
#include "sys/FileIo.h"
#include "sys/SysCalls.h"

namespace {

const off_t kMaxLabelBytes = 1 << 20;

// Reads `fd` to its end into `bytes`; a file that grows past the limit while
// it is read is refused as one that was too large from the start.
ICLToolLabelRead readToEnd(int fd, std::string& bytes, int& error) {
  std::string read;
  char chunk[8192];
  for (;;) {
    const ssize_t n = icl::sys::readFull(fd, chunk, sizeof chunk);
    if (n < 0) {
      error = errno;
      return ICL_TOOL_LABEL_FAILED;
    }
    read.append(chunk, static_cast<size_t>(n));
    if (read.size() > static_cast<size_t>(kMaxLabelBytes)) return ICL_TOOL_LABEL_TOO_LARGE;
    if (static_cast<size_t>(n) < sizeof chunk) break;
  }
  bytes = std::move(read);
  return ICL_TOOL_LABEL_READ;
}

}  // namespace

std::string ICLToolLabelPath(const char* dir) { return icl::LabelDirectory(dir).label(); }

ICLToolLabelRead ICLToolReadLabel(const char* dir, std::string& bytes, int& error) {
  // Non-blocking: a FIFO in the label's place must not hang the caller.
  icl::sys::UniqueFd fd(
      icl::sys::openRetry(ICLToolLabelPath(dir).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    error = errno;
    return icl::sys::meansAbsent(error) ? ICL_TOOL_LABEL_ABSENT : ICL_TOOL_LABEL_FAILED;
  }
  struct stat st;
  if (icl::sys::calls().fstat(fd.get(), &st) != 0) {
    error = errno;
    return ICL_TOOL_LABEL_FAILED;
  }
  if (!S_ISREG(st.st_mode)) return ICL_TOOL_LABEL_NOT_REGULAR;
  if (st.st_size > kMaxLabelBytes) return ICL_TOOL_LABEL_TOO_LARGE;
  return readToEnd(fd.get(), bytes, error);
}
