#include "OpenMode.h"

#include <fcntl.h>

namespace icl {

bool openFlagsForMode(const char* mode, int& flags) {
  if (mode == nullptr) return false;
  int access;
  int extra;
  switch (mode[0]) {
    case 'r':
      access = O_RDONLY;
      extra = 0;
      break;
    case 'w':
      access = O_WRONLY;
      extra = O_CREAT | O_TRUNC;
      break;
    case 'a':
      access = O_WRONLY;
      extra = O_CREAT | O_APPEND;
      break;
    default:
      return false;
  }
  for (const char* c = mode + 1; *c != '\0' && *c != ','; ++c) {
    if (*c == '+') {
      access = O_RDWR;
    } else if (*c == 'x') {
      extra |= O_EXCL;
    } else if (*c == 'e') {
      extra |= O_CLOEXEC;
    }
  }
  flags = access | extra;
  return true;
}

}  // namespace icl
