// Every checked-in fuzz input (fuzz/corpus/<harness>/) through its harness's
// property: the seeds, and each input that once broke a property.

#include <map>

#include "Testing.h"
#include "properties/Properties.h"

namespace icl::test {
namespace {

TEST(FuzzCorpus, EveryInputKeepsItsHarnessProperty) {
  const std::map<std::string, std::string (*)(const uint8_t*, size_t)> properties = {
      {"label", fuzz::checkLabel},
      {"sanitize", fuzz::checkSanitize},
      {"fixpath", fuzz::checkFixPath},
      {"line_reader", fuzz::checkLineReader}};
  for (const auto& dir : std::filesystem::directory_iterator(ICL_FUZZ_CORPUS_DIR)) {
    const std::string harness = dir.path().filename();
    ASSERT_EQ(properties.count(harness), 1u) << "no property for fuzz/corpus/" << harness;
    int inputs = 0;
    for (const auto& input : std::filesystem::directory_iterator(dir.path())) {
      const std::string bytes = readFile(input.path());
      EXPECT_EQ(
          properties.at(harness)(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "")
          << input.path();
      ++inputs;
    }
    EXPECT_GT(inputs, 0) << harness;
  }
}

}  // namespace
}  // namespace icl::test
