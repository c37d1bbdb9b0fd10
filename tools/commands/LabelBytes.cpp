#include "LabelBytes.h"

#include <string.h>

#include "ICLToolSupport.h"

namespace icl {
namespace tool {

LabelSnapshot labelSnapshot(const std::string& dir) {
  LabelSnapshot snapshot;
  std::string bytes;
  int error = 0;
  switch (ICLToolReadLabel(dir.c_str(), bytes, error)) {
    case ICL_TOOL_LABEL_READ:
      snapshot.known = true;
      snapshot.bytes = std::move(bytes);
      break;
    case ICL_TOOL_LABEL_ABSENT:
      snapshot.known = true;
      break;
    case ICL_TOOL_LABEL_FAILED:
      snapshot.why = strerror(error);
      break;
    case ICL_TOOL_LABEL_NOT_REGULAR:
      snapshot.why = "not a regular file";
      break;
    case ICL_TOOL_LABEL_TOO_LARGE:
      snapshot.why = "larger than any label";
      break;
  }
  return snapshot;
}

std::optional<bool> labelChanged(const LabelSnapshot& before, const LabelSnapshot& after) {
  if (!before.known || !after.known) return std::nullopt;
  return before.bytes != after.bytes;
}

}  // namespace tool
}  // namespace icl
