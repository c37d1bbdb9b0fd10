#include "SanitizeProperty.h"

#include <ctype.h>
#include <string.h>

#include <memory>
#include <string>

#include "Findings.h"
#include "Reference.h"
#include "ZUPIFileOpen.h"

namespace icl {
namespace fuzz {
namespace {

const size_t kMaxDestSize = 2048;

bool isSubsequence(const std::string& part, const std::string& whole) {
  size_t at = 0;
  for (char c : part) {
    at = whole.find(c, at);
    if (at == std::string::npos) return false;
    ++at;
  }
  return true;
}

std::string upperCased(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string checkSanitize(const uint8_t* data, size_t size) {
  size_t destSize = 1023;
  std::string line;
  if (size >= 2) {
    destSize = 1 + (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) % kMaxDestSize;
    line.assign(reinterpret_cast<const char*>(data) + 2, size - 2);
  }
  line = line.substr(0, line.find('\0'));

  // Exact-size heap copies, so that any access past either end is caught.
  std::unique_ptr<char[]> source(new char[line.size() + 1]);
  memcpy(source.get(), line.c_str(), line.size() + 1);
  std::unique_ptr<char[]> dest(new char[destSize]);
  memset(dest.get(), 'x', destSize);
  sanitizeString(dest.get(), source.get(), static_cast<int>(destSize));

  Findings f;
  const std::string context =
      printable(line) + " into " + std::to_string(destSize) + " bytes";
  f.equal("the source line", std::string(source.get()), line);
  if (!f.check(memchr(dest.get(), '\0', destSize) != nullptr,
               "the output is not terminated inside the destination")) {
    return f.result(context);
  }
  const std::string out(dest.get());
  f.check(out.size() <= destSize - 1, "the output is longer than the destination allows");
  f.check(out.find(' ') == std::string::npos, "the output holds a space");
  f.check(out.find('#') == std::string::npos, "the output holds a '#'");
  f.check(upperCased(out) == out, "the output holds a character toupper would change");
  f.check(isSubsequence(out, upperCased(line)),
          "the output is not a subsequence of the upper-cased line");
  f.equal("the output", out, referenceNormalise(line, destSize));
  return f.result(context);
}

}  // namespace fuzz
}  // namespace icl
