#include "Properties.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "ICLRoutines.h"
#include "LogCapture.h"
#include "Reference.h"
#include "TempDir.h"
#include "ZUPIFileOpen.h"
#include "label/LabelFormat.h"

namespace icl::fuzz {
namespace {

// A file of these bytes in a directory of our own.
std::string scratchFile(const std::string& name, const std::string& bytes) {
  static test::TempDir dir;
  test::writeFile(dir.file(name), bytes);
  return dir.file(name);
}

// An exact-size heap copy, so that the sanitizers see any access past its end.
std::vector<char> cString(const std::string& text) {
  return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

std::vector<std::string> allLines(ZUPITextFileOpen& reader, bool skipComments) {
  std::vector<std::string> lines;
  while (!reader.isEof())
    lines.emplace_back(skipComments ? reader.readNonCommentLine() : reader.readln());
  return lines;
}

// The rewrite of the label read: added to, then removed from, for an identity, marker and host
// drawn from the input (so that it replays).
std::string checkRewrite(const std::string& bytes, const std::string& path) {
  uint64_t state = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) state = (state ^ c) * 0x100000001b3ULL;
  auto below = [&state](uint64_t bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (state >> 33) % bound;
  };
  const int64_t markers[] = {77, 0, -1, INT64_MAX, 5};
  const ICLData id = {3, 7, markers[below(5)], below(4) == 0 ? 13 : 12};
  const std::string host = std::vector<std::string>{"hostA", "h\r\nINDEXCACHEID = 1", ""}[below(3)];
  ZUPITextFileOpen reader(path.c_str(), nullptr, true);
  for (bool add : {true, false}) {  // two passes over one loaded copy
    if (!reader.isFileOpen()) break;
    const LabelRewrite got =
        rewriteLabelText(reader, add ? ICL_UPDATE_ADD : ICL_UPDATE_REMOVE, id, host.c_str());
    const ReferenceRewrite expected =
        referenceRewrite(referenceLines(bytes), add, id.timeStampMarker, id.accessPathID, host);
    if (got.text != expected.text) return add ? "the text added to" : "the text removed from";
    if (got.ownLineFound != expected.ownFound || got.markerLineFound != expected.markerFound)
      return "found";
  }
  return "";
}

}  // namespace

std::string checkLabel(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size),
      path = scratchFile("icl_label.txt", bytes);
  // Most seeds list 12: the scan stops early.
  const ReferenceReading r = referenceRead(referenceLines(bytes), 12);
  const bool valid = size <= 65000 && r.mask == 7;
  test::LogCapture log;
  ICLController controller("hostA", path.substr(0, path.rfind('/')).c_str());
  controller.SetICLData(ICLData{11, 22, 33, 12});
  ICLData found = {-1, -1, -1, -1};
  if (controller.InternalReadDataFromICL(found) != (valid ? 0 : -1)) return "result";
  if (controller.GetICLError() != (valid ? ICL_ERROR_NONE : ICL_ERROR_FILE_INVALID))
    return "error code";
  const std::vector<int64_t> got = {found.indexCachePoolID, found.indexCacheID,
                                    found.timeStampMarker, found.accessPathID},
                             want = {r.values[0], r.values[1], r.values[2], r.ownFound ? 12 : 0};
  if (got != (valid ? want : std::vector<int64_t>(4, -1)))
    return "identity (untouched by a failed read)";
  const std::string invalid =
      "E ICLController::extractICLInfoFromFile: Index cache label file does not contain all the "
      "required parameters, and is thus invalid. Bitmask = [" +
      std::to_string(r.mask) + "]";
  if (!valid && size <= 65000 && log.lines() != std::vector<std::string>{invalid})
    return "Error line";
  if (valid && !log.lines().empty()) return "log lines";
  return checkRewrite(bytes, path);
}

std::string checkSanitize(const uint8_t* data, size_t size) {
  const size_t destSize = size < 2 ? 1023 : 1 + (data[0] | data[1] << 8) % 2048,
               skip = std::min<size_t>(size, 2);
  std::string line(reinterpret_cast<const char*>(data) + skip, size - skip);
  line = line.substr(0, line.find('\0'));
  std::vector<char> source = cString(line), dest(destSize, 'x');
  sanitizeString(dest.data(), source.data(), static_cast<int>(destSize));
  const bool ended = memchr(dest.data(), '\0', destSize) != nullptr;
  return ended && dest.data() == referenceNormalise(line, destSize) ? "" : "the normalised line";
}

std::string checkFixPath(const uint8_t* data, size_t size) {
  std::string path(reinterpret_cast<const char*>(data), size);
  path = path.substr(0, path.find('\0'));
  ICLController controller("hostA", "/");
  test::LogCapture log;
  std::vector<char> buffer = cString(path);
  const int result = controller.fixPath(buffer.data());
  if (path.empty() || (path[0] != '/' && path[0] != '\\')) {
    const std::string line =
        ("E fixPath: Path [" + path + "] must be absolute").substr(0, EV_MAX_MESSAGE + 11);
    const bool refused = result == 0x23000180 && buffer.data() == path;
    return refused && log.lines() == std::vector<std::string>{line}
               ? ""
               : "a relative path is refused as it is";
  }
  std::vector<char> again = cString(buffer.data());
  const bool idempotent =
      controller.fixPath(again.data()) == 0 && strcmp(again.data(), buffer.data()) == 0;
  return result == 0 && buffer.data() == referenceFixPath(path) && idempotent && log.lines().empty()
             ? ""
             : "canonical form";
}

std::string checkLineReader(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  test::LogCapture log;
  ZUPITextFileOpen reader(scratchFile("lines.txt", bytes).c_str(), nullptr, true);
  if (size > 65000)
    return !reader.isFileOpen() && reader.getFileIOError() == 4 && !*reader.readln() ? ""
                                                                                     : "too large";
  std::vector<std::string> expected = referenceLines(bytes), nonComment;
  if (size > 0 && (bytes.back() == '\0' || bytes.back() == '\r' || bytes.back() == '\n'))
    expected.emplace_back();  // an empty line comes only at the end, after a terminator
  if (!reader.isFileOpen() || !log.lines().empty() || allLines(reader, false) != expected)
    return "the lines";
  for (size_t next = 0; next < expected.size();) {  // each next line not a comment, or the last one
    std::string line = expected[next++];
    while (line.substr(std::min(line.find_first_not_of(' '), line.size()), 1) == "#" &&
           next < expected.size())
      line = expected[next++];
    nonComment.push_back(line);
  }
  reader.MoveReadPtrToBeginning();
  if (allLines(reader, true) != nonComment) return "the lines that are no comment";
  std::string cut = bytes, now;  // reading lines cut every terminator to NUL in place
  std::replace_if(
      cut.begin(), cut.end(), [](char c) { return c == '\r' || c == '\n'; }, '\0');
  reader.MoveReadPtrToBeginning();
  while (!reader.isEof()) now += reader.getch();
  ZUPITextFileOpen copy(reader);
  return now != cut || reader.getch() != 0   ? "the bytes after the cuts"
         : allLines(copy, false) != expected ? "a copy"
                                             : "";
}

}  // namespace icl::fuzz
