#include "LineReaderProperty.h"

#include <string>
#include <vector>

#include "Findings.h"
#include "Reference.h"
#include "Scratch.h"
#include "ZUPIFileOpen.h"

namespace icl {
namespace fuzz {
namespace {

const size_t kSizeLimit = 65000;

std::vector<std::string> readAllLines(ZUPITextFileOpen& reader) {
  std::vector<std::string> lines;
  while (!reader.isEof()) lines.emplace_back(reader.readln());
  return lines;
}

bool isComment(const std::string& line) {
  size_t first = line.find_first_not_of(' ');
  return first != std::string::npos && line[first] == '#';
}

// What readNonCommentLine() hands out, call after call, over `handedOut`
// (what readln() hands out): the next line that is no comment, or, when the
// data ends among comments, the last line read.
std::vector<std::string> expectedNonComment(const std::vector<std::string>& handedOut) {
  std::vector<std::string> out;
  size_t next = 0;
  while (next < handedOut.size()) {
    std::string line = handedOut[next++];
    while (isComment(line) && next < handedOut.size()) line = handedOut[next++];
    out.push_back(line);
  }
  return out;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += "\n  " + printable(line, 80);
  return out.empty() ? "(none)" : out;
}

void compareLines(Findings& f, const std::string& what, const std::vector<std::string>& got,
                  const std::vector<std::string>& expected) {
  f.check(got == expected, what + ":" + joined(got) + "\n expected" + joined(expected));
}

}  // namespace

std::string checkLineReader(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Findings f;
  const std::string written = writeScratchFile("lines.txt", bytes);
  if (!f.check(written.empty(), written)) return f.result(printable(bytes));
  CapturedLog log;
  ZUPITextFileOpen reader(scratchPath("lines.txt").c_str(), nullptr, true);
  if (size > kSizeLimit) {
    f.equal("loaded over the size limit", reader.isFileOpen(), false);
    f.equal("load error code over the size limit", reader.getFileIOError(), 4);
    f.equal("end of data without a load", reader.isEof(), true);
    f.equal("line without a load", std::string(reader.readln()), std::string());
    return f.result(printable(bytes));
  }
  if (!f.equal("loaded", reader.isFileOpen(), true)) return f.result(printable(bytes));
  f.equal("load error code", reader.getFileIOError(), 0);

  std::vector<std::string> expected = referenceLines(bytes);
  if (!bytes.empty() && isLineTerminator(bytes.back())) expected.push_back("");

  compareLines(f, "first pass", readAllLines(reader), expected);
  f.equal("line at the end", std::string(reader.readln()), std::string());
  f.equal("end of data after a line at the end", reader.isEof(), true);
  reader.MoveReadPtrToBeginning();
  compareLines(f, "second pass", readAllLines(reader), expected);

  reader.MoveReadPtrToBeginning();
  std::vector<std::string> nonComment;
  while (!reader.isEof()) nonComment.emplace_back(reader.readNonCommentLine());
  compareLines(f, "readNonCommentLine pass", nonComment, expectedNonComment(expected));

  // Reading lines cut every terminator to NUL in place.
  reader.MoveReadPtrToBeginning();
  std::string bytesNow;
  while (!reader.isEof()) bytesNow.push_back(reader.getch());
  std::string cut = bytes;
  for (char& c : cut) {
    if (isLineTerminator(c)) c = '\0';
  }
  f.equal("bytes after the line passes", bytesNow, cut);
  f.equal("byte at the end", static_cast<int>(reader.getch()), 0);

  ZUPITextFileOpen copy(reader);
  compareLines(f, "a copy of the reader", readAllLines(copy), expected);
  f.check(log.lines().empty(), "log lines" + describeLines(log.lines()));
  return f.result(printable(bytes));
}

}  // namespace fuzz
}  // namespace icl
