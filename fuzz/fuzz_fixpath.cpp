// libFuzzer entry point. Arbitrary absolute and relative paths for fixPath.
// The property check lives in properties/ so that the regression test runs
// the very same check over the checked-in corpus.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "properties/FixPathProperty.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string violation = icl::fuzz::checkFixPath(data, size);
  if (!violation.empty()) {
    fprintf(stderr, "fuzz_fixpath: property violated: %s\n", violation.c_str());
    abort();  // libFuzzer saves the input as a crash artifact
  }
  return 0;
}
