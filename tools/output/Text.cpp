#include "Text.h"

#include <stdio.h>

namespace icl {
namespace tool {

size_t utf8SequenceLength(const std::string& text, size_t pos) {
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80;  // the allowed range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[pos + i]);
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

std::string printable(const std::string& text) {
  std::string out;
  for (size_t pos = 0; pos < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    size_t length = utf8SequenceLength(text, pos);
    // U+0080..U+009F (C2 80..C2 9F) are controls too: some terminals obey them.
    const bool control =
        c < 0x20 || c == 0x7f ||
        (c == 0xC2 && length == 2 && static_cast<unsigned char>(text[pos + 1]) < 0xA0);
    if (length == 0 || control) {
      const size_t bytes = length == 0 ? 1 : length;
      for (size_t i = 0; i < bytes; ++i) {
        char escaped[5];
        snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[pos + i]));
        out += escaped;
      }
      pos += bytes;
    } else {
      out.append(text, pos, length);
      pos += length;
    }
  }
  return out;
}

}  // namespace tool
}  // namespace icl
