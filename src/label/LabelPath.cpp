#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "ICLRoutines.h"
#include "label/LabelDirectory.h"
#include "label/LabelOp.h"
#include "sys/Absent.h"
#include "sys/SysCalls.h"

std::string convertSlashes(const char* path) {
  std::string converted;
  if (path == nullptr) return converted;
  for (const char* c = path; *c != '\0'; ++c) converted.push_back(*c == '\\' ? '/' : *c);
  return converted;
}

int ICLController::DoesPathExist(bool& exists) {
  static const char* const kFunction = "ICLController::DoesPathExist";
  icl::LabelOp op = ICLControllerAccess::op(*this);
  exists = false;
  if (iclLocation[0] == '\0') {
    return failWith(op, ICL_ERROR_EMPTY_PATH, EV_LOG_ERROR, kFunction,
                    "Received an empty path string as an iclLocation.");
  }
  struct stat st;
  if (icl::sys::calls().stat(convertSlashes(iclLocation).c_str(), &st) != 0) {
    int err = errno;
    Debug(kFunction, "Path - [%s]: [%s]", iclLocation, strerror(err));
    if (icl::sys::meansAbsent(err)) return 0;
    // EIO, EACCES, ESTALE, ENOTCONN: whether it exists is unknown, and a
    // writer must not take it for missing.
    return failWith(op, ICL_ERROR_FILE_READ, EV_LOG_ERROR, kFunction,
                    "Could not examine the index cache directory [%s]: stat() failed: [%s]",
                    iclLocation, strerror(err));
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
    icl::LabelOp op = ICLControllerAccess::op(*this);
    return failWith(op, ICL_ERROR_PATH_NOT_FOUND, EV_LOG_DEBUG, kFunction,
                    "The specified path does not exist.");
  }
  iclPath = icl::LabelDirectory(iclLocation).label();
  return 0;
}
