#ifndef ICL_TOOLS_COMMANDS_LABELBYTES_H
#define ICL_TOOLS_COMMANDS_LABELBYTES_H

// The label file of an index cache directory, looked at directly: its bytes,
// so the tool can tell whether a command changed the label by comparing what
// it holds before and after; and when it cannot tell.

#include <optional>
#include <string>

namespace icl {
namespace tool {

// The label file as the tool read it at one moment.
struct LabelSnapshot {
  // False when it could not be read (no permission, an I/O error, not a
  // regular file, larger than any label can be): then nothing is known.
  bool known = false;
  std::optional<std::string> bytes;  // when known: nothing when there is no label
  std::string why;                   // when not known: the reason
};

LabelSnapshot labelSnapshot(const std::string& dir);

// Whether the label's bytes differ between the snapshots, a label that
// appeared or vanished included; nothing when either is not known, since a
// read that failed proves neither a change nor its absence.
std::optional<bool> labelChanged(const LabelSnapshot& before, const LabelSnapshot& after);

}  // namespace tool
}  // namespace icl

#endif
