#ifndef ICL_TOOLS_OUTPUT_TEXT_H
#define ICL_TOOLS_OUTPUT_TEXT_H

// Bytes from labels, directory names and log lines on their way to a
// terminal or into JSON: what is UTF-8 and what is not.

#include <stddef.h>

#include <string>

namespace icl {
namespace tool {

// The length of the well-formed UTF-8 sequence at text[pos] (1 for ASCII),
// or 0 when the bytes there are not one (a stray or truncated byte, an
// overlong form, a surrogate, a value past U+10FFFF).
size_t utf8SequenceLength(const std::string& text, size_t pos);

// `text` safe to print: control characters (C0, DEL, C1) and bytes that are
// not UTF-8 become \xNN, one escape per byte; everything else is unchanged.
std::string printable(const std::string& text);

}  // namespace tool
}  // namespace icl

#endif
