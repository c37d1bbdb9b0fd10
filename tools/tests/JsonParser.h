#ifndef ICL_TOOLS_TESTS_JSONPARSER_H
#define ICL_TOOLS_TESTS_JSONPARSER_H

// A strict JSON reader for checking the tool's --json output, and a check
// against the JSON Schema the tool documents (the keywords SCHEMA.md uses).

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
};

// One value and nothing but white space around it; integers only (the tool
// writes no others); duplicate keys, raw control characters and bad escapes
// refused. Bytes from 0x80 up are taken as they are.
std::optional<Json> parseJson(const std::string& text);

// Why `value` does not match the JSON Schema `schema`, or "" when it does.
// Keywords: $ref (to "#/$defs/NAME"), anyOf, if/then/else, const, type,
// pattern, required, properties, additionalProperties, items, and boolean
// schemas.
std::string schemaMismatch(const Json& value, const Json& schema);

}  // namespace test
}  // namespace icl

#endif
