#include "Reference.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace icl {
namespace fuzz {
namespace {

const char kPoolKey[] = "INDEXCACHEPOOLID=";
const char kCacheKey[] = "INDEXCACHEID=";
const char kMarkerKey[] = "INDEXCACHETIMESTAMPMARKER=";
const char kAccessPathKey[] = "USED_BY_ACCESSPATHID:";

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The sign and the digits that "%d" would consume at the start of `text`;
// `magnitude` comes back without leading zeros ("" for zero).
bool leadingDecimal(const std::string& text, bool& negative, std::string& magnitude) {
  size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) return false;
  negative = false;
  if (text[at] == '+' || text[at] == '-') {
    negative = text[at] == '-';
    ++at;
  }
  size_t end = at;
  while (end < text.size() && isDigit(text[end])) ++end;
  if (end == at) return false;
  magnitude = text.substr(at, end - at);
  size_t firstNonZero = magnitude.find_first_not_of('0');
  magnitude = firstNonZero == std::string::npos ? "" : magnitude.substr(firstNonZero);
  return true;
}

// Decimal strings without leading zeros compare by length, then by text.
bool notAbove(const std::string& magnitude, const std::string& limit) {
  if (magnitude.size() != limit.size()) return magnitude.size() < limit.size();
  return magnitude <= limit;
}

uint64_t toUnsigned(const std::string& magnitude) {
  uint64_t value = 0;
  for (char c : magnitude) value = value * 10 + static_cast<uint64_t>(c - '0');
  return value;
}

int64_t fromBits(uint64_t bits) {
  int64_t value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

bool isLineTerminator(char c) { return c == '\0' || c == '\r' || c == '\n'; }

std::vector<std::string> referenceLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : bytes) {
    if (!isLineTerminator(c)) {
      current.push_back(c);
    } else if (!current.empty()) {
      lines.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

std::string referenceNormalise(const std::string& line, size_t destSize) {
  std::string looked = line.substr(0, std::min<size_t>(line.size(), 1023));
  looked = looked.substr(0, looked.find('\0'));
  looked = looked.substr(0, looked.find('#'));
  std::string out;
  for (char c : looked) {
    if (c == ' ') continue;
    out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return out.substr(0, destSize - 1);
}

bool referenceId(const std::string& text, int32_t& value) {
  bool negative;
  std::string magnitude;
  if (!leadingDecimal(text, negative, magnitude)) return false;
  if (!notAbove(magnitude, negative ? "2147483648" : "2147483647")) return false;
  int64_t wide = static_cast<int64_t>(toUnsigned(magnitude));
  value = static_cast<int32_t>(negative ? -wide : wide);
  return true;
}

bool referenceMarker(const std::string& text, int64_t& value) {
  bool negative;
  std::string magnitude;
  if (!leadingDecimal(text, negative, magnitude)) return false;
  if (!notAbove(magnitude, negative ? "9223372036854775808" : "18446744073709551615")) {
    return false;
  }
  const uint64_t m = toUnsigned(magnitude);
  value = fromBits(negative ? 0 - m : m);
  return true;
}

std::string referenceOwnLine(int32_t accessPathID) {
  return kAccessPathKey + std::to_string(accessPathID);
}

int32_t firstListedAccessPath(const std::vector<std::string>& lines, int32_t fallback) {
  for (const std::string& line : lines) {
    const std::string normalised = referenceNormalise(line);
    if (!startsWith(normalised, kAccessPathKey)) continue;
    const std::string rest = normalised.substr(strlen(kAccessPathKey));
    int32_t id;
    if (referenceId(rest, id) && std::to_string(id) == rest) return id;
  }
  return fallback;
}

bool isPoolLine(const std::string& line) { return startsWith(referenceNormalise(line), kPoolKey); }
bool isCacheLine(const std::string& line) {
  return startsWith(referenceNormalise(line), kCacheKey);
}
bool isMarkerLine(const std::string& line) {
  return startsWith(referenceNormalise(line), kMarkerKey);
}
bool isOwnLine(const std::string& line, int32_t accessPathID) {
  return referenceNormalise(line) == referenceOwnLine(accessPathID);
}

ReferenceReading referenceRead(const std::vector<std::string>& lines, int32_t ownID) {
  ReferenceReading r;
  const std::string own = referenceOwnLine(ownID);
  for (const std::string& line : lines) {
    if (r.mask == 7 && r.ownFound) break;  // the reader stops here
    const std::string n = referenceNormalise(line);
    if (startsWith(n, kPoolKey)) {
      r.mask |= 1;
      if (!referenceId(n.substr(strlen(kPoolKey)), r.pool)) r.pool = 0;
    }
    if (startsWith(n, kCacheKey)) {
      r.mask |= 2;
      if (!referenceId(n.substr(strlen(kCacheKey)), r.cache)) r.cache = 0;
    }
    if (startsWith(n, kMarkerKey)) {
      r.mask |= 4;
      if (!referenceMarker(n.substr(strlen(kMarkerKey)), r.marker)) r.marker = 0;
    }
    if (n == own) r.ownFound = true;
  }
  return r;
}

std::string referenceHostText(const std::string& host) {
  std::string text = host;
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

std::string referenceMarkerLine(int64_t marker) {
  return "INDEXCACHETIMESTAMPMARKER = " + std::to_string(marker);
}

std::string referenceAccessPathLine(int32_t accessPathID, const std::string& host) {
  return "USED_BY_ACCESSPATHID: " + std::to_string(accessPathID) + " #" + referenceHostText(host);
}

std::string referenceAdd(const std::vector<std::string>& lines, int64_t marker,
                         int32_t accessPathID, const std::string& host) {
  std::string out;
  bool sawMarker = false;
  bool sawOwn = false;
  for (const std::string& line : lines) {
    if (isMarkerLine(line)) {
      sawMarker = true;
      out += (marker != 0 ? referenceMarkerLine(marker) : line) + "\n";
    } else if (isOwnLine(line, accessPathID)) {
      sawOwn = true;
      out += referenceAccessPathLine(accessPathID, host) + "\n";
    } else {
      out += line + "\n";
    }
  }
  if (!sawMarker) out += referenceMarkerLine(marker) + "\n";
  if (!sawOwn) out += referenceAccessPathLine(accessPathID, host) + "\n";
  return out;
}

std::string referenceRemove(const std::vector<std::string>& lines, int32_t accessPathID) {
  std::string out;
  for (const std::string& line : lines) {
    if (!isOwnLine(line, accessPathID)) out += line + "\n";
  }
  return out;
}

std::string referenceNewLabel(int32_t pool, int32_t cache, int64_t marker, int32_t accessPathID,
                              const std::string& host) {
  return "# INDEX CACHE LABEL FILE\n"
         "#\n"
         "# Index Cache Label file for the Index Cache with the ID: " +
         std::to_string(cache) +
         "\n"
         "#\n"
         "# DO NOT EDIT THIS FILE\n"
         "#\n"
         "INDEXCACHEPOOLID = " +
         std::to_string(pool) + "\nINDEXCACHEID = " + std::to_string(cache) + "\n" +
         referenceMarkerLine(marker) +
         "\n"
         "#\n"
         "# List of hosts that access this file follows\n"
         "# Warning: Hostnames may not be current.\n"
         "#\n"
         "#\n" +
         referenceAccessPathLine(accessPathID, host) + "\n";
}

std::string referenceFixPath(const std::string& path) {
  // Each component with whether a separator follows it; the last component
  // (empty after a trailing separator) is always kept as it stands.
  std::vector<std::string> kept;
  size_t at = 0;
  do {
    while (at < path.size() && isSeparator(path[at])) ++at;
    size_t end = at;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    const std::string component = path.substr(at, end - at);
    const bool separatorFollows = end < path.size();
    at = end;
    if (separatorFollows && component == ".") continue;
    if (separatorFollows && component == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(component);
  } while (at < path.size());
  std::string out;
  for (const std::string& component : kept) out += "/" + component;
  return out;
}

std::string printable(const std::string& bytes, size_t limit) {
  std::string out = "\"";
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  if (bytes.size() > limit) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

}  // namespace fuzz
}  // namespace icl
