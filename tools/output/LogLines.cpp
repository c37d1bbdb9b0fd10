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
  }
  if (level == EV_LOG_ERROR) self.errors_.push_back(LogLine{level, function, message});
}

const LogLine* LogLines::firstError(const std::string& function) const {
  for (const LogLine& line : errors_) {
    if (line.function == function) return &line;
  }
  return nullptr;
}

std::string loggedReason(const std::string& message) {
  const std::string marker = " failed: [";
  const size_t at = message.rfind(marker);
  if (at == std::string::npos || message.back() != ']') return "";
  return message.substr(at + marker.size(), message.size() - 1 - at - marker.size());
}

}  // namespace tool
}  // namespace icl
