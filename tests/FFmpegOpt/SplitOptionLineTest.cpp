#include <gtest/gtest.h>

#include "FFmpegOpt/FFmpegOpt.h"

namespace vexa {
namespace {

struct TSplitCase {
  const char* Name;
  std::string Line;
  std::vector<std::string> Tokens;
};

class SplitOptionLineTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitOptionLineTest, Tokens) { EXPECT_EQ(SplitOptionLine(GetParam().Line), GetParam().Tokens); }

const TSplitCase SplitCases[] = {
    {"ScreenInputDoubleBlank",
     " -f gdicapture  -capture_offset 10,10 -s 320x240 -r 15",
     {"-f", "gdicapture", "-capture_offset", "10,10", "-s", "320x240", "-r", "15"}},
    {"Empty", "", {}},
    {"OnlyBlanksAndTabs", " \t  \t", {}},
    {"TabsSeparate", "-a\t1\t\t-b", {"-a", "1", "-b"}},
    {"QuotedBlanks", "-vf \"scale=320:240, hflip\" -an", {"-vf", "scale=320:240, hflip", "-an"}},
    {"QuoteInsideToken", "-metadata title=\"My Demo\"x", {"-metadata", "title=My Demox"}},
    {"EmptyQuotedToken", "-a \"\" -b", {"-a", "", "-b"}},
    {"BackslashNotBeforeQuote", "C:\\dir\\file", {"C:\\dir\\file"}},
    {"DoubleBackslashBeforeColonKept", "\"movie=C\\\\:/logo.png [w]\"", {"movie=C\\\\:/logo.png [w]"}},
    {"BackslashQuoteIsQuote", "a\\\"b", {"a\"b"}},
    {"ThreeBackslashesQuote", "a\\\\\\\"b", {"a\\\"b"}},
    {"TwoBackslashesQuoteToggles", "\"a b\\\\\" c", {"a b\\", "c"}},
    {"EscapedQuoteInsideQuotes", "\"say \\\"hi\\\" now\"", {"say \"hi\" now"}},
    {"DoubledQuoteAtEndIsLiteral", "-t \"ab\"\"", {"-t", "ab\""}},
    {"DoubledQuoteInMiddleToggles", "\"a\"\"b c\"", {"ab c"}},
    {"UnclosedQuoteRunsToEnd", "-vf \"a b", {"-vf", "a b"}},
    {"TrailingBackslashes", "x\\\\", {"x\\\\"}},
    {"Utf8Copied", "-metadata title=\xC3\xA9t\xC3\xA9", {"-metadata", "title=\xC3\xA9t\xC3\xA9"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SplitOptionLineTest, ::testing::ValuesIn(SplitCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(SplitOptionLine, WatermarkFilterOfTheRecorderKeepsItsText) {
  const std::string filter =
      "movie=C\\\\:/logo.png [watermark]; [in] [watermark] overlay=main_w-overlay_w-5:main_h-overlay_h-5 [out]";
  const auto tokens = SplitOptionLine(" -sn -vf \"" + filter + "\" -sn");
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[2], filter);
}

}  // namespace
}  // namespace vexa
