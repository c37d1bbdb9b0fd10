#include "diskusage/ShownName.h"

namespace icl {
namespace idxcache {
namespace {

bool needsEscape(unsigned char byte) { return byte < 0x20 || byte == 0x7F || byte == '\\'; }

}  // namespace

ShownName::ShownName(const char* text) : raw_(text) {
  const char* clean = text;
  while (*clean != '\0' && !needsEscape(static_cast<unsigned char>(*clean))) ++clean;
  if (*clean == '\0') return;
  static const char kHex[] = "0123456789abcdef";
  escaped_ = true;
  text_.assign(text, clean);
  for (const char* p = clean; *p != '\0'; ++p) {
    const unsigned char byte = static_cast<unsigned char>(*p);
    if (!needsEscape(byte)) {
      text_.push_back(*p);
    } else if (byte == '\n') {
      text_.append("\\n");
    } else if (byte == '\\') {
      text_.append("\\\\");
    } else {
      const char hex[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
      text_.append(hex, sizeof hex);
    }
  }
}

}  // namespace idxcache
}  // namespace icl
