#include <ctype.h>

#include "ZUPIFileOpen.h"

namespace {
// Only this many characters of a line are ever looked at.
const int kMaxSourceChars = 1023;
}  // namespace

void sanitizeString(char* dest, const char* src, int destSize) {
  if (dest == nullptr || destSize < 1) return;
  int out = 0;
  if (src != nullptr) {
    for (int in = 0; in < kMaxSourceChars && out < destSize - 1; ++in) {
      char c = src[in];
      if (c == '\0' || c == '#') break;
      if (c == ' ') continue;
      dest[out++] = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
  }
  dest[out] = '\0';
}
