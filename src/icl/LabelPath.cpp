#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "ICLRoutines.h"
#include "LabelNames.h"
#include "sys/SysCalls.h"

std::string convertSlashes(const char* path) {
  std::string converted;
  if (path == nullptr) return converted;
  for (const char* c = path; *c != '\0'; ++c) converted.push_back(*c == '\\' ? '/' : *c);
  return converted;
}

int ICLController::DoesPathExist(bool& exists) {
  static const char* const kFunction = "ICLController::DoesPathExist";
  if (iclLocation[0] == '\0') {
    iclError = ICL_ERROR_EMPTY_PATH;
    Error(kFunction, "Received an empty path string as an iclLocation.");
    exists = false;
    return -1;
  }
  exists = false;
  struct stat st;
  if (icl::sys::calls().stat(convertSlashes(iclLocation).c_str(), &st) != 0) {
    int err = errno;
    Debug(kFunction, "Path - [%s]: [%s]", iclLocation, strerror(err));
    return 0;
  }
  if (S_ISDIR(st.st_mode)) {
    exists = true;
    return 0;
  }
  Debug(kFunction, "Path - [%s] Not Found", iclLocation);
  return 0;
}

int ICLController::ConstructICLPath() {
  static const char* const kFunction = "ICLController::ConstructICLPath";
  iclPath = convertSlashes(iclLocation);
  bool exists = false;
  if (DoesPathExist(exists) != 0) {
    Error(kFunction, "Failed to verify the path existence. Failing");
    return -1;
  }
  if (!exists) {
    iclError = ICL_ERROR_PATH_NOT_FOUND;
    Debug(kFunction, "The specified path does not exist.");
    return -1;
  }
  if (!iclPath.empty() && iclPath.back() != '/') iclPath.push_back('/');
  iclPath += icl::kLabelFileName;
  return 0;
}
