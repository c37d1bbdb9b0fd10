#include "Reference.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>

#include <algorithm>

namespace icl::fuzz {
namespace {

const std::string kKeys[3] = {"INDEXCACHEPOOLID=", "INDEXCACHEID=", "INDEXCACHETIMESTAMPMARKER="};
const std::string kAccessPathKey = "USED_BY_ACCESSPATHID:";

// strtoll and strtoull, refused below `lowest` or above `highest`.
bool readNumber(const std::string& text, long long lowest, unsigned long long highest,
                int64_t& value) {
  const char* start = text.c_str();
  while (isspace(static_cast<unsigned char>(*start))) ++start;
  char* end = nullptr;
  errno = 0;
  if (*start == '-') {
    value = strtoll(start, &end, 10);
    return end != start && errno == 0 && value >= lowest;
  }
  const unsigned long long v = strtoull(start, &end, 10);
  value = static_cast<int64_t>(v);
  return end != start && errno == 0 && v <= highest;
}

}  // namespace

std::vector<std::string> referenceLines(const std::string& bytes) {
  const std::string terminators("\r\n\0", 3);
  std::vector<std::string> lines;
  for (size_t at = 0; (at = bytes.find_first_not_of(terminators, at)) != std::string::npos;) {
    const size_t end = bytes.find_first_of(terminators, at);
    lines.push_back(bytes.substr(at, end - at));
    at = end;
  }
  return lines;
}

std::string referenceNormalise(const std::string& line, size_t destSize) {
  std::string out;
  for (char c : line.substr(0, std::min(line.find_first_of(std::string("#\0", 2)), size_t{1023})))
    if (c != ' ') out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return out.substr(0, destSize - 1);
}

ReferenceReading referenceRead(const std::vector<std::string>& lines, int32_t own) {
  ReferenceReading r;
  for (size_t i = 0; i < lines.size() && !(r.mask == 7 && r.ownFound); ++i) {
    const std::string n = referenceNormalise(lines[i]);
    for (int key = 0; key < 3; ++key) {
      if (n.rfind(kKeys[key], 0) != 0) continue;
      r.mask |= 1 << key;
      const std::string text = n.substr(kKeys[key].size());
      if (!(key < 2 ? readNumber(text, INT32_MIN, INT32_MAX, r.values[key])
                    : readNumber(text, INT64_MIN, UINT64_MAX, r.values[key])))
        r.values[key] = 0;
    }
    r.ownFound = r.ownFound || n == kAccessPathKey + std::to_string(own);
  }
  return r;
}

ReferenceRewrite referenceRewrite(const std::vector<std::string>& lines, bool add, int64_t marker,
                                  int32_t accessPath, const std::string& host) {
  std::string hostText = host;
  std::replace_if(
      hostText.begin(), hostText.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  const std::string ownLine =
      "USED_BY_ACCESSPATHID: " + std::to_string(accessPath) + " #" + hostText + "\n";
  const std::string markerLine = "INDEXCACHETIMESTAMPMARKER = " + std::to_string(marker) + "\n";
  ReferenceRewrite r;
  for (const std::string& line : lines) {
    const std::string n = referenceNormalise(line);
    const bool isMarker = add && n.rfind(kKeys[2], 0) == 0;
    const bool isOwn = !isMarker && n == kAccessPathKey + std::to_string(accessPath);
    r.markerFound = r.markerFound || isMarker;
    r.ownFound = r.ownFound || isOwn;
    r.text += isMarker && marker != 0 ? markerLine : isOwn ? (add ? ownLine : "") : line + "\n";
  }
  if (add && !r.markerFound) r.text += markerLine;
  if (add && !r.ownFound) r.text += ownLine;
  return r;
}

std::string referenceFixPath(const std::string& path) {
  std::vector<std::string> kept;
  for (size_t at = 0, end = 0; end < path.size(); at = end) {
    at = std::min(path.find_first_not_of("/\\", at), path.size());
    end = std::min(path.find_first_of("/\\", at), path.size());
    const std::string part = path.substr(at, end - at);
    if (end == path.size() || (part != "." && part != ".."))
      kept.push_back(part);
    else if (part == ".." && !kept.empty())
      kept.pop_back();
  }
  std::string out;
  for (const std::string& part : kept) out += "/" + part;
  return out;
}

}  // namespace icl::fuzz
