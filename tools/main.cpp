// icl: look at and maintain index cache labels from the command line.
// Exit status: 0 success, 1 the operation failed, 2 a usage error.

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "CommandLine.h"
#include "Commands.h"
#include "LogLines.h"
#include "Report.h"
#include "Usage.h"

namespace {

using icl::tool::Invocation;
using icl::tool::LogLines;
using icl::tool::Report;

struct Runner {
  const char* command;
  void (*run)(const Invocation&, Report&);
};

const Runner kRunners[] = {
    {"show", icl::tool::runShow},         {"check", icl::tool::runCheck},
    {"update", icl::tool::runUpdate},     {"remove", icl::tool::runRemove},
    {"new", icl::tool::runNew},           {"test-dir", icl::tool::runTestDir},
    {"du", icl::tool::runDiskUsage},
};

int runCommand(const Invocation& inv) {
  LogLines log(inv.verbose);
  Report report(inv.command, inv.dir);
  for (const Runner& r : kRunners) {
    if (inv.command == r.command) r.run(inv, report);
  }
  return report.print(inv.json, log);
}

}  // namespace

int main(int argc, char** argv) {
  const icl::tool::ParsedCommandLine parsed = icl::tool::parseCommandLine(argc, argv);
  const Invocation& inv = parsed.invocation;
  int status;
  if (!parsed.error.empty()) {
    icl::tool::printUsageError(inv.command, parsed.error);
    status = 2;
  } else if (inv.help) {
    icl::tool::printHelp(inv.command);
    status = 0;
  } else {
    status = runCommand(inv);
  }
  // A result that never reached its reader (a full disk, a closed pipe) is
  // no success.
  if (fflush(stdout) != 0) {
    int err = errno;
    fprintf(stderr, "icl: cannot write the output: %s\n", strerror(err));
    return 1;
  }
  return status;
}
