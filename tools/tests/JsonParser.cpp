#include "JsonParser.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <regex>

#include <gtest/gtest.h>

namespace icl {
namespace test {
namespace {

struct Parser {
  const std::string& s;
  size_t pos = 0;

  char peek() const { return pos < s.size() ? s[pos] : '\0'; }
  void space() {
    while (pos < s.size() && strchr(" \t\r\n", s[pos]) != nullptr) ++pos;
  }
  bool take(char c) { return space(), pos < s.size() && s[pos] == c ? (++pos, true) : false; }

  bool value(Json& out) {
    if (take('{') || take('[')) return container(out, s[pos - 1] == '{');
    if (take('"')) return out.type = Json::String, string(out.text);
    for (const char* word : {"null", "true", "false"}) {
      if (s.compare(pos, strlen(word), word) != 0) continue;
      pos += strlen(word);
      out.type = word[0] == 'n' ? Json::Null : Json::Bool;
      return out.boolean = word[0] == 't', true;
    }
    const size_t start = pos, digits = pos += peek() == '-';
    while (isdigit(static_cast<unsigned char>(peek()))) ++pos;
    if (pos == digits || (s[digits] == '0' && pos - digits > 1)) return false;
    errno = 0;
    out.number = strtoll(s.c_str() + start, nullptr, 10);
    return out.type = Json::Number, errno == 0;
  }

  // The tool escapes only ASCII control characters: a \u escape here never
  // stands for more than one byte.
  bool string(std::string& out) {
    static const char kEscapes[] = "\"\\/bfnrt";
    while (pos < s.size()) {
      const char c = s[pos++];
      const char* known = c == '\\' && pos < s.size() ? strchr(kEscapes, s[pos]) : nullptr;
      const std::string hex = s.substr(std::min(pos + 1, s.size()), 4);
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
      } else if (known != nullptr && *known != '\0') {
        out += "\"\\/\b\f\n\r\t"[known - kEscapes], ++pos;
      } else if (peek() == 'u' && hex.size() == 4 && hex.compare(0, 2, "00") == 0 &&
                 hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        out += static_cast<char>(std::stoi(hex, nullptr, 16)), pos += 5;
      } else {
        return false;
      }
    }
    return false;
  }

  bool container(Json& out, bool object) {
    out.type = object ? Json::Object : Json::Array;
    if (take(object ? '}' : ']')) return true;
    do {
      std::string key;
      if (object && (!take('"') || !string(key) || out.has(key) || !take(':'))) return false;
      Json& item = object ? (out.members.emplace_back(key, Json()), out.members.back().second)
                          : (out.items.emplace_back(), out.items.back());
      if (!value(item)) return false;
    } while (take(','));
    return take(object ? '}' : ']');
  }
};

const char* typeName(const Json& v) {
  static const char* const kNames[] = {"null", "boolean", "integer", "string", "array", "object"};
  return kNames[v.type];
}

std::string mismatchAt(const Json& v, const Json& s, const Json& root, const std::string& at) {
  if (s.type == Json::Bool) return s.boolean ? "" : at + " is not allowed";
  std::string why;
  auto fails = [&](const Json& value, const Json& schema, const std::string& where) {
    return !(why = mismatchAt(value, schema, root, where)).empty();
  };
  if (s.has("$ref") && fails(v, root["$defs"][s["$ref"].text.substr(8)], at)) return why;
  bool any = !s.has("anyOf");
  for (const Json& alternative : s.has("anyOf") ? s["anyOf"].items : std::vector<Json>()) {
    any = any || mismatchAt(v, alternative, root, at).empty();
  }
  if (!any) return at + " matches nothing in anyOf";
  if (s.has("if") &&
      fails(v, mismatchAt(v, s["if"], root, at).empty() ? s["then"] : s["else"], at)) {
    return why;
  }
  if (s.has("const") && (v.type != s["const"].type || v.boolean != s["const"].boolean ||
                         v.number != s["const"].number || v.text != s["const"].text)) {
    return at + " is not the constant";
  }
  const Json& type = s.has("type") ? s["type"] : Json();
  if (type.type != Json::Null && type.text != typeName(v) &&
      std::none_of(type.items.begin(), type.items.end(),
                   [&](const Json& t) { return t.text == typeName(v); })) {
    return at + " is " + typeName(v);
  }
  if (s.has("pattern") && v.type == Json::String &&
      !std::regex_search(v.text, std::regex(s["pattern"].text))) {
    return at + " does not match " + s["pattern"].text;
  }
  for (const Json& name :
       s.has("required") && v.type == Json::Object ? s["required"].items : std::vector<Json>()) {
    if (!v.has(name.text)) return at + " lacks \"" + name.text + "\"";
  }
  for (const auto& m : v.members) {
    const bool listed = s.has("properties") && s["properties"].has(m.first);
    if ((listed || s.has("additionalProperties")) &&
        fails(m.second, listed ? s["properties"][m.first] : s["additionalProperties"],
              at + "." + m.first)) {
      return why;
    }
  }
  for (size_t i = 0; s.has("items") && i < v.items.size(); ++i) {
    if (fails(v.items[i], s["items"], at + "[" + std::to_string(i) + "]")) return why;
  }
  return "";
}

}  // namespace

bool Json::has(const std::string& key) const {
  return std::any_of(members.begin(), members.end(), [&](const auto& m) { return m.first == key; });
}

const Json& Json::operator[](const std::string& key) const {
  for (const auto& m : members) {
    if (m.first == key) return m.second;
  }
  ADD_FAILURE() << "no member \"" << key << "\"";
  static const Json kNull;
  return kNull;
}

std::optional<Json> parseJson(const std::string& text) {
  Json out;
  Parser parser{text};
  if (!parser.value(out) || (parser.space(), parser.pos != text.size())) {
    return std::nullopt;
  }
  return out;
}

std::string schemaMismatch(const Json& value, const Json& schema) {
  return mismatchAt(value, schema, schema, "$");
}

}  // namespace test
}  // namespace icl
