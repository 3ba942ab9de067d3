// One logger at a time: on demand, replacement, the single-instance rule,
// process-wide settings.
#include <gtest/gtest.h>

#include <memory>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "Base/FFmpegException.h"
#include "FFLog/FFLog.h"

namespace vexa {
namespace {

TEST(LoggerLifecycle, SecondApplicationLoggerIsRefused) {
  TFFLogger first;
  try {
    TFFLogger second;
    FAIL() << "second logger was created";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
  EXPECT_EQ(&GetFFLogger(), &first);
}

TEST(LoggerLifecycle, OnDemandLoggerIsReplacedByTheApplicationLogger) {
  TFFLogger& onDemand = GetFFLogger();
  EXPECT_EQ(&GetFFLogger(), &onDemand);
  onDemand.SetOnLog([](const void*, uint32_t, TLogLevel, const std::string&) {});
  {
    TFFLogger app;  // frees the logger created on demand
    EXPECT_EQ(&GetFFLogger(), &app);
    // Nothing of the replaced logger carries over.
    EXPECT_FALSE(app.OnLog());
    EXPECT_TRUE(app.Inactive());
  }
  // Once the application logger is gone, a new one is made on demand, and it
  // never counts against the single-instance rule.
  GetFFLogger().SetLogLevel(llWarning);
  EXPECT_NO_THROW(TFFLogger another);
}

TEST(LoggerLifecycle, LoggingWithoutALoggerCreatesOneOnDemand) {
  { TFFLogger app; }
  Log(nullptr, llError, "nobody listens");  // creates one, inactive
  EXPECT_TRUE(GetFFLogger().Inactive());
  EXPECT_TRUE(GetFFLogger().Active());
  EXPECT_TRUE(GetFFLogger().TriggerEventInMainThread());
  EXPECT_FALSE(GetFFLogger().OnLog());
}

TEST(LoggerLifecycle, NewLoggerTakesItsLevelFromTheMediaFilterLevel) {
  HookMediaLog();
  {
    TFFLogger first;
    EXPECT_EQ(first.About(), "");
    EXPECT_EQ(first.Version(), "5.2");
    first.SetLogLevel(llDebug);
    first.SetLogLevel(llVerbose);
    EXPECT_EQ(av_log_get_level(), AV_LOG_VERBOSE);
  }
  TFFLogger second;
  EXPECT_EQ(second.LogLevel(), llVerbose);
  second.SetLogLevel(llInfo);
  EXPECT_EQ(av_log_get_level(), AV_LOG_INFO);
}

TEST(LoggerLifecycle, LevelIsAppliedWhenTheHookIsInstalled) {
  TFFLogger logger;
  HookMediaLog();
  logger.SetLogLevel(llInfo);
  UnhookMediaLog();
  logger.SetLogLevel(llError);
  EXPECT_EQ(av_log_get_level(), AV_LOG_INFO);
  HookMediaLog();
  EXPECT_EQ(av_log_get_level(), AV_LOG_ERROR);
  logger.SetLogLevel(llInfo);
}

TEST(LoggerLifecycle, FileSettingsAreProcessWideAndANewLoggerStartsInactive) {
  {
    TFFLogger first;
    first.SetLogFile("/tmp/unused-vexa-log.txt");
    first.SetLogToFile(true);
    EXPECT_FALSE(first.Inactive());
  }
  TFFLogger second;
  EXPECT_EQ(second.LogFile(), "/tmp/unused-vexa-log.txt");
  EXPECT_TRUE(second.LogToFile());
  EXPECT_TRUE(second.Inactive());  // until recomputed
  second.SetActive(true);
  EXPECT_FALSE(second.Inactive());
  second.SetLogToFile(false);
  EXPECT_TRUE(second.Inactive());
  second.SetLogFile("");
}

}  // namespace
}  // namespace vexa
