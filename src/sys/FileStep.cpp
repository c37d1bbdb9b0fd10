#include "sys/FileStep.h"

#include <stddef.h>

namespace icl {

const char* fileStepText(FileStep step) {
  static const char* const kTexts[] = {"",
                                       "creating",
                                       "examining",
                                       "setting the owner of",
                                       "setting the group of",
                                       "setting the permissions of",
                                       "writing",
                                       "syncing",
                                       "closing",
                                       "renaming",
                                       "opening the directory",
                                       "syncing the directory",
                                       "closing the directory"};
  static_assert(
      sizeof kTexts / sizeof kTexts[0] == static_cast<size_t>(FileStep::ClosingDirectory) + 1,
      "one text a step, in the steps' order");
  return kTexts[static_cast<size_t>(step)];
}

}  // namespace icl
