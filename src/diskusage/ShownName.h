#ifndef ICL_DISKUSAGE_SHOWNNAME_H
#define ICL_DISKUSAGE_SHOWNNAME_H

// A path or name read from disk, as a log line shows it.
//
// A name may hold any byte but '/' and NUL; shown raw, a newline in it would
// end the log line and let the rest pose as a line of its own. So each byte
// is shown as follows, which undone from left to right gives the name back:
//
//   newline (0x0A)                      \n
//   backslash                           \\  (two backslashes)
//   any other control byte, 0x01-0x1F   \xHH, two lowercase hex digits:
//   and 0x7F                            a tab is \x09, escape \x1b
//   every other byte                    as it is (UTF-8 names stay readable)
//
// A name without a control byte or a backslash is shown unchanged, and
// costs no copy.

#include <string>

namespace icl {
namespace idxcache {

class ShownName {
 public:
  explicit ShownName(const char* text);
  ShownName(const ShownName&) = delete;
  ShownName& operator=(const ShownName&) = delete;

  // Valid while this object and the text it was made from live.
  const char* c_str() const { return escaped_ ? text_.c_str() : raw_; }

 private:
  const char* raw_;
  bool escaped_ = false;
  std::string text_;
};

}  // namespace idxcache
}  // namespace icl

#endif
