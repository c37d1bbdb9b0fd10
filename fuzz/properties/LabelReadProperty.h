#ifndef ICL_FUZZ_PROPERTIES_LABELREADPROPERTY_H
#define ICL_FUZZ_PROPERTIES_LABELREADPROPERTY_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace icl {
namespace fuzz {

// The bytes as a label file: ReadDataFromICL, and InternalReadDataFromICL
// for an access path the label lists, agree with an independent reading of
// the same bytes: result, error code, pool, cache, marker, whether the
// caller's line was found, and the log lines (the mask among them). "" when
// every property holds, else the first one violated.
std::string checkLabelRead(const uint8_t* data, size_t size);

}  // namespace fuzz
}  // namespace icl

#endif
