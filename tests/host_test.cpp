// The host services stand-in: log lines, platform information and settings.

#include "Testing.h"
#include "ZUPlatformInfo.h"

namespace icl::test {
namespace {

TEST(EvEvent, HandsFormattedLinesToTheSinkCutToTheirLimit) {
  EvEvent event;
  const std::string huge(2 * EV_MAX_MESSAGE, 'm');
  LogCapture log;
  EXPECT_EQ(event.Debug("f", "value [%d] name [%s]", 42, "x"), 19);
  EXPECT_EQ(event.Error("h", "[%s]", huge.c_str()), EV_MAX_MESSAGE);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"D f: value [42] name [x]",
                                                   "E h: [" + huge.substr(0, EV_MAX_MESSAGE - 1)}));
}

TEST(PlatformInfo, NamesTheHostAndAnswersOnlyForSettingsThatAreSet) {
  char system[256] = {}, name[256], small[3];
  ASSERT_EQ(gethostname(system, sizeof system - 1), 0);
  ZUPlatformInfo info;
  EXPECT_EQ(info.setFocus(ZUPI_Focus::getFocus()), 0);
  EXPECT_EQ(info.getClientHostName(info.getPhysicalMachine(), name, sizeof name), 0);
  EXPECT_STREQ(name, system);
  EXPECT_EQ(info.getClientHostName("abcdef", small, sizeof small), 0);
  EXPECT_STREQ(small, "ab");
  EXPECT_EQ(info.getClientHostName("", small, sizeof small), -1);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(info.getClientHostName("abc", small, 0), -1);
  EXPECT_EQ(info.getClientHostName(nullptr, small, 3), -1);
  int value = 0;
  ZUPlatformInfo::setRegInt("~Keeper", "a", 3);
  ZUPlatformInfo::setRegInt("~Keeper", "b", 4);
  EXPECT_NE(info.getRegInt("~Keeper", "a", &value), 0);
  EXPECT_EQ(info.getRegInt("~Other", "a", &value), 0);
  EXPECT_EQ(info.getRegInt("~Keeper", nullptr, &value), 0);
  EXPECT_EQ(value, 3);
  ZUPlatformInfo::clearRegInt("~Keeper", "a");
  ZUPlatformInfo::clearRegInt("~Keeper", nullptr);  // neither one setting nor all
  EXPECT_EQ(info.getRegInt("~Keeper", "a", &value), 0);
  EXPECT_NE(info.getRegInt("~Keeper", "b", &value), 0);
  ZUPlatformInfo::clearRegInt(nullptr, nullptr);
  EXPECT_EQ(info.getRegInt("~Keeper", "b", &value), 0);
}

}  // namespace
}  // namespace icl::test
