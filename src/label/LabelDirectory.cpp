#include "label/LabelDirectory.h"

#include "ICLRoutines.h"
#include "sys/JoinPath.h"

namespace icl {

LabelDirectory::LabelDirectory(const char* location) : path_(convertSlashes(location)) {}

LabelDirectory LabelDirectory::of(const std::string& path) {
  return LabelDirectory(sys::directoryOf(path));
}

std::string LabelDirectory::slashed() const { return sys::joinPath(path_, ""); }

std::string LabelDirectory::file(const char* name) const { return sys::joinPath(path_, name); }

}  // namespace icl
