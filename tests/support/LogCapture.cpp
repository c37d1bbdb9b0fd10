#include "LogCapture.h"

#include <algorithm>

namespace icl {
namespace test {

std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << (line.level == EV_LOG_ERROR ? "Error" : "Debug") << " {" << line.function
             << "} \"" << line.message << "\"";
}

LogCapture::LogCapture() { EvSetLogSink(&LogCapture::sink, this); }

LogCapture::~LogCapture() { EvSetLogSink(nullptr, nullptr); }

void LogCapture::sink(EvLogLevel level, const char* function, const char* message,
                      void* context) {
  auto* self = static_cast<LogCapture*>(context);
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->lines_.push_back(LogLine{level, function, message});
}

std::vector<LogLine> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<LogLine> LogCapture::lines(EvLogLevel level) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<LogLine> out;
  for (const LogLine& line : lines_) {
    if (line.level == level) out.push_back(line);
  }
  return out;
}

bool LogCapture::contains(const LogLine& line) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace test
}  // namespace icl
