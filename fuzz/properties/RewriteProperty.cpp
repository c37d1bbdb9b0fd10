#include "RewriteProperty.h"

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Findings.h"
#include "ICLRoutines.h"
#include "Reference.h"
#include "Scratch.h"
#include "ZUPIFileOpen.h"
#include "icl/LabelFormat.h"

namespace icl {
namespace fuzz {
namespace {

const int32_t kPool = 3;
const int32_t kCache = 7;
const size_t kSizeLimit = 65000;
const char* const kForgingHost = "h\r\nINDEXCACHEID = 1";

// One label to rewrite and the controller that rewrites it, all drawn from
// the input so that a saved input replays the same case.
struct RewriteCase {
  std::string label;
  std::vector<std::string> lines;  // as a reader hands them out
  ICLData identity;
  std::string host;
  bool allowNew;
};

RewriteCase makeCase(const uint8_t* data, size_t size, bool forController) {
  InputDraws draw(data, size);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  struct Splice {
    size_t at;
    std::string line;
  };
  std::vector<Splice> splices;
  splices.push_back({static_cast<size_t>(draw.below(size + 1)),
                     draw.oneIn(2) ? "indexcachepoolid=3" : "INDEXCACHEPOOLID = 3"});
  splices.push_back({static_cast<size_t>(draw.below(size + 1)),
                     draw.oneIn(2) ? "Index Cache Id = 7 # cache" : "INDEXCACHEID = 7"});
  // Mostly with a timestamp line of its own; otherwise the add appends one.
  if (!draw.oneIn(4)) {
    splices.push_back({static_cast<size_t>(draw.below(size + 1)), "INDEXCACHETIMESTAMPMARKER = 5"});
  }
  std::stable_sort(splices.begin(), splices.end(),
                   [](const Splice& a, const Splice& b) { return a.at > b.at; });
  RewriteCase c;
  c.label = bytes;
  for (const Splice& splice : splices) c.label.insert(splice.at, "\n" + splice.line + "\n");
  c.lines = referenceLines(c.label);

  const int64_t markers[] = {77, 0, -1, INT64_MAX, 5};
  const int64_t marker = markers[draw.below(5)];
  // Mostly an access path the label lists, so that refreshing and dropping
  // in place are exercised; sometimes one it lists only by chance.
  const int32_t accessPath = draw.oneIn(4) ? 12 : firstListedAccessPath(c.lines, 12);
  c.identity = ICLData{kPool, kCache, marker, accessPath};
  // An empty host name would make the controller ask the platform.
  const char* hosts[] = {"hostA", kForgingHost, ""};
  c.host = hosts[draw.below(forController ? 2 : 3)];
  c.allowNew = draw.oneIn(2);
  return c;
}

bool everyLineReads(const std::vector<std::string>& lines, bool (*isKey)(const std::string&),
                    int32_t ReferenceReading::*field, int32_t value) {
  for (const std::string& line : lines) {
    if (isKey(line) && referenceRead({line}, 0).*field != value) return false;
  }
  return true;
}

size_t countOwnLines(const std::vector<std::string>& lines, int32_t accessPath) {
  return static_cast<size_t>(std::count_if(
      lines.begin(), lines.end(),
      [accessPath](const std::string& line) { return isOwnLine(line, accessPath); }));
}

// Every line of a written label ends with one LF and none is empty.
bool wellTerminated(const std::string& text) {
  if (text.empty()) return true;
  if (text.back() != '\n' || text.front() == '\n') return false;
  return text.find("\n\n") == std::string::npos && text.find('\r') == std::string::npos &&
         text.find('\0') == std::string::npos;
}

// Reads `text` as a label through the library, for the controller's access
// path; the scan fills `found` even when a key is missing.
std::string readBack(const std::string& text, const ICLData& identity, ICLData& found,
                     int& result) {
  std::string written = writeScratchFile("rewritten.txt", text);
  if (!written.empty()) return written;
  ZUPITextFileOpen reader(scratchPath("rewritten.txt").c_str(), nullptr, true);
  if (!reader.isFileOpen()) return "the rewritten label did not load";
  ICLController controller("hostA", scratchDirectory().c_str());
  controller.SetICLData(identity);
  found = ICLData{0, 0, 0, 0};
  result = controller.extractICLInfoFromFile(found, reader);
  return "";
}

void checkAdd(Findings& f, const RewriteCase& c, ZUPITextFileOpen& reader) {
  const int32_t id = c.identity.accessPathID;
  const int64_t marker = c.identity.timeStampMarker;
  const LabelRewrite add = rewriteLabelText(reader, ICL_UPDATE_ADD, c.identity, c.host.c_str());
  const std::vector<std::string> out = referenceLines(add.text);
  const size_t ownBefore = countOwnLines(c.lines, id);
  const bool hadMarker = std::any_of(c.lines.begin(), c.lines.end(), isMarkerLine);

  f.equal("add: caller's line reported found", add.ownLineFound, ownBefore > 0);
  f.equal("add: timestamp line reported found", add.markerLineFound, hadMarker);
  f.check(wellTerminated(add.text), "add: a line of the result is empty or not ended by one LF");
  f.check(out.size() >= c.lines.size(), "add: lines were lost");
  // Line i of the old label stays line i; only appended lines follow.
  for (size_t i = 0; i < c.lines.size() && i < out.size(); ++i) {
    const std::string& before = c.lines[i];
    const std::string where = "add: line " + std::to_string(i + 1);
    if (isMarkerLine(before)) {
      f.equal(where + " (timestamp)", out[i], marker != 0 ? referenceMarkerLine(marker) : before);
    } else if (isOwnLine(before, id)) {
      f.equal(where + " (caller's)", out[i], referenceAccessPathLine(id, c.host));
    } else {
      f.equal(where + " kept byte for byte", out[i], before);
    }
  }
  if (ownBefore == 0) {
    f.equal("add: the caller's lines", countOwnLines(out, id), size_t{1});
    f.check(!out.empty() && out.back() == referenceAccessPathLine(id, c.host),
            "add: the caller's line is not appended as the last line");
  } else {
    f.equal("add: the caller's lines", countOwnLines(out, id), ownBefore);
  }
  f.equal("add: lines appended", out.size() - c.lines.size(),
          size_t{hadMarker ? 0u : 1u} + size_t{ownBefore > 0 ? 0u : 1u});
  f.equal("add: whole text", add.text, referenceAdd(c.lines, marker, id, c.host));

  if (add.text.size() > kSizeLimit) return;  // grew past what a reader loads
  ICLData found;
  int result = -1;
  const std::string failure = readBack(add.text, c.identity, found, result);
  if (!f.check(failure.empty(), failure)) return;
  f.equal("add: read back, result", result, 0);
  f.equal("add: read back, access path listed", found.accessPathID, id);
  if (marker != 0) f.equal("add: read back, marker", found.timeStampMarker, marker);
  // Spliced keys carry the controller's ids; the input may add others.
  if (everyLineReads(c.lines, isPoolLine, &ReferenceReading::pool, kPool)) {
    f.equal("add: read back, pool id", found.indexCachePoolID, kPool);
  }
  if (everyLineReads(c.lines, isCacheLine, &ReferenceReading::cache, kCache)) {
    f.equal("add: read back, cache id", found.indexCacheID, kCache);
  }
}

void checkRemove(Findings& f, const RewriteCase& c, ZUPITextFileOpen& reader) {
  const int32_t id = c.identity.accessPathID;
  const LabelRewrite removal =
      rewriteLabelText(reader, ICL_UPDATE_REMOVE, c.identity, c.host.c_str());
  const std::vector<std::string> out = referenceLines(removal.text);
  std::vector<std::string> others;
  for (const std::string& line : c.lines) {
    if (!isOwnLine(line, id)) others.push_back(line);
  }
  f.equal("remove: caller's line reported found", removal.ownLineFound,
          others.size() != c.lines.size());
  f.equal("remove: timestamp line reported found", removal.markerLineFound, false);
  f.check(wellTerminated(removal.text),
          "remove: a line of the result is empty or not ended by one LF");
  f.equal("remove: the caller's lines", countOwnLines(out, id), size_t{0});
  f.check(out == others, "remove: the other lines did not survive in order, byte for byte");
  f.equal("remove: whole text", removal.text, referenceRemove(c.lines, id));

  ICLData found;
  int result = -1;
  const std::string failure = readBack(removal.text, c.identity, found, result);
  if (!f.check(failure.empty(), failure)) return;
  f.equal("remove: read back, access path listed", found.accessPathID, 0);
}

struct DiskOutcome {
  int result;
  TICLError error;
  std::string label;
};

DiskOutcome expectedUpdate(const RewriteCase& c, const std::string& before) {
  const ReferenceReading r = referenceRead(referenceLines(before), c.identity.accessPathID);
  if (before.size() > kSizeLimit || r.mask != 7) {
    if (!c.allowNew) return DiskOutcome{-1, ICL_ERROR_NEW_LABEL_NOT_ALLOWED, before};
    if (c.identity.timeStampMarker == 0 || c.identity.accessPathID == 0) {
      return DiskOutcome{-1, ICL_ERROR_NONE, before};  // a new label needs all four values
    }
    return DiskOutcome{0, ICL_ERROR_NONE,
                       referenceNewLabel(kPool, kCache, c.identity.timeStampMarker,
                                         c.identity.accessPathID, c.host)};
  }
  if (r.pool != kPool || r.cache != kCache) return DiskOutcome{-1, ICL_ERROR_MISMATCH, before};
  return DiskOutcome{0, ICL_ERROR_NONE,
                     referenceAdd(referenceLines(before), c.identity.timeStampMarker,
                                  c.identity.accessPathID, c.host)};
}

DiskOutcome expectedRemoval(const RewriteCase& c, const std::string& before) {
  const ReferenceReading r = referenceRead(referenceLines(before), c.identity.accessPathID);
  if (before.size() > kSizeLimit || r.mask != 7) {
    return DiskOutcome{-1, ICL_ERROR_FILE_INVALID, before};
  }
  if (r.pool != kPool || r.cache != kCache) return DiskOutcome{-1, ICL_ERROR_MISMATCH, before};
  return DiskOutcome{0, ICL_ERROR_NONE,
                     referenceRemove(referenceLines(before), c.identity.accessPathID)};
}

void compare(Findings& f, const std::string& what, ICLController& controller, int result,
             const DiskOutcome& expected) {
  std::string onDisk;
  f.check(readScratchFile("icl_label.txt", onDisk), what + ": the label is gone");
  f.equal(what + ": result", result, expected.result);
  f.equal(what + ": error code", controller.GetICLError(), expected.error);
  f.equal(what + ": label on disk", onDisk, expected.label);
  f.check(!scratchFileExists("icl_label.txt.tmp"), what + ": a temporary file was left behind");
}

}  // namespace

std::string checkRewrite(const uint8_t* data, size_t size) {
  const RewriteCase c = makeCase(data, size, false);
  Findings f;
  const std::string written = writeScratchFile("label_copy.txt", c.label);
  if (!f.check(written.empty(), written)) return f.result(printable(c.label));
  CapturedLog log;
  ZUPITextFileOpen reader(scratchPath("label_copy.txt").c_str(), nullptr, true);
  if (c.label.size() > kSizeLimit) {
    f.check(!reader.isFileOpen(), "a label over the size limit was loaded");
    return f.result(printable(c.label));
  }
  if (!f.check(reader.isFileOpen(), "the label did not load")) return f.result(printable(c.label));
  checkAdd(f, c, reader);
  checkRemove(f, c, reader);  // a second pass over the same loaded copy
  return f.result(printable(c.label) + " as access path " +
                  std::to_string(c.identity.accessPathID) + " on host " + printable(c.host) +
                  " with marker " + std::to_string(c.identity.timeStampMarker));
}

std::string checkRewriteOnDisk(const uint8_t* data, size_t size) {
  const RewriteCase c = makeCase(data, size, true);
  Findings f;
  const std::string written = writeScratchFile("icl_label.txt", c.label);
  if (!f.check(written.empty(), written)) return f.result(printable(c.label));
  CapturedLog log;
  ICLController controller(c.host.c_str(), scratchDirectory().c_str());
  controller.SetICLData(c.identity);

  int result = controller.UpdateICL(c.allowNew);
  compare(f, std::string("UpdateICL(") + (c.allowNew ? "true" : "false") + ")", controller, result,
          expectedUpdate(c, c.label));

  std::string before;
  readScratchFile("icl_label.txt", before);
  result = controller.RemoveAccessPathIDfromICL();
  compare(f, "RemoveAccessPathIDfromICL", controller, result, expectedRemoval(c, before));
  return f.result(printable(c.label) + " as access path " +
                  std::to_string(c.identity.accessPathID) + " on host " + printable(c.host) +
                  " with marker " + std::to_string(c.identity.timeStampMarker));
}

bool rewriteOnDiskSelected(const uint8_t* data, size_t size) {
  return (inputHash(data, size) >> 60) == 0;
}

}  // namespace fuzz
}  // namespace icl
