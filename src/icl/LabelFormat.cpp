#include "LabelFormat.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

namespace icl {
namespace {

const char kPoolKey[] = "INDEXCACHEPOOLID=";
const char kCacheKey[] = "INDEXCACHEID=";
const char kMarkerKey[] = "INDEXCACHETIMESTAMPMARKER=";

template <size_t N>
bool startsWith(const char* text, const char (&key)[N]) {
  return strncmp(text, key, N - 1) == 0;
}

// Reads sign and digits as strtol's grammar does, into a magnitude that is
// refused (false) once it passes `limit` for its sign.
bool parseMagnitude(const char* text, uint64_t positiveLimit, uint64_t negativeLimit,
                    bool& negative, uint64_t& magnitude) {
  const char* c = text;
  while (isspace(static_cast<unsigned char>(*c))) ++c;
  negative = false;
  if (*c == '+' || *c == '-') {
    negative = *c == '-';
    ++c;
  }
  if (!isdigit(static_cast<unsigned char>(*c))) return false;
  const uint64_t limit = negative ? negativeLimit : positiveLimit;
  magnitude = 0;
  for (; isdigit(static_cast<unsigned char>(*c)); ++c) {
    uint64_t digit = static_cast<uint64_t>(*c - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  return true;
}

}  // namespace

OwnLineText ownLineText(int32_t accessPathID) {
  OwnLineText own;
  snprintf(own.text, sizeof own.text, "USED_BY_ACCESSPATHID:%d", accessPathID);
  return own;
}

bool isPoolKey(const char* normalised) { return startsWith(normalised, kPoolKey); }
bool isCacheKey(const char* normalised) { return startsWith(normalised, kCacheKey); }
bool isMarkerKey(const char* normalised) { return startsWith(normalised, kMarkerKey); }

bool parseLabelId(const char* text, int32_t& value) {
  bool negative;
  uint64_t magnitude;
  if (!parseMagnitude(text, INT32_MAX, static_cast<uint64_t>(INT32_MAX) + 1, negative, magnitude)) {
    return false;
  }
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                   : static_cast<int32_t>(magnitude);
  return true;
}

bool parseLabelMarker(const char* text, int64_t& value) {
  bool negative;
  uint64_t magnitude;
  if (!parseMagnitude(text, UINT64_MAX, static_cast<uint64_t>(INT64_MAX) + 1, negative,
                      magnitude)) {
    return false;
  }
  // Two's complement: -m and an unsigned m above 2^63 - 1 both map to the
  // bit pattern a signed 64-bit writer started from.
  uint64_t bits = negative ? 0 - magnitude : magnitude;
  memcpy(&value, &bits, sizeof value);
  return true;
}

void scanNormalisedLine(const char* normalised, const OwnLineText& own, int32_t ownAccessPathID,
                        LabelScan& scan) {
  if (isPoolKey(normalised)) {
    if (!parseLabelId(normalised + sizeof kPoolKey - 1, scan.found.indexCachePoolID)) {
      scan.found.indexCachePoolID = 0;
    }
    scan.seenMask |= kSeenPool;
  }
  if (isCacheKey(normalised)) {
    if (!parseLabelId(normalised + sizeof kCacheKey - 1, scan.found.indexCacheID)) {
      scan.found.indexCacheID = 0;
    }
    scan.seenMask |= kSeenCache;
  }
  if (isMarkerKey(normalised)) {
    if (!parseLabelMarker(normalised + sizeof kMarkerKey - 1, scan.found.timeStampMarker)) {
      scan.found.timeStampMarker = 0;
    }
    scan.seenMask |= kSeenMarker;
  }
  if (strcmp(normalised, own.text) == 0) {
    scan.found.accessPathID = ownAccessPathID;
    scan.ownLineFound = true;
  }
}

}  // namespace icl
