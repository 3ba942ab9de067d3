#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <functional>
#include <string>

#include "FFUtils/FFUtils.h"

namespace vexa {
namespace {

// Keeps the process-wide decimal separator and numeric locale as they were.
class TNumericStateGuard {
 public:
  TNumericStateGuard() : Separator_(DecimalSeparator()) {
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    Locale_ = current ? current : "C";
  }
  ~TNumericStateGuard() {
    SetDecimalSeparator(Separator_);
    std::setlocale(LC_NUMERIC, Locale_.c_str());
  }
  TNumericStateGuard(const TNumericStateGuard&) = delete;
  TNumericStateGuard& operator=(const TNumericStateGuard&) = delete;

 private:
  char Separator_;
  std::string Locale_;
};

std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const FFmpegException& e) {
    return e.what();
  }
  return "(no exception)";
}

struct TIntCase {
  const char* Text;
  bool Ok;
  long long Value;
};

class ParseIntTest : public ::testing::TestWithParam<TIntCase> {};

TEST_P(ParseIntTest, ReadsWholeDecimalText) {
  const TIntCase& c = GetParam();
  if (c.Ok) {
    EXPECT_EQ(c.Value, ParseInt("ar", c.Text));
  } else {
    EXPECT_EQ(std::string("Expected integer for \"ar\" but found \"") + c.Text + "\"",
              MessageOf([&] { ParseInt("ar", c.Text); }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseIntTest,
    ::testing::Values(TIntCase{"44100", true, 44100}, TIntCase{"-7", true, -7},
                      TIntCase{"+5", true, 5}, TIntCase{"007", true, 7},
                      TIntCase{"2147483647", true, 2147483647},
                      TIntCase{"-2147483648", true, -2147483648LL},
                      TIntCase{"2147483648", false, 0}, TIntCase{"-2147483649", false, 0},
                      TIntCase{"", false, 0}, TIntCase{"abc", false, 0},
                      TIntCase{"12abc", false, 0}, TIntCase{" 1", false, 0},
                      TIntCase{"1 ", false, 0}, TIntCase{"0x10", false, 0},
                      TIntCase{"+-1", false, 0}, TIntCase{"--1", false, 0},
                      TIntCase{"-", false, 0}, TIntCase{"+", false, 0},
                      TIntCase{"1.5", false, 0}, TIntCase{"1e3", false, 0}));

class ParseInt64Test : public ::testing::TestWithParam<TIntCase> {};

TEST_P(ParseInt64Test, ReadsWholeDecimalText) {
  const TIntCase& c = GetParam();
  if (c.Ok) {
    EXPECT_EQ(c.Value, ParseInt64("fs", c.Text));
  } else {
    EXPECT_EQ(std::string("Expected int64 for \"fs\" but found \"") + c.Text + "\"",
              MessageOf([&] { ParseInt64("fs", c.Text); }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseInt64Test,
    ::testing::Values(TIntCase{"9223372036854775807", true, INT64_MAX},
                      TIntCase{"-9223372036854775808", true, INT64_MIN},
                      TIntCase{"2147483648", true, 2147483648LL}, TIntCase{"+0", true, 0},
                      TIntCase{"9223372036854775808", false, 0}, TIntCase{"", false, 0},
                      TIntCase{"10M", false, 0}, TIntCase{"\t5", false, 0},
                      TIntCase{"0x10", false, 0}));

struct TRealCase {
  char Separator;
  const char* Text;
  bool Ok;
  double Value;
};

class ParseRealTest : public ::testing::TestWithParam<TRealCase> {
 protected:
  TNumericStateGuard Guard;
};

TEST_P(ParseRealTest, ReadsWithTheDecimalSeparator) {
  const TRealCase& c = GetParam();
  SetDecimalSeparator(c.Separator);
  if (c.Ok) {
    EXPECT_DOUBLE_EQ(c.Value, ParseDouble("itsscale", c.Text));
    EXPECT_FLOAT_EQ(static_cast<float>(c.Value), ParseFloat("muxdelay", c.Text));
  } else {
    EXPECT_EQ(std::string("Expected double for \"itsscale\" but found \"") + c.Text + "\"",
              MessageOf([&] { ParseDouble("itsscale", c.Text); }));
    EXPECT_EQ(std::string("Expected float for \"muxdelay\" but found \"") + c.Text + "\"",
              MessageOf([&] { ParseFloat("muxdelay", c.Text); }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseRealTest,
    ::testing::Values(
        TRealCase{'.', "0.5", true, 0.5}, TRealCase{'.', "-1.25e3", true, -1250},
        TRealCase{'.', "+2", true, 2}, TRealCase{'.', ".5", true, 0.5},
        TRealCase{'.', "5.", true, 5}, TRealCase{'.', "1E-2", true, 0.01},
        TRealCase{'.', "0,5", false, 0}, TRealCase{'.', "", false, 0},
        TRealCase{'.', ".", false, 0}, TRealCase{'.', "abc", false, 0},
        TRealCase{'.', "1e", false, 0}, TRealCase{'.', "1e+", false, 0},
        TRealCase{'.', "1.2.3", false, 0}, TRealCase{'.', " 1", false, 0},
        TRealCase{'.', "1 ", false, 0}, TRealCase{'.', "inf", false, 0},
        TRealCase{'.', "nan", false, 0}, TRealCase{'.', "1e999", false, 0},
        TRealCase{'.', "0x1p3", false, 0}, TRealCase{',', "0,5", true, 0.5},
        TRealCase{',', "-2,5e1", true, -25}, TRealCase{',', "3", true, 3},
        TRealCase{',', "0.5", false, 0}, TRealCase{',', "1,000,5", false, 0}));

TEST(ParseFloatTest, ValueBeyondFloatFails) {
  EXPECT_DOUBLE_EQ(1e300, ParseDouble("q", "1e300"));
  EXPECT_EQ("Expected float for \"muxpreload\" but found \"1e300\"",
            MessageOf([] { ParseFloat("muxpreload", "1e300"); }));
}

TEST(DecimalSeparatorTest, RejectsCharactersOfTheNumberSyntax) {
  TNumericStateGuard guard;
  for (char c : {'0', '9', '+', '-', 'e', 'E', ' ', '\0'})
    EXPECT_THROW(SetDecimalSeparator(c), std::invalid_argument) << int(c);
  EXPECT_EQ('.', DecimalSeparator());
}

// The process locale (setlocale, as a desktop application sets it) must not
// change how option values are read.
TEST(NumericLocaleTest, ProcessLocaleDoesNotChangeParsing) {
  TNumericStateGuard guard;
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"}) {
    if (std::setlocale(LC_NUMERIC, name)) {
      chosen = name;
      break;
    }
  }
  if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
  ASSERT_STREQ(",", std::localeconv()->decimal_point);

  EXPECT_DOUBLE_EQ(0.5, ParseDouble("q", "0.5"));
  EXPECT_FLOAT_EQ(0.25f, ParseFloat("muxdelay", "0.25"));
  EXPECT_THROW(ParseDouble("q", "0,5"), FFmpegException);
  EXPECT_EQ(1500000, ParseTime("t", "1.5", true));
  EXPECT_EQ("0.333333", TsTimeText(1, AVRational{1, 3}));
  SetDecimalSeparator(',');
  EXPECT_DOUBLE_EQ(0.5, ParseDouble("q", "0,5"));
}

struct TTimeCase {
  const char* Text;
  bool IsDuration;
  bool Ok;
  int64_t Value;
};

class ParseTimeTest : public ::testing::TestWithParam<TTimeCase> {};

TEST_P(ParseTimeTest, ReadsDurationsAndDates) {
  const TTimeCase& c = GetParam();
  if (c.Ok) {
    EXPECT_EQ(c.Value, ParseTime("t", c.Text, c.IsDuration));
  } else {
    EXPECT_EQ(std::string("Invalid ") + (c.IsDuration ? "duration" : "date") +
                  " spec" "ification for \"t\": \"" + c.Text + "\"",
              MessageOf([&] { ParseTime("t", c.Text, c.IsDuration); }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseTimeTest,
    ::testing::Values(TTimeCase{"10", true, true, 10000000},
                      TTimeCase{"01:02:03.5", true, true, 3723500000LL},
                      TTimeCase{"-2.25", true, true, -2250000},
                      TTimeCase{"250ms", true, true, 250000},
                      TTimeCase{"2020-09-13T12:26:40Z", false, true, 1600000000000000LL},
                      TTimeCase{"abc", true, false, 0}, TTimeCase{"", true, false, 0},
                      TTimeCase{"1:xx", true, false, 0},
                      TTimeCase{"yesterday", false, false, 0}));

}  // namespace
}  // namespace vexa
