#ifndef ICL_ICL_LABELFORMAT_H
#define ICL_ICL_LABELFORMAT_H

// The label's line syntax as a reader sees it. Pure functions, no I/O.
//
// A reader never matches a raw line: it normalises it first (sanitizeString
// into kNormalisedLineSize bytes: no spaces, upper case, nothing from '#'
// on) and compares key texts, '=' included, at the start of that form.

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "ICLRoutines.h"

class ZUPITextFileOpen;

namespace icl {

const int kNormalisedLineSize = 1023;

// Bits of the presence mask; a label is valid only with all three.
const int kSeenPool = 1;
const int kSeenCache = 2;
const int kSeenMarker = 4;
const int kSeenAll = kSeenPool | kSeenCache | kSeenMarker;

// "USED_BY_ACCESSPATHID:" and the id as "%d" prints it: the normalised form
// of an access path line.
struct OwnLineText {
  char text[40];  // 21 characters of key and at most 11 of id, with room to spare
};
OwnLineText ownLineText(int32_t accessPathID);

// Parses a decimal id as "%d" would (leading white space, an optional sign,
// digits up to the first non-digit) but refuses what does not fit 32 bits
// instead of wrapping it. False (value untouched) when nothing parses.
bool parseLabelId(const char* text, int32_t& value);

// The same for a timestamp marker. Markers older writers stored as unsigned
// decimal (up to 2^64 - 1) read back as the same 64-bit pattern, so every
// marker reads as the value it was written from; beyond 64 bits is refused.
bool parseLabelMarker(const char* text, int64_t& value);

// What a reader has gathered from a label so far.
struct LabelScan {
  ICLData found = {0, 0, 0, 0};
  int seenMask = 0;
  bool ownLineFound = false;
  bool done() const { return seenMask == kSeenAll && ownLineFound; }
};

// Applies one normalised line to `scan`: a key sets its bit and its value
// (0 when unparseable); the own line marks the reader's access path found.
void scanNormalisedLine(const char* normalised, const OwnLineText& own, int32_t ownAccessPathID,
                        LabelScan& scan);

// --- Writing -----------------------------------------------------------

// Longest description a new label carries; a longer one is cut.
const size_t kMaxDescriptionLength = 1023;

// `text` as it may stand inside one label line: CR and LF become spaces, so
// caller text can never start a line of its own (a forged key). Null gives
// the empty string; at most `maxLength` characters are kept.
std::string singleLineText(const char* text, size_t maxLength);

// "INDEXCACHETIMESTAMPMARKER = <marker>\n", the marker in signed decimal
// (identical to the unsigned form older writers used, for every marker >= 0).
std::string markerLine(int64_t marker);
// "USED_BY_ACCESSPATHID: <id> #<host>\n"
std::string accessPathLine(int32_t accessPathID, const char* hostName);

// How many lines of `text` are access path lines (of any id).
int countAccessPathLines(const std::string& text);

// The fifteen lines of a new label for `data`, listing only its access path.
std::string renderNewLabel(const ICLData& data, const char* hostName, const char* description);

struct LabelRewrite {
  std::string text;
  bool ownLineFound = false;     // the caller's access path line was met
  bool markerLineFound = false;  // a timestamp line was met (add mode only)
};

// Rewrites the label loaded in `copy` line by line from its first line.
// Every non-empty line is kept with one LF. Adding: timestamp lines carry
// data.timeStampMarker (left as they stand when it is 0), the caller's lines
// are refreshed with `hostName`, and a missing timestamp line, then a missing
// access path line, are appended. Removing: the caller's lines are dropped,
// nothing else changes.
LabelRewrite rewriteLabelText(ZUPITextFileOpen& copy, TUpdateMode mode, const ICLData& data,
                              const char* hostName);

}  // namespace icl

#endif
