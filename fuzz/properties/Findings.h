#ifndef ICL_FUZZ_PROPERTIES_FINDINGS_H
#define ICL_FUZZ_PROPERTIES_FINDINGS_H

// Collects the first violated property of one input, worded for a person
// who has only the message and the saved input.

#include <stdint.h>

#include <string>

#include "Reference.h"

namespace icl {
namespace fuzz {

class Findings {
 public:
  // Records `what` unless an earlier check already failed; answers `ok`.
  bool check(bool ok, const std::string& what) {
    if (!ok && first_.empty()) first_ = what;
    return ok;
  }
  template <typename T>
  bool equal(const std::string& what, const T& got, const T& expected) {
    if (got == expected) return true;
    return check(false, what + ": got " + text(got) + ", expected " + text(expected));
  }
  // Long strings: says where they first differ, with what follows in each.
  bool equal(const std::string& what, const std::string& got, const std::string& expected) {
    if (got == expected) return true;
    if (got.size() <= 80 && expected.size() <= 80) {
      return check(false, what + ": got " + text(got) + ", expected " + text(expected));
    }
    size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
    const size_t from = at > 40 ? at - 40 : 0;
    return check(false, what + ": differs at byte " + std::to_string(at) + " of " +
                            std::to_string(got.size()) + " (expected " +
                            std::to_string(expected.size()) + "); from byte " +
                            std::to_string(from) + ", got " + text(got.substr(from)) +
                            ", expected " + text(expected.substr(from)));
  }
  bool failed() const { return !first_.empty(); }
  // "" when every check held; otherwise the first violation and `context`.
  std::string result(const std::string& context) const {
    return first_.empty() ? std::string() : first_ + "\n  input: " + context;
  }

 private:
  static std::string text(const std::string& value) { return printable(value, 400); }
  static std::string text(bool value) { return value ? "true" : "false"; }
  template <typename T>
  static std::string text(const T& value) {
    return std::to_string(value);
  }
  std::string first_;
};

}  // namespace fuzz
}  // namespace icl

#endif
