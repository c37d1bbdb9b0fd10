#ifndef ICL_TOOLS_OUTPUT_JSON_H
#define ICL_TOOLS_OUTPUT_JSON_H

// Just enough JSON writing for the tool's --json output: objects whose
// values are numbers, booleans, null, strings, or already rendered JSON.

#include <string>
#include <vector>

namespace icl {
namespace tool {

// `text` as a JSON string literal, always UTF-8: well-formed UTF-8 passes
// unchanged, each other byte becomes U+FFFD, control characters are escaped.
std::string jsonString(const std::string& text);

// Already rendered values, comma-separated in brackets.
std::string jsonArray(const std::vector<std::string>& items);

class JsonObject {
 public:
  JsonObject& addInt(const char* key, long long value);
  JsonObject& addBool(const char* key, bool value);
  JsonObject& addNull(const char* key);
  JsonObject& addString(const char* key, const std::string& value);
  JsonObject& addJson(const char* key, const std::string& rendered);
  // Appends every member of `other`, in its order.
  JsonObject& addAll(const JsonObject& other);
  std::string str() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

}  // namespace tool
}  // namespace icl

#endif
