#ifndef ICL_ICL_LABELFORMAT_H
#define ICL_ICL_LABELFORMAT_H

// The label's line syntax as a reader sees it. Pure functions, no I/O.
//
// A reader never matches a raw line: it normalises it first (sanitizeString
// into kNormalisedLineSize bytes: no spaces, upper case, nothing from '#'
// on) and compares key texts, '=' included, at the start of that form.

#include <stdint.h>

#include "ICLRoutines.h"

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
  char text[32];
};
OwnLineText ownLineText(int32_t accessPathID);

bool isPoolKey(const char* normalised);
bool isCacheKey(const char* normalised);
bool isMarkerKey(const char* normalised);

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

}  // namespace icl

#endif
