#ifndef ICL_FUZZ_PROPERTIES_REWRITEPROPERTY_H
#define ICL_FUZZ_PROPERTIES_REWRITEPROPERTY_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace icl {
namespace fuzz {

// The bytes as an existing label, with pool, cache and (mostly) timestamp
// key lines spliced in at places drawn from the input. The rewrite of the
// loaded text (rewriteLabelText): adding yields a label that reads with the
// controller's identity and lists its access path once, in its place;
// removing yields one that does not list it; every other non-empty line
// survives in order, byte for byte; both equal an independent rewrite.
std::string checkRewrite(const uint8_t* data, size_t size);

// The same label driven through UpdateICL and then RemoveAccessPathIDfromICL
// on a real directory: result, error code and the bytes left on disk agree
// with an independent reading and rewrite.
std::string checkRewriteOnDisk(const uint8_t* data, size_t size);

// Whether the harness also drives the controller for this input: about one
// in sixteen, since every change of the label syncs it to disk.
bool rewriteOnDiskSelected(const uint8_t* data, size_t size);

}  // namespace fuzz
}  // namespace icl

#endif
