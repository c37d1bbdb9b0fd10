// libFuzzer entry point. Arbitrary bytes as an existing label, rewritten in
// memory for every input and, for a fraction of inputs, through UpdateICL
// and RemoveAccessPathIDfromICL on a real directory.
// The property checks live in properties/ so that the regression test runs
// the very same checks over the checked-in corpus.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "properties/RewriteProperty.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string violation = icl::fuzz::checkRewrite(data, size);
  if (violation.empty() && icl::fuzz::rewriteOnDiskSelected(data, size)) {
    violation = icl::fuzz::checkRewriteOnDisk(data, size);
  }
  if (!violation.empty()) {
    fprintf(stderr, "fuzz_rewrite: property violated: %s\n", violation.c_str());
    abort();  // libFuzzer saves the input as a crash artifact
  }
  return 0;
}
