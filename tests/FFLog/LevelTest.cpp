#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "FFLog/FFLog.h"

namespace vexa {
namespace {

struct TLevelRow {
  TLogLevel Level;
  int Media;
  const char* Name;
};

const TLevelRow kLevelTable[] = {
    {llQuiet, -8, "Quiet"}, {llPanic, 0, "Panic"},    {llFatal, 8, "Fatal"},      {llError, 16, "Error"},
    {llWarning, 24, "Warning"}, {llInfo, 32, "Info"}, {llVerbose, 40, "Verbose"}, {llDebug, 48, "Debug"},
};

TEST(LogLevelMapping, EachLevelMapsToTheMediaLevelAndBack) {
  for (const TLevelRow& row : kLevelTable) {
    SCOPED_TRACE(row.Name);
    EXPECT_EQ(LogLevelToMedia(row.Level), row.Media);
    EXPECT_EQ(MediaToLogLevel(row.Media), row.Level);
    EXPECT_STREQ(LogLevelName(row.Level), row.Name);
  }
}

struct TMediaRow {
  int Media;
  TLogLevel Expected;
};

class MediaLevelEdges : public ::testing::TestWithParam<TMediaRow> {};

TEST_P(MediaLevelEdges, TruncatesTowardZeroAndClamps) {
  EXPECT_EQ(MediaToLogLevel(GetParam().Media), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Edges, MediaLevelEdges,
                         ::testing::Values(TMediaRow{INT_MIN, llQuiet}, TMediaRow{-16, llQuiet},
                                           TMediaRow{-9, llQuiet}, TMediaRow{-8, llQuiet},
                                           TMediaRow{-7, llPanic}, TMediaRow{-1, llPanic},
                                           TMediaRow{0, llPanic}, TMediaRow{7, llPanic},
                                           TMediaRow{8, llFatal}, TMediaRow{20, llError},
                                           TMediaRow{47, llVerbose}, TMediaRow{48, llDebug},
                                           TMediaRow{56, llDebug}, TMediaRow{INT_MAX, llDebug}));

TEST(LogLevelMapping, OutOfRangeLevelsAreClamped) {
  EXPECT_EQ(LogLevelToMedia(static_cast<TLogLevel>(-3)), -8);
  EXPECT_EQ(LogLevelToMedia(static_cast<TLogLevel>(42)), 48);
  EXPECT_STREQ(LogLevelName(static_cast<TLogLevel>(42)), "Debug");
}

}  // namespace
}  // namespace vexa
