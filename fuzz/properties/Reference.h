#ifndef ICL_FUZZ_PROPERTIES_REFERENCE_H
#define ICL_FUZZ_PROPERTIES_REFERENCE_H

// Independent readings of the label and path rules, written for the fuzz
// properties to compare the library against. They favour plainness over
// speed: strings and vectors, no in-place tricks, no shared code with the
// library.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace icl {
namespace fuzz {

// The lines a reader hands out, in order: every maximal run of bytes other
// than CR, LF and NUL. Blank lines do not exist.
std::vector<std::string> referenceLines(const std::string& bytes);

// True for CR, LF and NUL.
bool isLineTerminator(char c);

// A line as key matching sees it, for a destination of `destSize` bytes:
// only the first 1023 characters count, '#' ends the line, spaces vanish,
// a-z become A-Z, and at most destSize - 1 characters remain.
std::string referenceNormalise(const std::string& line, size_t destSize = 1023);

// The value at the start of `text` as "%d" reads it (white space, a sign,
// digits), refused when it does not fit 32 bits.
bool referenceId(const std::string& text, int32_t& value);
// The same for a timestamp marker: signed decimal, or unsigned decimal up to
// 2^64 - 1 read as the same 64-bit pattern; anything wider is refused.
bool referenceMarker(const std::string& text, int64_t& value);

// "USED_BY_ACCESSPATHID:" and the id in plain decimal.
std::string referenceOwnLine(int32_t accessPathID);

// What a reader scanning `lines` for access path `ownID` ends up with.
struct ReferenceReading {
  int mask = 0;  // 1 pool, 2 cache, 4 marker
  int32_t pool = 0;
  int32_t cache = 0;
  int64_t marker = 0;
  bool ownFound = false;
};
ReferenceReading referenceRead(const std::vector<std::string>& lines, int32_t ownID);

// The first access path the lines list in plain decimal ("%d" form), or
// `fallback` when none does.
int32_t firstListedAccessPath(const std::vector<std::string>& lines, int32_t fallback);

// Key recognition on one raw line, through its normalised form.
bool isPoolLine(const std::string& line);
bool isCacheLine(const std::string& line);
bool isMarkerLine(const std::string& line);
bool isOwnLine(const std::string& line, int32_t accessPathID);

// A host name as it may stand in a label line: CR and LF become spaces.
std::string referenceHostText(const std::string& host);
std::string referenceMarkerLine(int64_t marker);  // without the LF
std::string referenceAccessPathLine(int32_t accessPathID, const std::string& host);

// The label a rewrite must produce from `lines` (see the label layout):
// adding stamps `marker` (a marker of 0 leaves marker lines as they are),
// refreshes the caller's lines and appends what is missing; removing drops
// the caller's lines.
std::string referenceAdd(const std::vector<std::string>& lines, int64_t marker,
                         int32_t accessPathID, const std::string& host);
std::string referenceRemove(const std::vector<std::string>& lines, int32_t accessPathID);

// The fifteen lines of a new label without a description.
std::string referenceNewLabel(int32_t pool, int32_t cache, int64_t marker, int32_t accessPathID,
                              const std::string& host);

// The canonical form of an absolute path: components between separators
// ('/' or '\'), "." and ".." resolved only where a separator follows them.
std::string referenceFixPath(const std::string& path);

// `bytes` made printable for a message: C escapes, cut after `limit` bytes.
std::string printable(const std::string& bytes, size_t limit = 160);

}  // namespace fuzz
}  // namespace icl

#endif
