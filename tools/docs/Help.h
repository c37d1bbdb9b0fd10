#ifndef ICL_TOOLS_DOCS_HELP_H
#define ICL_TOOLS_DOCS_HELP_H

// The help texts (HelpText.h) rendered for a terminal, for a usage error,
// as the manual page and as bash completion.

#include <string>

#include "cli/CommandLine.h"

namespace icl {
namespace tool {

// `icl --help` when `command` is empty, else `icl COMMAND --help`; on
// standard output.
void printHelp(const std::string& command);

// The one-line complaint, the command's usage and where to read more, on
// standard error; with --json, one JSON object on standard output instead.
void printUsageError(const Invocation& inv, const std::string& error);

// icl.1 in man(7) format, on standard output.
void printManPage();

// A bash completion script for icl, on standard output.
void printBashCompletion();

}  // namespace tool
}  // namespace icl

#endif
