#ifndef ICL_TOOLS_TESTS_JSONPARSER_H
#define ICL_TOOLS_TESTS_JSONPARSER_H

// A strict JSON reader for checking the tool's --json output: one value and
// nothing but white space around it; integers only (the tool writes no
// others); duplicate keys, raw control characters and bad escapes refused.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace icl {
namespace test {

struct Json {
  enum Type { Null, Bool, Number, String, Array, Object } type = Null;
  bool boolean = false;
  long long number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in document order

  bool has(const std::string& key) const;
  // The member `key`; a null value (and a test failure) when it is absent.
  const Json& operator[](const std::string& key) const;
  std::vector<std::string> keys() const;
};

std::optional<Json> parseJson(const std::string& text);

}  // namespace test
}  // namespace icl

#endif
