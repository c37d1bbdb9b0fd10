#ifndef ICL_FUZZ_PROPERTIES_SANITIZEPROPERTY_H
#define ICL_FUZZ_PROPERTIES_SANITIZEPROPERTY_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace icl {
namespace fuzz {

// The first two bytes (little-endian) choose a destination size from 1 to
// 2048, the rest up to the first NUL is the line. sanitizeString's output
// fits the destination, holds no space, no '#' and nothing that toupper
// would change, is a subsequence of the upper-cased line, and equals an
// independent normalisation.
std::string checkSanitize(const uint8_t* data, size_t size);

}  // namespace fuzz
}  // namespace icl

#endif
