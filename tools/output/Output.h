#ifndef ICL_TOOLS_OUTPUT_OUTPUT_H
#define ICL_TOOLS_OUTPUT_OUTPUT_H

// Everything icl prints goes through here, so that a result that never
// reached its reader (a full disk, a closed pipe) is never taken for
// success, and no raw control byte reaches a terminal.

#include <string>

namespace icl {
namespace tool {

enum class Stream { Out, Err };

// Writes `text` as it is; a failure is remembered for finishOutput.
void write(Stream stream, const std::string& text);
// printable(text) and a line feed.
void writeLine(Stream stream, const std::string& text);
// Feedback on standard error that is no result (a wait notice, the
// progress line), written as it is: a failure to show it fails nothing.
void writeNotice(const std::string& text);

// Flushes standard output. When a result could not be written, says so on
// standard error (if that still works) and answers 1 for a status of 0;
// otherwise answers `status`.
int finishOutput(int status);

}  // namespace tool
}  // namespace icl

#endif
