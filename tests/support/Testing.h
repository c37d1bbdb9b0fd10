#ifndef ICL_TESTS_TESTING_H
#define ICL_TESTS_TESTING_H

// What every test file of the library uses: gtest, the system headers of
// files and processes, the seam's fault injector, log capture and scratch
// directories.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "FaultInjector.h"
#include "ICLRoutines.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "sys/SysCalls.h"

namespace icl::test {
using Lines = std::vector<std::string>;

// `path` with each '/' a '\'.
inline std::string backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// `text` with every `from` replaced by `to`, both taken literally (a path
// may hold what a regular expression would read as a pattern or a `$1`).
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}
}  // namespace icl::test

#endif
