#ifndef ICL_TOOLS_COMMANDS_H
#define ICL_TOOLS_COMMANDS_H

// One function per command. Each runs the library operation the command
// stands for and records the outcome in the report.

#include "CommandLine.h"
#include "Report.h"

namespace icl {
namespace tool {

void runShow(const Invocation& inv, Report& report);
void runCheck(const Invocation& inv, Report& report);
void runUpdate(const Invocation& inv, Report& report);
void runRemove(const Invocation& inv, Report& report);
void runNew(const Invocation& inv, Report& report);
void runTestDir(const Invocation& inv, Report& report);
void runDiskUsage(const Invocation& inv, Report& report);

}  // namespace tool
}  // namespace icl

#endif
