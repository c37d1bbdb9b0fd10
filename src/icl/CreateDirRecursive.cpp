#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "ICLRoutines.h"
#include "sys/SysCalls.h"

namespace {

bool isDirectory(const char* path) {
  struct stat st;
  return icl::sys::calls().stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// Creates every missing directory of `path`, parents first. The path is put
// in canonical form in place, so the caller sees what was created. A prefix
// that exists is passed over whatever it is; a directory that another
// process creates between our stat and our mkdir counts as created.
int ICLController::CreateDirRecursive(char* path) {
  static const char* const kFunction = "ICLController::CreateDirRecursive";
  if (path == nullptr) {
    Error(kFunction, "The directory path is empty.");
    return -1;
  }
  fixPath(path);  // a relative path is refused just below
  if (path[0] != '/') {
    Error(kFunction, "The destination path must start from slash.");
    return -1;
  }
  const char* cursor = path;
  while (*cursor != '\0') {
    while (*cursor == '/') ++cursor;
    while (*cursor != '\0' && *cursor != '/') ++cursor;
    const std::string prefix(path, static_cast<size_t>(cursor - path));

    struct stat st;
    if (icl::sys::calls().stat(prefix.c_str(), &st) == 0) continue;
    int err = errno;
    if (err != ENOENT) {
      Error(kFunction, "Failed to stat directory [%s]:\n[%s]", prefix.c_str(), strerror(err));
      return -1;
    }
    Debug(kFunction, "Creating directory [%s]", prefix.c_str());
    if (icl::sys::calls().mkdir(prefix.c_str(), 0777) != 0) {
      err = errno;
      // Several hosts prepare the same tree at once; losing that race is fine.
      if (err == EEXIST && isDirectory(prefix.c_str())) continue;
      Error(kFunction, "Failed to create directory [%s]:\n[%s]", prefix.c_str(), strerror(err));
      return -1;
    }
  }
  return 0;
}
