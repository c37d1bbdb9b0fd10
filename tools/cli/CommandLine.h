#ifndef ICL_TOOLS_CLI_COMMANDLINE_H
#define ICL_TOOLS_CLI_COMMANDLINE_H

// The icl command line: `icl [GLOBAL OPTIONS] COMMAND [DIR] [OPTIONS]`.
// Global options (CommandTable.h) go before or after the command, the
// command's own after it; options before or after DIR, `--name value` or
// `--name=value`, and `--` before a DIR that starts with '-'. Anything
// doubtful is refused rather than guessed.

#include <stdint.h>

#include <optional>
#include <string>

namespace icl {
namespace tool {

struct Invocation {
  std::string command;  // "show", ..., "version", "help"; empty for `icl --help`
  std::string dir;
  std::string topic;  // help's COMMAND
  bool help = false;
  bool verbose = false;
  bool quiet = false;
  bool json = false;
  std::optional<std::string> host;
  std::optional<int32_t> pool;
  std::optional<int32_t> cache;
  std::optional<int32_t> path;
  std::optional<int64_t> marker;
  bool allowNew = false;
  std::optional<std::string> description;
  bool detail = false;
  std::optional<int> waitSeconds;
};

struct ParsedCommandLine {
  // On an error, as much as was understood: the command if it was known,
  // and `json` if --json stands anywhere before `--`.
  Invocation invocation;
  std::string error;  // one line; empty when the command line is usable
};

ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

// Strict decimal parsing: an optional '-', then digits only, in range.
// Empty when `text` is not such a number; `outOfRange` tells why.
std::optional<int64_t> parseDecimal(const std::string& text, int64_t min, int64_t max,
                                    bool& outOfRange);

// The longest wait --wait takes, in seconds.
const int kMaxWaitSeconds = 86400;

}  // namespace tool
}  // namespace icl

#endif
