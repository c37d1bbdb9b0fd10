#ifndef ICL_SYS_JOINPATH_H
#define ICL_SYS_JOINPATH_H

// The path of a file in a directory, and the directory of a path, formed one
// way everywhere.

#include <string>

namespace icl {
namespace sys {

// `directory` and `name` with one slash between them: none is added after a
// directory that already ends in one, and an empty directory gives `name`
// alone. Nothing else is normalised.
inline std::string joinPath(std::string directory, const char* name) {
  if (!directory.empty() && directory.back() != '/') directory.push_back('/');
  return directory += name;
}

// The directory part of `path`: "." when it has no slash, "/" for a file at
// the root, otherwise everything before the last slash.
inline std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace sys
}  // namespace icl

#endif
