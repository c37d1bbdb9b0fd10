#ifndef ICL_FUZZ_PROPERTIES_PROPERTIES_H
#define ICL_FUZZ_PROPERTIES_PROPERTIES_H

// What must hold for any input, judged against the independent readings of
// Reference.h. Each answers "" or names the first property the input breaks.

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace icl::fuzz {

// The bytes as a label, read by the controller (result, error code, the
// identity found, the Error line of an invalid label), then rewritten: added
// to, then removed from.
std::string checkLabel(const uint8_t* data, size_t size);
// Two bytes of destination size, then a line for sanitizeString.
std::string checkSanitize(const uint8_t* data, size_t size);
std::string checkFixPath(const uint8_t* data, size_t size);
// The bytes as a text file: readln, readNonCommentLine, getch and a copy.
std::string checkLineReader(const uint8_t* data, size_t size);

}  // namespace icl::fuzz

#endif
