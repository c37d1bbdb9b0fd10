// libFuzzer entry point. Arbitrary bytes as a file for the whole-file text reader.
// The property check lives in properties/ so that the regression test runs
// the very same check over the checked-in corpus.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "properties/LineReaderProperty.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string violation = icl::fuzz::checkLineReader(data, size);
  if (!violation.empty()) {
    fprintf(stderr, "fuzz_line_reader: property violated: %s\n", violation.c_str());
    abort();  // libFuzzer saves the input as a crash artifact
  }
  return 0;
}
