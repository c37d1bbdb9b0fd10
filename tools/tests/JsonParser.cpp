#include "JsonParser.h"

#include <ctype.h>

#include <stdexcept>

#include <gtest/gtest.h>

namespace icl {
namespace test {
namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}
  bool document(Json& out) {
    if (!value(out, 0)) return false;
    space();
    return pos_ == s_.size();
  }

 private:
  char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
  void space() {
    while (peek() == ' ' || peek() == '\t' || peek() == '\r' || peek() == '\n') ++pos_;
  }
  bool take(char c) {
    space();
    if (peek() != c) return false;
    ++pos_;
    return true;
  }
  bool word(const std::string& w) {
    if (s_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }

  bool value(Json& out, int depth) {
    space();
    const char c = peek();
    if (depth > 32) return false;
    if (c == '{' || c == '[') return container(out, depth, c == '{');
    if (c == '"') {
      out.type = Json::String;
      return string(out.text);
    }
    if (word("null")) return true;
    if (word("true")) {
      out.type = Json::Bool;
      out.boolean = true;
      return true;
    }
    if (word("false")) {
      out.type = Json::Bool;
      return true;
    }
    return number(out);
  }

  bool number(Json& out) {
    const size_t start = pos_;
    if (peek() == '-') ++pos_;
    const size_t digits = pos_;
    while (isdigit(static_cast<unsigned char>(peek()))) ++pos_;
    if (pos_ == digits || (s_[digits] == '0' && pos_ - digits > 1)) return false;
    out.type = Json::Number;
    try {
      out.number = std::stoll(s_.substr(start, pos_ - start));
    } catch (const std::out_of_range&) {
      return false;
    }
    return true;
  }

  // The tool escapes only ASCII control characters: a \u escape here never
  // stands for more than one byte.
  bool string(std::string& out) {
    ++pos_;  // the opening quote
    while (pos_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      switch (s_[pos_++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          const std::string hex = s_.substr(pos_, 4);
          if (hex.size() != 4 || hex.compare(0, 2, "00") != 0 ||
              hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            return false;
          }
          out += static_cast<char>(std::stoi(hex, nullptr, 16));
          pos_ += 4;
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool container(Json& out, int depth, bool object) {
    ++pos_;
    out.type = object ? Json::Object : Json::Array;
    if (take(object ? '}' : ']')) return true;
    do {
      Json* item;
      if (object) {
        std::string key;
        if (!take('"') || (--pos_, !string(key)) || out.has(key) || !take(':')) return false;
        out.members.emplace_back(key, Json());
        item = &out.members.back().second;
      } else {
        out.items.emplace_back();
        item = &out.items.back();
      }
      if (!value(*item, depth + 1)) return false;
    } while (take(','));
    return take(object ? '}' : ']');
  }

  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace

bool Json::has(const std::string& key) const {
  for (const auto& m : members) {
    if (m.first == key) return true;
  }
  return false;
}

const Json& Json::operator[](const std::string& key) const {
  for (const auto& m : members) {
    if (m.first == key) return m.second;
  }
  ADD_FAILURE() << "no member \"" << key << "\"";
  static const Json kNull;
  return kNull;
}

std::vector<std::string> Json::keys() const {
  std::vector<std::string> out;
  for (const auto& m : members) out.push_back(m.first);
  return out;
}

std::optional<Json> parseJson(const std::string& text) {
  Json out;
  if (!Parser(text).document(out)) return std::nullopt;
  return out;
}

}  // namespace test
}  // namespace icl
