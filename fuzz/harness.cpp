// libFuzzer entry point of fuzz_<name>: runs the property ICL_FUZZ_PROPERTY
// (set per harness in CMakeLists.txt), the same check the test suite runs
// over every input in fuzz/corpus/<name>/.

#include <stdio.h>
#include <stdlib.h>

#include "properties/Properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string violation = icl::fuzz::ICL_FUZZ_PROPERTY(data, size);
  if (violation.empty()) return 0;
  fprintf(stderr, "property violated: %s\n", violation.c_str());
  abort();  // libFuzzer saves the input as a crash artifact
}
