#ifndef ICL_TOOLS_OUTPUT_REPORT_H
#define ICL_TOOLS_OUTPUT_REPORT_H

// What one command found, printed at the end either as text (standard
// output on success, standard error on failure) or as one JSON object on
// standard output (SCHEMA.md). Commands add both forms side by side.

#include <optional>
#include <string>
#include <vector>

#include "ICLRoutines.h"
#include "Json.h"
#include "LogLines.h"

namespace icl {
namespace tool {

// The version of the JSON output; it changes only when a field changes
// meaning or goes away (new fields may come without it).
const int kJsonSchema = 1;

// The error object every failure carries in JSON: the library's error name,
// code and event code (null for a usage error, which has no such code) and
// the one-line message the text output shows.
std::string errorJson(const std::string& name, std::optional<int> code,
                      std::optional<std::string> event, const std::string& message);

class Report {
 public:
  // `dir` is null for a command that takes none; `log` holds the library's
  // lines of the run, and must outlive the report.
  Report(const std::string& command, std::optional<std::string> dir, bool json, bool quiet,
         const LogLines& log);

  // A line of the text output.
  void say(const std::string& line) { lines_.push_back(line); }
  // A warning about a success, shown on standard error unless --quiet; JSON
  // carries the same fact in a value.
  void note(const std::string& line) { notes_.push_back(line); }
  // What to do about a failure, shown after it unless --quiet; not in JSON.
  void hint(const std::string& line) { hints_.push_back(line); }
  // The values of the JSON output, after "schema", "command", "dir" and "ok".
  JsonObject& values() { return values_; }

  // Marks the run failed with the controller's error, or with `error` where
  // the tool found it without the library saying so. The summary says what
  // the error means, unless the command says it in `meaning`: a directory
  // that could not be examined is said to be that, with the library's
  // reason, whatever the command.
  void fail(ICLController& controller);
  void fail(ICLController& controller, TICLError error, const std::string& meaning = "");
  // Marks the run failed because its result leaves out what could not be
  // read: the text lines still go to standard output, as the result for
  // what could, and the failure with `details` to standard error. In JSON
  // the error is named "INCOMPLETE", without code or event code.
  void incomplete(const std::string& meaning, const std::vector<std::string>& details);
  bool ok() const { return ok_; }

  // Prints the report; returns the exit status (0 or 1).
  int print() const;

 private:
  std::string command_;
  std::optional<std::string> dir_;
  bool json_;
  bool quiet_;
  bool ok_ = true;
  bool partial_ = false;  // failed, yet the text lines are a result
  std::vector<std::string> details_;
  std::string failure_;
  std::string error_;
  std::vector<std::string> lines_;
  std::vector<std::string> notes_;
  std::vector<std::string> hints_;
  JsonObject values_;
  const LogLines& log_;
};

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tool
}  // namespace icl

#endif
