#ifndef ICL_TOOLS_COMMANDS_COMMANDS_H
#define ICL_TOOLS_COMMANDS_COMMANDS_H

// One function per command. Each runs the library operation the command
// stands for and records the outcome in the report.

#include "cli/CommandLine.h"
#include "output/LogLines.h"
#include "output/Report.h"

namespace icl {
namespace tool {

void runShow(const Invocation& inv, Report& report, LogLines& log);
void runCheck(const Invocation& inv, Report& report, LogLines& log);
void runUpdate(const Invocation& inv, Report& report, LogLines& log);
void runRemove(const Invocation& inv, Report& report, LogLines& log);
void runNew(const Invocation& inv, Report& report, LogLines& log);
void runTestDir(const Invocation& inv, Report& report, LogLines& log);
void runDiskUsage(const Invocation& inv, Report& report, LogLines& log);
void runVersion(const Invocation& inv, Report& report, LogLines& log);

}  // namespace tool
}  // namespace icl

#endif
