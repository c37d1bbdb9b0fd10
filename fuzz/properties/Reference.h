#ifndef ICL_FUZZ_PROPERTIES_REFERENCE_H
#define ICL_FUZZ_PROPERTIES_REFERENCE_H

// A second, independent reading of the label and path rules for the
// properties to compare the library against: plain strings and the C
// library's number parsing, no code shared with the library.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace icl::fuzz {

// The lines a reader hands out: the maximal runs of bytes other than CR, LF
// and NUL.
std::vector<std::string> referenceLines(const std::string& bytes);

// A line as keys are matched: its first 1023 characters up to a '#',
// without spaces, a-z as A-Z, at most destSize - 1 of them.
std::string referenceNormalise(const std::string& line, size_t destSize = 1023);

// What a reader for access path `own` finds in `lines`: it stops once it
// has the three keys and the caller's line. A key's value is read as "%d"
// reads it, 0 when that fails or does not fit (an id 32 bits, a marker 64,
// unsigned up to 2^64 - 1 keeping its bits).
struct ReferenceReading {
  int mask = 0;                   // 1 pool, 2 cache, 4 marker
  int64_t values[3] = {0, 0, 0};  // pool, cache, marker
  bool ownFound = false;
};
ReferenceReading referenceRead(const std::vector<std::string>& lines, int32_t own);

// `lines` rewritten, each with one LF. Adding: timestamp lines carry
// `marker` (stay as they are for 0), the caller's lines name `host`, and a
// missing timestamp line, then a missing caller's line, are appended.
// Removing: the caller's lines go.
struct ReferenceRewrite {
  std::string text;
  bool ownFound = false;
  bool markerFound = false;
};
ReferenceRewrite referenceRewrite(const std::vector<std::string>& lines, bool add, int64_t marker,
                                  int32_t accessPath, const std::string& host);

// An absolute path with its separators ('/' or '\') made single slashes,
// and "." and ".." resolved where a separator follows them.
std::string referenceFixPath(const std::string& path);

}  // namespace icl::fuzz

#endif
