#include "diskusage/ShownName.h"

namespace icl::idxcache {

std::string shownName(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      shown.append("\\n");
    } else if (byte == '\\') {
      shown.append("\\\\");
    } else if (byte < 0x20 || byte == 0x7F) {
      shown.append({'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]});
    } else {
      shown.push_back(c);
    }
  }
  return shown;
}

}  // namespace icl::idxcache
