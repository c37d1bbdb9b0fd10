#include "label/LabelFormat.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "ZUPIFileOpen.h"

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

void appendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void appendFormat(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed > 0) {
    size_t start = out.size();
    out.resize(start + static_cast<size_t>(needed) + 1);
    vsnprintf(&out[start], static_cast<size_t>(needed) + 1, format, args);
    out.resize(start + static_cast<size_t>(needed));
  }
  va_end(args);
}

}  // namespace

OwnLineText ownLineText(int32_t accessPathID) {
  OwnLineText own;
  snprintf(own.text, sizeof own.text, "USED_BY_ACCESSPATHID:%d", accessPathID);
  return own;
}

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
  // A key's value that does not parse counts as 0, the key as seen.
  const auto scanId = [&](const auto& key, int32_t& id, int seen) {
    if (!startsWith(normalised, key)) return;
    if (!parseLabelId(normalised + sizeof key - 1, id)) id = 0;
    scan.seenMask |= seen;
  };
  scanId(kPoolKey, scan.found.indexCachePoolID, kSeenPool);
  scanId(kCacheKey, scan.found.indexCacheID, kSeenCache);
  if (startsWith(normalised, kMarkerKey)) {
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

std::string singleLineText(const char* text, size_t maxLength) {
  std::string out;
  if (text == nullptr) return out;
  for (size_t i = 0; i < maxLength && text[i] != '\0'; ++i) {
    out.push_back(text[i] == '\r' || text[i] == '\n' ? ' ' : text[i]);
  }
  return out;
}

std::string markerLine(int64_t marker) {
  std::string line;
  appendFormat(line, "INDEXCACHETIMESTAMPMARKER = %ld\n", static_cast<long>(marker));
  return line;
}

std::string accessPathLine(int32_t accessPathID, const char* hostName) {
  std::string line;
  appendFormat(line, "USED_BY_ACCESSPATHID: %d #%s\n", accessPathID,
               singleLineText(hostName, SIZE_MAX).c_str());
  return line;
}

int countAccessPathLines(const std::string& text) {
  static const char kAccessPathKey[] = "USED_BY_ACCESSPATHID:";
  int count = 0;
  char normalised[kNormalisedLineSize];
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    sanitizeString(normalised, text.substr(start, end - start).c_str(), kNormalisedLineSize);
    if (startsWith(normalised, kAccessPathKey)) ++count;
    start = end + 1;
  }
  return count;
}

std::string renderNewLabel(const ICLData& data, const char* hostName, const char* description) {
  std::string label =
      "# INDEX CACHE LABEL FILE\n"
      "#\n";
  if (description != nullptr) {
    appendFormat(label, "# Index Cache Description: %s\n",
                 singleLineText(description, kMaxDescriptionLength).c_str());
  } else {
    appendFormat(label, "# Index Cache Label file for the Index Cache with the ID: %d\n",
                 data.indexCacheID);
  }
  label +=
      "#\n"
      "# DO NOT EDIT THIS FILE\n"
      "#\n";
  appendFormat(label, "INDEXCACHEPOOLID = %d\n", data.indexCachePoolID);
  appendFormat(label, "INDEXCACHEID = %d\n", data.indexCacheID);
  label += markerLine(data.timeStampMarker);
  label +=
      "#\n"
      "# List of hosts that access this file follows\n"
      "# Warning: Hostnames may not be current.\n"
      "#\n"
      "#\n";
  label += accessPathLine(data.accessPathID, hostName);
  return label;
}

LabelRewrite rewriteLabelText(ZUPITextFileOpen& copy, TUpdateMode mode, const ICLData& data,
                              const char* hostName) {
  const bool removing = mode == ICL_UPDATE_REMOVE;
  const OwnLineText own = ownLineText(data.accessPathID);
  LabelRewrite rewrite;
  char normalised[kNormalisedLineSize];
  copy.MoveReadPtrToBeginning();
  while (!copy.isEof()) {
    const char* line = copy.readln();
    sanitizeString(normalised, line, kNormalisedLineSize);
    if (!removing && startsWith(normalised, kMarkerKey)) {
      rewrite.markerLineFound = true;
      // A marker of 0 means "not compared", never "reset the label's marker".
      if (data.timeStampMarker != 0) {
        rewrite.text += markerLine(data.timeStampMarker);
        continue;
      }
    } else if (strcmp(normalised, own.text) == 0) {
      rewrite.ownLineFound = true;
      if (!removing) rewrite.text += accessPathLine(data.accessPathID, hostName);
      continue;
    }
    if (line[0] != '\0') {
      rewrite.text += line;
      rewrite.text += '\n';
    }
  }
  if (!removing) {
    if (!rewrite.markerLineFound) rewrite.text += markerLine(data.timeStampMarker);
    if (!rewrite.ownLineFound) rewrite.text += accessPathLine(data.accessPathID, hostName);
  }
  return rewrite;
}

}  // namespace icl
