#include "Report.h"

#include <stdarg.h>
#include <stdio.h>

namespace icl {
namespace tool {
namespace {

const char* const kErrorNames[] = {
    "ICL_ERROR_NONE",          "ICL_ERROR_RESERVED_1",
    "ICL_ERROR_RESERVED_2",    "ICL_ERROR_PATH_NOT_FOUND",
    "ICL_ERROR_EMPTY_PATH",    "ICL_ERROR_FILE_NOT_FOUND",
    "ICL_ERROR_FILE_READ",     "ICL_ERROR_FILE_INVALID",
    "ICL_ERROR_MISMATCH",      "ICL_ERROR_OUT_OF_MEMORY",
    "ICL_ERROR_FILE_WRITE",    "ICL_ERROR_NEW_LABEL_NOT_ALLOWED",
    "ICL_ERROR_FILE_LOCK",     "ICL_ERROR_LOCK_NOT_SUPPORTED",
    "ICL_ERROR_CHMOD",         "ICL_ERROR_CHOWN",
};

std::string errorName(TICLError error) {
  if (error >= 0 && error < static_cast<int>(sizeof kErrorNames / sizeof kErrorNames[0])) {
    return kErrorNames[error];
  }
  return "unknown error";
}

}  // namespace

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&out[0], out.size(), fmt, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

Report::Report(const std::string& command, const std::string& dir)
    : command_(command), dir_(dir) {}

void Report::fail(const std::string& message) {
  ok_ = false;
  failure_ = message;
  error_.addString("message", message);
}

void Report::fail(ICLController& controller) {
  const TICLError error = controller.GetICLError();
  const unsigned event = static_cast<unsigned>(controller.convertICLErrorToEvEventCode(error));
  if (error == ICL_ERROR_NONE) {
    // A few refusals (a directory that cannot be created) leave no code.
    fail("failed without an error code");
  } else {
    fail(format("%s (%d), event code 0x%08X", errorName(error).c_str(), static_cast<int>(error),
                event));
  }
  error_.addString("name", errorName(error))
      .addInt("code", error)
      .addString("event", format("0x%08X", event));
}

int Report::print(bool json, const LogLines& log) const {
  if (json) {
    JsonObject out;
    out.addString("command", command_).addString("dir", dir_).addBool("ok", ok_).addAll(values_);
    if (!ok_) {
      std::vector<std::string> messages;
      for (const LogLine& line : log.errors()) {
        messages.push_back(JsonObject()
                               .addString("function", line.function)
                               .addString("message", line.message)
                               .str());
      }
      out.addJson("error", error_.str()).addJson("libraryErrors", jsonArray(messages));
    }
    printf("%s\n", out.str().c_str());
    return ok_ ? 0 : 1;
  }
  if (ok_) {
    for (const std::string& line : lines_) printf("%s\n", line.c_str());
    return 0;
  }
  fprintf(stderr, "icl %s: %s: %s\n", command_.c_str(), dir_.c_str(), failure_.c_str());
  for (const std::string& line : lines_) fprintf(stderr, "  %s\n", line.c_str());
  for (const LogLine& line : log.errors()) {
    fprintf(stderr, "  library: %s: %s\n", line.function.c_str(), line.message.c_str());
  }
  if (!log.verbose()) fprintf(stderr, "  (run again with -v for the library's full log)\n");
  return 1;
}

}  // namespace tool
}  // namespace icl
