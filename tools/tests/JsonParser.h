#ifndef ICL_TOOLS_TESTS_JSONPARSER_H
#define ICL_TOOLS_TESTS_JSONPARSER_H

// A strict JSON reader for checking the tool's --json output, and a check
// against the JSON Schema the tool documents (the keywords SCHEMA.md uses).

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace icl::test {

struct Json {
  std::string type;  // null, boolean, integer, string, array or object
  std::string text;  // a string between its quotes, escapes as written; a literal as written
  std::vector<Json> items;
  std::map<std::string, Json> members;
};

// One value and nothing but white space around it; integers only (the tool
// writes no others); duplicate keys, raw control characters and bad escapes
// refused. Bytes from 0x80 up are taken as they are.
std::optional<Json> parseJson(const std::string& text);

// Whether `value` matches the JSON Schema `schema`.
// Keywords: $ref (to "#/$defs/NAME"), anyOf, if/then/else, const, type,
// pattern, required, properties, additionalProperties, items, and boolean
// schemas. Members a schema names are looked up with at(): one it lacks throws.
bool matchesSchema(const Json& value, const Json& schema);

}  // namespace icl::test

#endif
