#ifndef ICL_TESTS_LOGCAPTURE_H
#define ICL_TESTS_LOGCAPTURE_H

// Takes every log line of the process while it lives, as "E function:
// message" or "D function: message" (thread-safe), so that tests can assert
// them and a passing run writes nothing to standard error.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "EvEvent.h"

namespace icl::test {

class LogCapture {
 public:
  LogCapture() { EvSetLogSink(&LogCapture::sink, this); }
  ~LogCapture() { EvSetLogSink(nullptr, nullptr); }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  long count(const std::string& part) const {  // the lines that hold `part`
    const std::vector<std::string> all = lines();
    return std::count_if(all.begin(), all.end(),
                         [&part](const std::string& l) { return l.find(part) != l.npos; });
  }
  std::vector<std::string> errors() const {  // the Error lines only
    std::vector<std::string> out;
    for (const std::string& line : lines())
      if (line[0] == 'E') out.push_back(line);
    return out;
  }
  // The sink it sets (`self` a LogCapture), for a sink of a test's own to hand lines on to.
  static void sink(EvLogLevel level, const char* function, const char* message, void* self) {
    LogCapture& log = *static_cast<LogCapture*>(self);
    std::lock_guard<std::mutex> lock(log.mutex_);
    log.lines_.push_back((level == EV_LOG_ERROR ? "E " : "D ") + std::string(function) + ": " +
                         message);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace icl::test

#endif
