// Uses the installed library the way a host program does: loads a text file,
// reads a label written by hand, writes, checks and updates labels, tests a
// directory, and captures the library's log lines through the sink.
// Usage: icl_consumer WORKDIR   (a writable, existing directory)

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "EvEvent.h"
#include "ICLRoutines.h"
#include "ZUPIFileOpen.h"

namespace {

std::vector<std::string> gLog;

void captureLog(EvLogLevel level, const char* function, const char* message, void*) {
  gLog.push_back(std::string(level == EV_LOG_ERROR ? "E " : "D ") + function + ": " + message);
}

bool writeText(const std::string& path, const char* text) {
  FILE* out = fopen(path.c_str(), "w");
  if (out == nullptr) return false;
  bool ok = fputs(text, out) >= 0;
  return fclose(out) == 0 && ok;
}

const char* readerWorks(const std::string& dir) {
  const std::string text = dir + "/lines.txt";
  if (!writeText(text, "# comment\r\nfirst line\r\n\r\nsecond line")) return "cannot write";
  ZUPITextFileOpen reader(text.c_str(), nullptr, true);
  if (!reader.isFileOpen()) return "the sample file did not load";
  std::vector<std::string> lines;
  while (!reader.isEof()) lines.push_back(reader.readNonCommentLine());
  if (lines != std::vector<std::string>{"first line", "second line"}) return "wrong lines";

  char normalised[1023];
  sanitizeString(normalised, "  IndexCacheId = 7 # note", sizeof normalised);
  if (strcmp(normalised, "INDEXCACHEID=7") != 0) return "wrong normalisation";

  gLog.clear();
  const std::string missing = dir + "/missing.txt";
  ZUPITextFileOpen absent(missing.c_str(), nullptr, true);
  if (absent.isFileOpen() || absent.getFileIOError() != 2) return "a missing file loaded";
  if (gLog != std::vector<std::string>{"D ZUPITextFileOpen::reloadFile: File [" + missing +
                                       "] does not exist."}) {
    return "the reader's log line was not captured";
  }
  return nullptr;
}

// A location an operation must refuse, and how.
struct Failure {
  std::string location;
  TICLError error;
  int event;
};

// Null when `operation` fails on every location as its row says.
const char* failsAsExpected(int (ICLController::*operation)(), const std::vector<Failure>& rows) {
  for (const Failure& f : rows) {
    ICLController failing("consumer", f.location.c_str());
    if ((failing.*operation)() != -1 || failing.GetICLError() != f.error ||
        failing.convertICLErrorToEvEventCode(failing.GetICLError()) != f.event) {
      return "wrong error or event code";
    }
  }
  return nullptr;
}

const char* labelReadingWorks(const std::string& dir) {
  const std::string cache = dir + "/cache";
  if (mkdir(cache.c_str(), 0755) != 0) return "cannot create the cache directory";
  if (!writeText(cache + "/icl_label.txt",
                 "# written by hand\r\nIndexCachePoolId = 3\r\nINDEXCACHEID = 7 # seven\r\n"
                 "INDEXCACHETIMESTAMPMARKER = 77\r\nUSED_BY_ACCESSPATHID: 12 #hostA\r\n")) {
    return "cannot write the label";
  }
  ICLController reader("consumer", cache.c_str());
  ICLData data;
  if (reader.ReadDataFromICL() != 0 || reader.GetICLData(data) != 0) return "read failed";
  if (data.indexCachePoolID != 3 || data.indexCacheID != 7 || data.timeStampMarker != 77) {
    return "wrong identity";
  }
  ICLController listed("consumer", cache.c_str());
  ICLData found;
  listed.SetICLData(ICLData{3, 7, 77, 12});
  if (listed.InternalReadDataFromICL(found) != 0 || found.accessPathID != 12) {
    return "access path 12 not seen";
  }
  listed.SetICLData(ICLData{3, 7, 77, 13});
  if (listed.InternalReadDataFromICL(found) != 0 || found.accessPathID != 0) {
    return "access path 13 seen";
  }

  return failsAsExpected(&ICLController::ReadDataFromICL,
                         {{"", ICL_ERROR_EMPTY_PATH, 0x23000180},
                          {dir + "/nowhere", ICL_ERROR_PATH_NOT_FOUND, 0x23000180},
                          {dir, ICL_ERROR_FILE_NOT_FOUND, 0x23000236}});
}

const char* labelWritingWorks(const std::string& dir) {
  const std::string cache = dir + "/written";
  if (mkdir(cache.c_str(), 0755) != 0) return "cannot create the cache directory";
  ICLController first("hostA", cache.c_str());
  first.SetICLData(ICLData{3, 7, 77, 12});
  if (first.UpdateICL(false) != -1 || first.GetICLError() != ICL_ERROR_NEW_LABEL_NOT_ALLOWED) {
    return "a new label was written without leave";
  }
  if (first.UpdateICL(true) != 0) return "no new label";
  ICLController second("hostB", cache.c_str());
  second.SetICLData(ICLData{3, 7, 77, 13});
  if (second.CheckICL() != 0) return "the check did not register access path 13";
  ICLData found;
  if (second.InternalReadDataFromICL(found) != 0 || found.accessPathID != 13) {
    return "access path 13 not listed";
  }
  if (first.RemoveAccessPathIDfromICL() != 0) return "removal failed";
  ICLController wrong("hostC", cache.c_str());
  wrong.SetICLData(ICLData{4, 7, 77, 14});
  if (wrong.CheckICL() != -1 || wrong.GetICLError() != ICL_ERROR_MISMATCH ||
      wrong.convertICLErrorToEvEventCode(wrong.GetICLError()) != 0x23000238) {
    return "a wrong pool was not a mismatch";
  }
  return nullptr;
}

const char* directoryTestWorks(const std::string& dir) {
  const std::string cache = dir + "/probe/a/cache1";  // created with its parents
  ICLController probe("consumer", cache.c_str());
  if (probe.canFilesBeCreatedInDirectory() != 0) return "the directory test failed";
  if (rmdir(cache.c_str()) != 0) return "scratch file left";  // the new directory is empty again
  if (!writeText(dir + "/not-a-dir", "x")) return "cannot write a plain file";
  return failsAsExpected(&ICLController::canFilesBeCreatedInDirectory,
                         {{"", ICL_ERROR_EMPTY_PATH, 0x23000180},
                          {dir + "/not-a-dir", ICL_ERROR_FILE_WRITE, 0x23000239}});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: icl_consumer WORKDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  EvSetLogSink(captureLog, nullptr);
  const struct {
    const char* name;
    const char* (*check)(const std::string&);
  } checks[] = {
      {"text reader", readerWorks},
      {"label reading", labelReadingWorks},
      {"label writing", labelWritingWorks},
      {"directory test", directoryTestWorks},
  };
  int failed = 0;
  for (const auto& c : checks) {
    const char* problem = c.check(dir);
    printf("consumer: %s: %s\n", c.name, problem != nullptr ? problem : "ok");
    if (problem != nullptr) failed = 1;
  }
  EvSetLogSink(nullptr, nullptr);
  return failed;
}
