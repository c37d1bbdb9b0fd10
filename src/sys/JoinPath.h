#ifndef ICL_SYS_JOINPATH_H
#define ICL_SYS_JOINPATH_H

// The path of a file in a directory, formed one way everywhere.

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

}  // namespace sys
}  // namespace icl

#endif
