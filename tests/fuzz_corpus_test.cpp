// The fuzz harnesses' property checks over every checked-in corpus input
// (fuzz/corpus/<harness>/): the seeds, and every input that once broke a
// property, so that a finding stays a regression test. Also pins the
// independent readings the properties compare against to the documented
// samples, so that a wrong reference cannot hide a wrong library.

#include <dirent.h>
#include <stdint.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "properties/FixPathProperty.h"
#include "properties/LabelReadProperty.h"
#include "properties/LineReaderProperty.h"
#include "properties/Reference.h"
#include "properties/RewriteProperty.h"
#include "properties/SanitizeProperty.h"

namespace icl {
namespace test {
namespace {

using Property = std::string (*)(const uint8_t*, size_t);

// The harness drives the controller for a fraction of inputs only; here
// every input takes both ways.
std::string checkRewriteBothWays(const uint8_t* data, size_t size) {
  std::string violation = fuzz::checkRewrite(data, size);
  return violation.empty() ? fuzz::checkRewriteOnDisk(data, size) : violation;
}

struct Harness {
  const char* name;  // fuzz_<name>, corpus in fuzz/corpus/<name>
  Property property;
};

void PrintTo(const Harness& harness, std::ostream* out) { *out << harness.name; }

const Harness kHarnesses[] = {
    {"label_read", fuzz::checkLabelRead}, {"rewrite", checkRewriteBothWays},
    {"sanitize", fuzz::checkSanitize},    {"fixpath", fuzz::checkFixPath},
    {"line_reader", fuzz::checkLineReader},
};

// Names in `dir` of the given kind, sorted.
std::vector<std::string> entries(const std::string& dir, bool directories) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    struct stat st;
    if (name[0] == '.' || stat((dir + "/" + name).c_str(), &st) != 0) continue;
    if (directories ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

class FuzzCorpus : public ::testing::TestWithParam<Harness> {};

TEST_P(FuzzCorpus, EveryInputKeepsTheProperties) {
  const std::string dir = std::string(ICL_FUZZ_CORPUS_DIR) + "/" + GetParam().name;
  const std::vector<std::string> files = entries(dir, false);
  EXPECT_FALSE(files.empty()) << "no corpus in " << dir;
  for (const std::string& name : files) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    ASSERT_TRUE(in) << name;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(GetParam().property(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
              "")
        << "corpus input " << dir << "/" << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzCorpus, ::testing::ValuesIn(kHarnesses),
                         [](const ::testing::TestParamInfo<Harness>& param) {
                           return std::string(param.param.name);
                         });

TEST(FuzzCorpusLayout, EveryCorpusDirectoryBelongsToAHarness) {
  for (const std::string& name : entries(ICL_FUZZ_CORPUS_DIR, true)) {
    EXPECT_TRUE(std::any_of(std::begin(kHarnesses), std::end(kHarnesses),
                            [&name](const Harness& h) { return name == h.name; }))
        << "fuzz/corpus/" << name << " is run by no property";
  }
}

TEST(FuzzReference, AgreesWithTheDocumentedSamples) {
  const struct {
    const char* path;
    const char* canonical;
  } paths[] = {
      {"/a//b/", "/a/b/"}, {"\\srv\\ic\\cache1", "/srv/ic/cache1"}, {"/a/./b/../c", "/a/c"},
      {"/a/../../b", "/b"}, {"/../x", "/x"}, {"/a/..", "/a/.."}, {"/a/.", "/a/."}, {"/", "/"},
      {"//", "/"}, {"\\", "/"}, {"/.x/..x/...", "/.x/..x/..."}, {"/a/../", "/"},
  };
  for (const auto& c : paths) EXPECT_EQ(fuzz::referenceFixPath(c.path), c.canonical) << c.path;

  EXPECT_EQ(fuzz::referenceNormalise("  IndexCachePoolId = 12   # pool"), "INDEXCACHEPOOLID=12");
  EXPECT_EQ(fuzz::referenceNormalise("USED_BY_ACCESSPATHID: 7 #any text"),
            "USED_BY_ACCESSPATHID:7");
  EXPECT_EQ(fuzz::referenceNormalise(std::string(1030, 'y')), std::string(1022, 'Y'));
  EXPECT_EQ(fuzz::referenceNormalise(std::string(1023, ' ') + "x"), "");
  EXPECT_EQ(fuzz::referenceNormalise("a b#c", 2), "A");

  int32_t id = 0;
  EXPECT_TRUE(fuzz::referenceId("\t-2147483648x", id));
  EXPECT_EQ(id, INT32_MIN);
  EXPECT_FALSE(fuzz::referenceId("4294967299", id));
  EXPECT_FALSE(fuzz::referenceId("+-1", id));
  int64_t marker = 0;
  EXPECT_TRUE(fuzz::referenceMarker("18446744073709551615", marker));
  EXPECT_EQ(marker, -1);
  EXPECT_TRUE(fuzz::referenceMarker("-9223372036854775808", marker));
  EXPECT_EQ(marker, INT64_MIN);
  EXPECT_FALSE(fuzz::referenceMarker("18446744073709551616", marker));
  EXPECT_FALSE(fuzz::referenceMarker("-9223372036854775809", marker));

  // Two pool keys with the own line between them: the scan stops there.
  const std::vector<std::string> lines = {"INDEXCACHEPOOLID=1", "INDEXCACHEID=7",
                                          "INDEXCACHETIMESTAMPMARKER=77",
                                          "USED_BY_ACCESSPATHID:12", "INDEXCACHEPOOLID=2"};
  EXPECT_EQ(fuzz::referenceRead(lines, 12).pool, 1);
  EXPECT_EQ(fuzz::referenceRead(lines, 13).pool, 2);
  EXPECT_EQ(fuzz::referenceLines(std::string("\n\nA\r\rB\0C\r\n", 10)),
            (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(fuzz::referenceAdd({"# c", "used_by_accesspathid : 12 # old", "X"}, 77, 12, "h\ni"),
            "# c\nUSED_BY_ACCESSPATHID: 12 #h i\nX\nINDEXCACHETIMESTAMPMARKER = 77\n");
  EXPECT_EQ(fuzz::referenceRemove({"A", "USED_BY_ACCESSPATHID:12", "USED_BY_ACCESSPATHID:123"}, 12),
            "A\nUSED_BY_ACCESSPATHID:123\n");
}

}  // namespace
}  // namespace test
}  // namespace icl
