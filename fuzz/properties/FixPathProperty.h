#ifndef ICL_FUZZ_PROPERTIES_FIXPATHPROPERTY_H
#define ICL_FUZZ_PROPERTIES_FIXPATHPROPERTY_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace icl {
namespace fuzz {

// The bytes up to the first NUL as a path for ICLController::fixPath. A
// relative one is refused and left untouched; an absolute one comes out no
// longer than it went in, starting with '/', without '\', "//", "/./" or
// "/../" (a last "." or ".." component stays), equal to an independent
// canonical form, and a second pass changes nothing.
std::string checkFixPath(const uint8_t* data, size_t size);

}  // namespace fuzz
}  // namespace icl

#endif
