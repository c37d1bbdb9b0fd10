#include "JsonParser.h"

#include <ctype.h>

#include <algorithm>
#include <regex>

namespace icl::test {
namespace {

struct Reader {
  const std::string& s;
  size_t pos = 0;

  void skip() { pos = std::min(s.find_first_not_of(" \t\r\n", pos), s.size()); }
  bool take(char c) { return skip(), pos < s.size() && s[pos] == c && ++pos; }

  bool value(Json& v) {
    static const std::regex kScalar(
        R"re("((?:[^"\\\x00-\x1f]|\\(?:["\\/bfnrt]|u[0-9a-fA-F]{4}))*)")re"
        "|null|true|false|-?(?:0|[1-9][0-9]*)");
    if (take('{') || take('[')) {
      const bool object = s[pos - 1] == '{';
      v.type = object ? "object" : "array";
      if (take(object ? '}' : ']')) return true;
      do {
        Json key, item;
        if (object && (!value(key) || key.type != "string" || !take(':'))) return false;
        if (!value(item) || (object && !v.members.emplace(key.text, item).second)) return false;
        if (!object) v.items.push_back(item);
      } while (take(','));
      return take(object ? '}' : ']');
    }
    std::smatch m;
    if (!std::regex_search(s.begin() + pos, s.end(), m, kScalar,
                           std::regex_constants::match_continuous)) {
      return false;
    }
    pos += m.length();
    v.text = m[1].matched ? m[1].str() : m.str();
    v.type = m[1].matched         ? "string"
             : v.text == "null"   ? "null"
             : isalpha(v.text[0]) ? "boolean"
                                  : "integer";
    return true;
  }
};

bool matches(const Json& v, const Json& s, const Json& root) {
  if (s.type == "boolean") return s.text == "true";
  static const std::vector<Json> kNone;
  const auto has = [&](const char* key) { return s.members.count(key) > 0; };
  const auto get = [&](const char* key) -> const Json& { return s.members.at(key); };
  const auto list = [&](const char* key) -> const std::vector<Json>& {
    return has(key) ? get(key).items : kNone;
  };
  const auto fits = [&](const Json& schema) { return matches(v, schema, root); };
  const auto isType = [&](const Json& type) { return type.text == v.type; };
  if (has("$ref") && !fits(root.members.at("$defs").members.at(get("$ref").text.substr(8)))) {
    return false;
  }
  if (has("anyOf") && std::none_of(list("anyOf").begin(), list("anyOf").end(), fits)) return false;
  if (has("if") && !fits(get(fits(get("if")) ? "then" : "else"))) return false;
  if (has("const") && (v.type != get("const").type || v.text != get("const").text)) return false;
  if (has("type") && !isType(get("type")) &&
      std::none_of(list("type").begin(), list("type").end(), isType)) {
    return false;
  }
  if (has("pattern") && v.type == "string" &&
      !std::regex_search(v.text, std::regex(get("pattern").text))) {
    return false;
  }
  for (const Json& name : v.type == "object" ? list("required") : kNone) {
    if (v.members.count(name.text) == 0) return false;
  }
  for (const auto& [name, member] : v.members) {
    const bool listed = has("properties") && get("properties").members.count(name) > 0;
    if ((listed || has("additionalProperties")) &&
        !matches(member, listed ? get("properties").members.at(name) : get("additionalProperties"),
                 root)) {
      return false;
    }
  }
  return std::all_of(v.items.begin(), v.items.end(), [&](const Json& item) {
    return !has("items") || matches(item, get("items"), root);
  });
}

}  // namespace

std::optional<Json> parseJson(const std::string& text) {
  Json out;
  Reader reader{text};
  if (!reader.value(out) || (reader.skip(), reader.pos != text.size())) return std::nullopt;
  return out;
}

bool matchesSchema(const Json& value, const Json& schema) { return matches(value, schema, schema); }

}  // namespace icl::test
