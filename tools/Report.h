#ifndef ICL_TOOLS_REPORT_H
#define ICL_TOOLS_REPORT_H

// What one command found, printed at the end either as text (standard
// output on success, standard error on failure) or as one JSON object on
// standard output. Commands add both forms side by side.

#include <string>
#include <vector>

#include "ICLRoutines.h"
#include "Json.h"
#include "LogLines.h"

namespace icl {
namespace tool {

class Report {
 public:
  Report(const std::string& command, const std::string& dir);

  // A line of the text output.
  void say(const std::string& line) { lines_.push_back(line); }
  // The values of the JSON output, after "command", "dir" and "ok".
  JsonObject& values() { return values_; }

  // Marks the run failed. `message` heads the text output and goes into the
  // JSON "error" object; the ICL variant names the code and event code.
  void fail(const std::string& message);
  void fail(ICLController& controller);
  bool ok() const { return ok_; }

  // Prints the report; returns the exit status (0 or 1).
  int print(bool json, const LogLines& log) const;

 private:
  std::string command_;
  std::string dir_;
  bool ok_ = true;
  std::string failure_;
  JsonObject error_;
  std::vector<std::string> lines_;
  JsonObject values_;
};

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tool
}  // namespace icl

#endif
