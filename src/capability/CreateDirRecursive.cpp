#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "ICLRoutines.h"
#include "capability/DirectoryChain.h"
#include "sys/SysCalls.h"

namespace {

const char* const kFunction = "ICLController::CreateDirRecursive";

bool isDirectory(const char* path) {
  struct stat st;
  return icl::sys::calls().stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int failed(icl::DirectoryFailure& failure, icl::FileStep step, int err, const std::string& prefix) {
  failure.step = step;
  failure.err = err;
  failure.directory = prefix;
  return -1;
}

// Makes `prefix` exist. A prefix that exists is passed over whatever it is; a
// directory that another process creates between our stat and our mkdir
// counts as created.
int makePrefix(ICLController& log, const std::string& prefix, icl::DirectoryFailure& failure) {
  struct stat st;
  if (icl::sys::calls().stat(prefix.c_str(), &st) == 0) return 0;
  int err = errno;
  if (err != ENOENT) {
    log.Error(kFunction, "Failed to stat directory [%s]:\n[%s]", prefix.c_str(), strerror(err));
    return failed(failure, icl::FileStep::Examining, err, prefix);
  }
  log.Debug(kFunction, "Creating directory [%s]", prefix.c_str());
  if (icl::sys::calls().mkdir(prefix.c_str(), 0777) != 0) {
    err = errno;
    // Several hosts prepare the same tree at once; losing that race is fine.
    if (err == EEXIST && isDirectory(prefix.c_str())) return 0;
    log.Error(kFunction, "Failed to create directory [%s]:\n[%s]", prefix.c_str(), strerror(err));
    return failed(failure, icl::FileStep::Creating, err, prefix);
  }
  return 0;
}

}  // namespace

namespace icl {

int createDirectoryChain(ICLController& log, char* path, DirectoryFailure& failure) {
  failure = DirectoryFailure();
  if (path == nullptr) {
    log.Error(kFunction, "The directory path is empty.");
    return -1;
  }
  log.fixPath(path);  // a relative path is refused just below
  if (path[0] != '/') {
    log.Error(kFunction, "The destination path must start from slash.");
    return -1;
  }
  const char* cursor = path;
  while (*cursor != '\0') {
    while (*cursor == '/') ++cursor;
    while (*cursor != '\0' && *cursor != '/') ++cursor;
    const std::string prefix(path, static_cast<size_t>(cursor - path));
    if (makePrefix(log, prefix, failure) != 0) return -1;
  }
  return 0;
}

}  // namespace icl

// Creates every missing directory of `path`, parents first. The path is put
// in canonical form in place, so the caller sees what was created.
int ICLController::CreateDirRecursive(char* path) {
  icl::DirectoryFailure failure;
  return icl::createDirectoryChain(*this, path, failure);
}
