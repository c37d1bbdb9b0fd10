#include "Json.h"

#include <stdio.h>

#include "Text.h"

namespace icl {
namespace tool {

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t pos = 0; pos < text.size();) {
    const size_t length = utf8SequenceLength(text, pos);
    if (length != 1) {
      // A byte that is not UTF-8 becomes U+FFFD, so the document stays UTF-8.
      if (length == 0) out += "\xEF\xBF\xBD";
      out.append(text, pos, length);
      pos += length == 0 ? 1 : length;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[pos++]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char escaped[8];
          snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string jsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ",";
    out += items[i];
  }
  return out + "]";
}

JsonObject& JsonObject::addJson(const char* key, const std::string& rendered) {
  if (!body_.empty()) body_ += ",";
  body_ += jsonString(key) + ":" + rendered;
  return *this;
}

JsonObject& JsonObject::addAll(const JsonObject& other) {
  if (!body_.empty() && !other.body_.empty()) body_ += ",";
  body_ += other.body_;
  return *this;
}

JsonObject& JsonObject::addInt(const char* key, long long value) {
  return addJson(key, std::to_string(value));
}

JsonObject& JsonObject::addBool(const char* key, bool value) {
  return addJson(key, value ? "true" : "false");
}

JsonObject& JsonObject::addNull(const char* key) { return addJson(key, "null"); }

JsonObject& JsonObject::addString(const char* key, const std::string& value) {
  return addJson(key, jsonString(value));
}

}  // namespace tool
}  // namespace icl
