#ifndef ICL_FUZZ_PROPERTIES_LINEREADERPROPERTY_H
#define ICL_FUZZ_PROPERTIES_LINEREADERPROPERTY_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace icl {
namespace fuzz {

// The bytes as a file for ZUPITextFileOpen: the lines readln() hands out
// equal a split on runs of CR, LF and NUL (with one empty line at the end
// when the data ends in terminators), on the first pass, on a second pass
// and in a copy of the reader; readNonCommentLine() skips exactly the
// comment lines; getch() then returns the bytes with every terminator cut
// to NUL. "" when every property holds, else the first one violated.
std::string checkLineReader(const uint8_t* data, size_t size);

}  // namespace fuzz
}  // namespace icl

#endif
