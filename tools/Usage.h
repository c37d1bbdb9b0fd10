#ifndef ICL_TOOLS_USAGE_H
#define ICL_TOOLS_USAGE_H

#include <string>

namespace icl {
namespace tool {

// `icl --help` when `command` is empty, else `icl COMMAND --help`; on
// standard output.
void printHelp(const std::string& command);

// The one-line complaint, the command's usage line and where to read more;
// on standard error.
void printUsageError(const std::string& command, const std::string& error);

}  // namespace tool
}  // namespace icl

#endif
