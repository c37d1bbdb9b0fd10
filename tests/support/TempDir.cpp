#include "TempDir.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace icl {
namespace test {

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                        "/icl-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only directories behind; open them up first.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      chmod(it->path().c_str(), 0755);
    }
  }
  chmod(path_.c_str(), 0755);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

void writeFile(const std::string& path, const std::string& bytes, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) throw std::runtime_error("open " + path + ": " + strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      close(fd);
      throw std::runtime_error("write " + path + ": " + strerror(errno));
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) throw std::runtime_error("close " + path + ": " + strerror(errno));
}

std::string readFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("open " + path + ": " + strerror(errno));
  std::string out;
  char chunk[8192];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      close(fd);
      throw std::runtime_error("read " + path + ": " + strerror(errno));
    }
    if (n == 0) break;
    out.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return out;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void makeDir(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) != 0) {
    throw std::runtime_error("mkdir " + path + ": " + strerror(errno));
  }
}

bool runningAsRoot() { return geteuid() == 0; }

}  // namespace test
}  // namespace icl
