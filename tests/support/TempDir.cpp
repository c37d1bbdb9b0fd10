#include "TempDir.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace icl::test {

TempDir::TempDir() {
  std::string pattern = fs::temp_directory_path() / "icl-XXXXXX";  // $TMPDIR, or /tmp
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
  path_ = fs::canonical(pattern);  // as the library's canonical forms name it
}

TempDir::~TempDir() {
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::end(it);
       it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all,
                    fs::perm_options::add | fs::perm_options::nofollow, ignored);
  }
  fs::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& bytes, mode_t mode) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out || chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool fileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

mode_t modeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void makeDir(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) != 0) throw std::runtime_error("cannot make " + path);
}

int runInChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    try {
      _exit(body() & 0xFF);
    } catch (...) {
      _exit(255);
    }
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace icl::test
