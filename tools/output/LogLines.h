#ifndef ICL_TOOLS_OUTPUT_LOGLINES_H
#define ICL_TOOLS_OUTPUT_LOGLINES_H

// Routes the library's log lines for the lifetime of one run: with -v every
// Debug and Error line goes to standard error as it comes; without it the
// Error lines are shown only if the operation fails. The Error lines are
// kept either way, for JSON and for the summary of a failure.

#include <string>
#include <vector>

#include "EvEvent.h"

namespace icl {
namespace tool {

struct LogLine {
  EvLogLevel level;
  std::string function;
  std::string message;
};

class LogLines {
 public:
  explicit LogLines(bool verbose);  // installs the sink
  ~LogLines();                      // restores the library's default sink
  LogLines(const LogLines&) = delete;
  LogLines& operator=(const LogLines&) = delete;

  bool verbose() const { return verbose_; }
  const std::vector<LogLine>& errors() const { return errors_; }
  // The first Error line `function` wrote, or null.
  const LogLine* firstError(const std::string& function) const;
  // While muted, lines are dropped: for a call made only for its side effect.
  void setMuted(bool muted) { muted_ = muted; }

 private:
  static void sink(EvLogLevel level, const char* function, const char* message, void* context);

  bool verbose_;
  bool muted_ = false;
  std::vector<LogLine> errors_;
};

// The reason a library line gives at its end, as in "...: stat() failed:
// [Permission denied]": "Permission denied"; empty when it gives none.
std::string loggedReason(const std::string& message);

}  // namespace tool
}  // namespace icl

#endif
