// The host services stand-in: logging sink, platform information, exception.

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "EvEvent.h"
#include "LogCapture.h"
#include "ZUPlatformInfo.h"
#include "ZuException.h"

namespace icl {
namespace test {
namespace {

TEST(EvEventLogging, HandsLevelFunctionAndFormattedMessageToTheSink) {
  LogCapture log;
  EvEvent event;
  EXPECT_EQ(event.Debug("f::g", "value [%d] name [%s]", 42, "x"), 19);
  event.Error("h", "%s", "boom");
  EXPECT_EQ(log.lines(), (std::vector<LogLine>{debugLine("f::g", "value [42] name [x]"),
                                               errorLine("h", "boom")}));
}

TEST(EvEventLogging, ALongMessageIsCutNeverOverflowed) {
  LogCapture log;
  EvEvent event;
  std::string huge(3 * EV_MAX_MESSAGE, 'm');
  EXPECT_EQ(event.Error("f", "[%s]", huge.c_str()), EV_MAX_MESSAGE);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].message, "[" + std::string(EV_MAX_MESSAGE - 1, 'm'));
}

TEST(EvEventLogging, DefaultSinkWritesErrorsToStderrAndDropsDebugLines) {
  EvSetLogSink(nullptr, nullptr);
  EvEvent event;
  testing::internal::CaptureStderr();
  event.Debug("dbg::fn", "hidden");
  event.Error("err::fn", "shown [%d]", 7);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("hidden"), std::string::npos);
  std::string expectedTail = " " + std::to_string(getpid()) + " err::fn: shown [7]\n";
  ASSERT_GE(err.size(), expectedTail.size());
  EXPECT_EQ(err.substr(err.size() - expectedTail.size()), expectedTail);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  // An ISO 8601 UTC time stamp leads the line.
  EXPECT_EQ(err[4], '-');
  EXPECT_EQ(err[10], 'T');
  EXPECT_EQ(err[19], 'Z');
}

struct Retirable {
  std::atomic<bool> retired{false};
  std::atomic<int> callsAfterRetire{0};
  std::atomic<int> calls{0};
};

void countingSink(EvLogLevel, const char*, const char*, void* context) {
  auto* r = static_cast<Retirable*>(context);
  if (r->retired.load()) r->callsAfterRetire.fetch_add(1);
  r->calls.fetch_add(1);
}

TEST(EvEventLogging, ARetiredSinkIsNeverCalledAgainWhileOthersLog) {
  Retirable first;
  Retirable second;
  EvSetLogSink(countingSink, &first);
  std::atomic<bool> stop{false};
  std::vector<std::thread> loggers;
  for (int i = 0; i < 4; ++i) {
    loggers.emplace_back([&stop] {
      EvEvent event;
      while (!stop.load()) event.Debug("t", "line");
    });
  }
  while (first.calls.load() < 1000) std::this_thread::yield();
  EvSetLogSink(countingSink, &second);
  first.retired.store(true);
  while (second.calls.load() < 1000) std::this_thread::yield();
  stop.store(true);
  for (std::thread& t : loggers) t.join();
  EvSetLogSink(nullptr, nullptr);
  EXPECT_EQ(first.callsAfterRetire.load(), 0);
}

TEST(PlatformInfo, ClientHostNameIsTheSystemHostNameCutToTheBuffer) {
  char system[256] = {};
  ASSERT_EQ(gethostname(system, sizeof system - 1), 0);
  ZUPlatformInfo info;
  info.setFocus(ZUPI_Focus::getFocus());
  const char* machine = info.getPhysicalMachine();
  EXPECT_STREQ(machine, system);

  char name[256];
  EXPECT_EQ(info.getClientHostName(machine, name, sizeof name), 0);
  EXPECT_STREQ(name, system);

  char tiny[3] = {'?', '?', '?'};
  info.getClientHostName("abcdef", tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "ab");

  char empty[8] = "junk";
  EXPECT_EQ(info.getClientHostName("", empty, sizeof empty), -1);
  EXPECT_STREQ(empty, "");
}

TEST(PlatformInfo, SettingsStoreAnswersOnlyForSetValues) {
  ZUPlatformInfo::clearRegInt(nullptr, nullptr);
  ZUPlatformInfo info;
  int value = 0;
  EXPECT_EQ(info.getRegInt("~Keeper", "nAddZukpLogForIcdSize", &value), 0);
  EXPECT_EQ(value, 0);
  ZUPlatformInfo::setRegInt("~Keeper", "nAddZukpLogForIcdSize", 3);
  EXPECT_NE(info.getRegInt("~Keeper", "nAddZukpLogForIcdSize", &value), 0);
  EXPECT_EQ(value, 3);
  value = 0;
  EXPECT_EQ(info.getRegInt("~Other", "nAddZukpLogForIcdSize", &value), 0);
  EXPECT_EQ(value, 0);
  ZUPlatformInfo::clearRegInt("~Keeper", "nAddZukpLogForIcdSize");
  EXPECT_EQ(info.getRegInt("~Keeper", "nAddZukpLogForIcdSize", &value), 0);
}

TEST(ZuExceptionTest, CarriesItsTextThroughAThrow) {
  try {
    throw ZuException("walk interrupted");
  } catch (const ZuException& e) {
    EXPECT_EQ(e.formatError(), "walk interrupted");
  }
}

}  // namespace
}  // namespace test
}  // namespace icl
