#ifndef ICL_TESTS_TEMPDIR_H
#define ICL_TESTS_TEMPDIR_H

#include <sys/types.h>

#include <string>

namespace icl {
namespace test {

// A fresh directory under $TMPDIR (or /tmp), removed with its content when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// Test I/O on whole files; failures abort the test with a message.
void writeFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
void makeDir(const std::string& path, mode_t mode = 0755);

// True when the process can bypass file permissions (root), which makes
// permission-based cases meaningless.
bool runningAsRoot();

}  // namespace test
}  // namespace icl

#endif
