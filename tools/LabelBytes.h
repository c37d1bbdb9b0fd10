#ifndef ICL_TOOLS_LABELBYTES_H
#define ICL_TOOLS_LABELBYTES_H

// The label file of an index cache directory, looked at directly: its path,
// and its bytes, so the tool can tell whether a command changed the label
// by comparing what it holds before and after.

#include <optional>
#include <string>

namespace icl {
namespace tool {

// DIR/icl_label.txt, with backslashes taken as separators as the library
// takes them.
std::string labelPathOf(const std::string& dir);

// The label's bytes; nothing when there is no label or it cannot be read
// (not a regular file, no permission, larger than any label can be).
std::optional<std::string> labelBytes(const std::string& dir);

}  // namespace tool
}  // namespace icl

#endif
