#ifndef ICL_TOOLS_TESTS_RUNTOOL_H
#define ICL_TOOLS_TESTS_RUNTOOL_H

#include <string>
#include <vector>

namespace icl {
namespace test {

struct ToolRun {
  int status;  // the exit status; 128 + signal number when killed
  std::string out;
  std::string err;
};

// Runs the built icl with `args` and waits for it. `stdoutPath`, when not
// empty, receives its standard output instead of the capture.
ToolRun runTool(const std::vector<std::string>& args, const std::string& stdoutPath = "");

// `text` cut into lines, without their line feeds.
std::vector<std::string> linesOf(const std::string& text);

}  // namespace test
}  // namespace icl

#endif
