#include <string.h>

#include <string>

#include "ICLRoutines.h"

namespace {

// The event code of a path that cannot be used; fixPath answers it directly.
const int kPathNotAbsolute = 0x23000180;

bool isSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

// Rewrites an absolute path in place: backslashes become slashes, runs of
// separators one slash, and "." and ".." are resolved where a separator
// follows them. Every slash written stands for at least one separator read,
// so the result never outgrows the caller's buffer.
int ICLController::fixPath(char* path) {
  static const char* const kFunction = "fixPath";
  if (path == nullptr || !isSeparator(path[0])) {
    Error(kFunction, "Path [%s] must be absolute", path != nullptr ? path : "(null)");
    return kPathNotAbsolute;
  }
  std::string result;
  const char* cursor = path;
  while (*cursor != '\0') {
    while (isSeparator(*cursor)) ++cursor;
    if (cursor[0] == '.' && isSeparator(cursor[1])) {
      cursor += 1;
      continue;
    }
    if (cursor[0] == '.' && cursor[1] == '.' && isSeparator(cursor[2])) {
      cursor += 2;
      std::string::size_type last = result.rfind('/');
      if (last != std::string::npos) result.erase(last);
      continue;
    }
    // Also reached at the end of the path, which keeps one trailing slash.
    result.push_back('/');
    while (*cursor != '\0' && !isSeparator(*cursor)) result.push_back(*cursor++);
  }
  memcpy(path, result.c_str(), result.size() + 1);
  return 0;
}
