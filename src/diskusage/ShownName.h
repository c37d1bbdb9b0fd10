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

#include <string>

namespace icl::idxcache {

std::string shownName(const std::string& text);

}  // namespace icl::idxcache

#endif
