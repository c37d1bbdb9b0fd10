#ifndef ICL_TESTS_TEMPDIR_H
#define ICL_TESTS_TEMPDIR_H

// Files for tests and fuzz properties: a private directory, whole-file I/O
// (failures throw std::runtime_error, so nothing goes on with a setup that
// did not happen), and a child process to run a body in.

#include <sys/types.h>

#include <functional>
#include <string>

namespace icl::test {

// A fresh directory under $TMPDIR (or /tmp), named without links, removed
// with everything in it (read-only directories too) when it goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);  // by lstat: a dangling link exists
mode_t modeOf(const std::string& path);    // its permission bits, 0 when it cannot be examined
void makeDir(const std::string& path, mode_t mode = 0755);

// Runs `body` in a forked child: its result (0 to 254; 255 when it threw),
// or -1 if it died by a signal.
int runInChild(const std::function<int()>& body);

}  // namespace icl::test

#endif
