#include <gtest/gtest.h>

#include <string>

#include "FFUtils/FFUtils.h"
#include "Support/LogRecorder.h"

namespace vexa {
namespace {

struct TLevelCase {
  const char* Text;
  TLogLevel Level;
};

class LogLevelOptionTest : public ::testing::TestWithParam<TLevelCase> {};

TEST_P(LogLevelOptionTest, SetsTheLoggerLevel) {
  test::TLogRecorder log(GetParam().Level == llInfo ? llDebug : llInfo);
  EXPECT_EQ(0, SetLogLevelOption(GetParam().Text));
  EXPECT_EQ(GetParam().Level, GetFFLogger().LogLevel()) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(
    NamesAndNumbers, LogLevelOptionTest,
    ::testing::Values(TLevelCase{"quiet", llQuiet}, TLevelCase{"panic", llPanic},
                      TLevelCase{"fatal", llFatal}, TLevelCase{"error", llError},
                      TLevelCase{"warning", llWarning}, TLevelCase{"info", llInfo},
                      TLevelCase{"verbose", llVerbose}, TLevelCase{"debug", llDebug},
                      TLevelCase{"24", llWarning}, TLevelCase{"48", llDebug},
                      TLevelCase{"-8", llQuiet}, TLevelCase{"0", llPanic},
                      TLevelCase{"31", llWarning}, TLevelCase{"32", llInfo},
                      TLevelCase{"1000", llDebug}, TLevelCase{"-1000", llQuiet},
                      TLevelCase{"99999999999999999999", llDebug}));

const char* const LevelNames[] = {"quiet", "panic",   "fatal",   "error",
                                  "warning", "info", "verbose", "debug"};

class InvalidLogLevelTest : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidLogLevelTest, ListsTheLevelsAndLeavesTheLevel) {
  test::TLogRecorder log(llVerbose);
  ClearOptionErrorText();
  const std::string text = GetParam();
  EXPECT_EQ(-22, SetLogLevelOption(text));
  EXPECT_EQ(llVerbose, GetFFLogger().LogLevel());

  std::string expected = "Invalid loglevel \"" + text + "\". Possible levels are numbers or:\r\n";
  for (const char* name : LevelNames) expected += std::string("\"") + name + "\"\r\n";
  EXPECT_EQ(expected, OptionErrorText());

  // The logged text has single line feeds.
  int errors = 0;
  for (const auto& [level, msg] : log.Lines()) {
    if (level != llError) continue;
    ++errors;
    EXPECT_EQ(std::string::npos, msg.find('\r'));
    EXPECT_EQ(0u, msg.find("Invalid loglevel \"" + text + "\". Possible levels are numbers or:\n"
                           "\"quiet\"\n\"panic\"\n"));
    EXPECT_NE(std::string::npos, msg.find("\"verbose\"\n\"debug\""));
  }
  EXPECT_EQ(1, errors);
}

INSTANTIATE_TEST_SUITE_P(Texts, InvalidLogLevelTest,
                         ::testing::Values("loud", "Debug", "", "24abc", "1.5", "0x10"));

}  // namespace
}  // namespace vexa
