#ifndef ICL_TESTS_LOGCAPTURE_H
#define ICL_TESTS_LOGCAPTURE_H

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "EvEvent.h"

namespace icl {
namespace test {

struct LogLine {
  EvLogLevel level;
  std::string function;
  std::string message;
  bool operator==(const LogLine& other) const {
    return level == other.level && function == other.function && message == other.message;
  }
};

std::ostream& operator<<(std::ostream& out, const LogLine& line);

inline LogLine debugLine(std::string function, std::string message) {
  return LogLine{EV_LOG_DEBUG, std::move(function), std::move(message)};
}
inline LogLine errorLine(std::string function, std::string message) {
  return LogLine{EV_LOG_ERROR, std::move(function), std::move(message)};
}

// Captures every log line of the process while it lives (thread-safe).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> lines() const;
  // Lines of one level only.
  std::vector<LogLine> lines(EvLogLevel level) const;
  bool contains(const LogLine& line) const;
  void clear();

 private:
  static void sink(EvLogLevel level, const char* function, const char* message, void* context);
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;
};

}  // namespace test
}  // namespace icl

#endif
