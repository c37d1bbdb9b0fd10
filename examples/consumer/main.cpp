// Uses the installed library the way a host program does: loads a text file,
// reads its lines, and captures the library's log lines through the sink.
// Usage: icl_consumer WORKDIR   (a writable, existing directory)

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "EvEvent.h"
#include "ZUPIFileOpen.h"

namespace {

std::vector<std::string> gLog;

void captureLog(EvLogLevel level, const char* function, const char* message, void*) {
  gLog.push_back(std::string(level == EV_LOG_ERROR ? "E " : "D ") + function + ": " + message);
}

int fail(const char* what) {
  fprintf(stderr, "consumer: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return fail("usage: icl_consumer WORKDIR");
  const std::string dir = argv[1];
  EvSetLogSink(captureLog, nullptr);

  const std::string text = dir + "/lines.txt";
  FILE* out = fopen(text.c_str(), "w");
  if (out == nullptr) return fail("cannot write the sample file");
  fputs("# comment\r\nfirst line\r\n\r\nsecond line", out);
  if (fclose(out) != 0) return fail("cannot close the sample file");

  ZUPITextFileOpen reader(text.c_str(), nullptr, true);
  if (!reader.isFileOpen()) return fail("the sample file did not load");
  std::vector<std::string> lines;
  while (!reader.isEof()) lines.push_back(reader.readNonCommentLine());
  if (lines != std::vector<std::string>{"first line", "second line"}) return fail("wrong lines");

  char normalised[1023];
  sanitizeString(normalised, "  IndexCacheId = 7 # note", sizeof normalised);
  if (strcmp(normalised, "INDEXCACHEID=7") != 0) return fail("wrong normalisation");

  const std::string missing = dir + "/missing.txt";
  ZUPITextFileOpen absent(missing.c_str(), nullptr, true);
  if (absent.isFileOpen() || absent.getFileIOError() != 2) return fail("missing file loaded");
  if (gLog.size() != 1 ||
      gLog[0] != "D ZUPITextFileOpen::reloadFile: File [" + missing + "] does not exist.") {
    return fail("log line not captured");
  }

  EvSetLogSink(nullptr, nullptr);
  printf("consumer: ok\n");
  return 0;
}
