#include "LogLines.h"

#include "Output.h"

namespace icl {
namespace tool {

LogLines::LogLines(bool verbose) : verbose_(verbose) { EvSetLogSink(&LogLines::sink, this); }

LogLines::~LogLines() { EvSetLogSink(nullptr, nullptr); }

void LogLines::sink(EvLogLevel level, const char* function, const char* message, void* context) {
  LogLines& self = *static_cast<LogLines*>(context);
  if (self.muted_) return;
  if (self.verbose_) {
    writeLine(Stream::Err, std::string(level == EV_LOG_ERROR ? "error: " : "debug: ") + function +
                               ": " + message);
  } else if (level == EV_LOG_ERROR) {
    self.errors_.push_back(LogLine{level, function, message});
  }
}

}  // namespace tool
}  // namespace icl
