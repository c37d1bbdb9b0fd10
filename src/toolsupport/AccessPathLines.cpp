// Every access path line of a label, which a controller never lists: it
// only looks for its own.

#include <string.h>

#include <chrono>
#include <string>

#include "ICLRoutines.h"
#include "ICLToolSupport.h"
#include "ZUPIFileOpen.h"
#include "label/LabelFormat.h"
#include "sys/Backoff.h"

namespace {

// Loads of the lines after the first: pauses of 10, 20, 40 and 40 ms.
const int kLinesLoadRetries = 4;

std::string trimmed(const char* text) {
  const std::string s = text;
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// An access path line by the label's own rule (LabelFormat.h): normalised,
// it starts with the key, whose last character is the colon the id follows.
void listLine(const char* line, ICLToolAccessPathCallback each, void* context) {
  if (icl::countAccessPathLines(line) != 1) return;
  char normalised[icl::kNormalisedLineSize];
  sanitizeString(normalised, line, sizeof normalised);
  const char* idText = strchr(normalised, ':') + 1;
  // Plain when a controller with that id would take the line for its own.
  int32_t id = 0;
  const bool plain =
      icl::parseLabelId(idText, id) && strcmp(icl::ownLineText(id).text, normalised) == 0;
  const char* hash = strchr(line, '#');
  each(idText, plain ? 1 : 0, plain ? id : 0, hash != nullptr ? trimmed(hash + 1).c_str() : "",
       context);
}

}  // namespace

int ICLToolReadAccessPaths(ICLController& controller, const char* dir,
                           ICLToolAccessPathCallback each, void* context) {
  if (controller.ReadDataFromICL() != 0) return -1;
  ZUPITextFileOpen label(ICLToolLabelPath(dir).c_str(), nullptr, true);
  icl::Backoff backoff(kLinesLoadRetries, std::chrono::milliseconds(10),
                       std::chrono::milliseconds(40));
  while (!label.isFileOpen() && backoff.pause()) {
    // Another host may have replaced the label since the read, and this
    // host's name for it may still lead to the old file: both again.
    if (controller.ReadDataFromICL() != 0) return -1;
    label.reloadFile(true);
  }
  if (!label.isFileOpen()) return label.getFileIOError();
  label.MoveReadPtrToBeginning();
  while (!label.isEof()) listLine(label.readln(), each, context);
  return 0;
}
