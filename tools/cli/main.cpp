// icl: look at and maintain index cache labels from the command line.
// Exit status: 0 success, 1 the operation failed (or its result could not
// be written), 2 a usage error.

#include <string.h>

#include <optional>
#include <string>

#include "CommandLine.h"
#include "CommandTable.h"
#include "commands/Commands.h"
#include "docs/Help.h"
#include "output/LogLines.h"
#include "output/Output.h"
#include "output/Report.h"

namespace {

using icl::tool::Invocation;
using icl::tool::LogLines;
using icl::tool::Report;

struct Runner {
  const char* command;
  void (*run)(const Invocation&, Report&, LogLines&);
};

const Runner kRunners[] = {
    {"show", icl::tool::runShow},     {"check", icl::tool::runCheck},
    {"update", icl::tool::runUpdate}, {"remove", icl::tool::runRemove},
    {"new", icl::tool::runNew},       {"test-dir", icl::tool::runTestDir},
    {"du", icl::tool::runDiskUsage},  {"version", icl::tool::runVersion},
};

int runCommand(const Invocation& inv) {
  LogLines log(inv.verbose);
  const icl::tool::CommandSpec* spec = icl::tool::findCommand(inv.command);
  const bool takesDir = spec != nullptr && spec->operand == icl::tool::Operand::Dir;
  Report report(inv.command, takesDir ? std::optional<std::string>(inv.dir) : std::nullopt,
                inv.json, inv.quiet, log);
  for (const Runner& r : kRunners) {
    if (inv.command == r.command) r.run(inv, report, log);
  }
  return report.print();
}

// The build makes the manual page and the bash completion with
// `icl --generate man|bash-completion`; not for operators, so not in the help.
int generate(const char* what) {
  if (strcmp(what, "man") == 0) {
    icl::tool::printManPage();
  } else if (strcmp(what, "bash-completion") == 0) {
    icl::tool::printBashCompletion();
  } else {
    return 2;
  }
  return icl::tool::finishOutput(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--generate") == 0) return generate(argv[2]);
  const icl::tool::ParsedCommandLine parsed = icl::tool::parseCommandLine(argc, argv);
  const Invocation& inv = parsed.invocation;
  int status;
  if (!parsed.error.empty()) {
    icl::tool::printUsageError(inv, parsed.error);
    status = 2;
  } else if (inv.help) {
    icl::tool::printHelp(inv.command);
    status = 0;
  } else {
    status = runCommand(inv);
  }
  return icl::tool::finishOutput(status);
}
