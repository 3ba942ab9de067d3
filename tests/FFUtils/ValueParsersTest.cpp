#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include "DecimalCommaLocale.h"
#include "FFUtils/FFUtils.h"

extern "C" {
#include <libavutil/opt.h>
}

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
  bool Is64;  // ParseInt64 ("fs"), else ParseInt ("ar")
  const char* Text;
  bool Ok;
  long long Value;
};

class ParseIntegerTest : public ::testing::TestWithParam<TIntCase> {};

TEST_P(ParseIntegerTest, ReadsWholeDecimalText) {
  const TIntCase& c = GetParam();
  const auto parse = [&]() -> long long {
    return c.Is64 ? ParseInt64("fs", c.Text) : ParseInt("ar", c.Text);
  };
  if (c.Ok) {
    EXPECT_EQ(c.Value, parse());
  } else {
    EXPECT_EQ(std::string(c.Is64 ? "Expected int64 for \"fs\"" : "Expected integer for \"ar\"") +
                  " but found \"" + c.Text + "\"",
              MessageOf([&] { parse(); }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseIntegerTest,
    ::testing::Values(TIntCase{false, "44100", true, 44100}, TIntCase{false, "-7", true, -7},
                      TIntCase{false, "+5", true, 5}, TIntCase{false, "007", true, 7},
                      TIntCase{false, "2147483647", true, 2147483647},
                      TIntCase{false, "-2147483648", true, -2147483648LL},
                      TIntCase{false, "2147483648", false, 0},
                      TIntCase{false, "-2147483649", false, 0}, TIntCase{false, "", false, 0},
                      TIntCase{false, "abc", false, 0}, TIntCase{false, "12abc", false, 0},
                      TIntCase{false, " 1", false, 0}, TIntCase{false, "1 ", false, 0},
                      TIntCase{false, "0x10", false, 0}, TIntCase{false, "+-1", false, 0},
                      TIntCase{false, "--1", false, 0}, TIntCase{false, "-", false, 0},
                      TIntCase{false, "+", false, 0}, TIntCase{false, "1.5", false, 0},
                      TIntCase{false, "1e3", false, 0},
                      TIntCase{true, "9223372036854775807", true, INT64_MAX},
                      TIntCase{true, "-9223372036854775808", true, INT64_MIN},
                      TIntCase{true, "2147483648", true, 2147483648LL},
                      TIntCase{true, "+0", true, 0},
                      TIntCase{true, "9223372036854775808", false, 0},
                      TIntCase{true, "", false, 0}, TIntCase{true, "10M", false, 0},
                      TIntCase{true, "\t5", false, 0}, TIntCase{true, "0x10", false, 0}));

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

// Sets an environment variable for one test and restores it afterwards.
class TEnvGuard {
 public:
  TEnvGuard(const char* name, const std::string& value) : Name_(name) {
    const char* old = std::getenv(name);
    Had_ = old != nullptr;
    if (Had_) Old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~TEnvGuard() {
    if (Had_)
      setenv(Name_.c_str(), Old_.c_str(), 1);
    else
      unsetenv(Name_.c_str());
  }
  TEnvGuard(const TEnvGuard&) = delete;
  TEnvGuard& operator=(const TEnvGuard&) = delete;

 private:
  std::string Name_;
  bool Had_ = false;
  std::string Old_;
};

// Under a decimal-comma locale (the one a desktop program gets from its
// toolkit's setlocale(LC_ALL, "")), option values must read as they do in C.
class NumericLocaleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Locale = new test::TDecimalCommaLocale; }
  static void TearDownTestSuite() {
    delete Locale;
    Locale = nullptr;
  }
  void SetUp() override {
    if (Locale->Name().empty())
      GTEST_SKIP() << "no locale with a decimal comma: " << Locale->Failure();
  }
  // Makes the comma locale the process's numeric locale (restored by Guard).
  void UseCommaLocale() {
    ASSERT_NE(nullptr, std::setlocale(LC_NUMERIC, Locale->Name().c_str()));
    ASSERT_STREQ(",", std::localeconv()->decimal_point);
  }

  static test::TDecimalCommaLocale* Locale;
  TNumericStateGuard Guard;
};

test::TDecimalCommaLocale* NumericLocaleTest::Locale = nullptr;

TEST_F(NumericLocaleTest, ProcessLocaleDoesNotChangeTheParsers) {
  UseCommaLocale();
  EXPECT_DOUBLE_EQ(0.5, ParseDouble("q", "0.5"));
  EXPECT_FLOAT_EQ(0.25f, ParseFloat("muxdelay", "0.25"));
  EXPECT_THROW(ParseDouble("q", "0,5"), FFmpegException);
  EXPECT_EQ(1500000, ParseTime("t", "1.5", true));
  EXPECT_EQ("0.333333", TsTimeText(1, AVRational{1, 3}));
  SetDecimalSeparator(',');
  EXPECT_DOUBLE_EQ(0.5, ParseDouble("q", "0,5"));
}

TEST_F(NumericLocaleTest, LibraryOptionValuesReadWithThePoint) {
  UseCommaLocale();
  TFFOptions options;
  EXPECT_EQ(0, options.OptDefault("rematrix_volume", "0.5"));
  EXPECT_STREQ("0.5", options.ResamplerOptions.Value("rematrix_volume"));
  EXPECT_EQ(0, options.OptDefault("param0", "0.75"));
  double param = 0;
  ASSERT_EQ(0, av_opt_get_double(options.ScalerOptions.get(), "param0", 0, &param));
  EXPECT_DOUBLE_EQ(0.75, param);

  // The scope covers only its own lifetime.
  {
    const TCNumericLocale scope;
    EXPECT_DOUBLE_EQ(0.5, std::strtod("0.5", nullptr));
  }
  EXPECT_DOUBLE_EQ(0.0, std::strtod("0.5", nullptr));
  EXPECT_STREQ(",", std::localeconv()->decimal_point);
}

TEST_F(NumericLocaleTest, UserSeparatorComesFromTheEnvironment) {
  {
    TEnvGuard all("LC_ALL", Locale->Name());
    EXPECT_EQ(',', UserDecimalSeparator());
    SetDecimalSeparator(UserDecimalSeparator());
  }
  // As on a system whose decimal separator is a comma.
  EXPECT_EQ("Expected float for \"muxdelay\" but found \"0.5\"",
            MessageOf([] { ParseFloat("muxdelay", "0.5"); }));
  EXPECT_FLOAT_EQ(0.5f, ParseFloat("muxdelay", "0,5"));
  {
    TEnvGuard all("LC_ALL", "C");
    EXPECT_EQ('.', UserDecimalSeparator());
  }
  // Asking changes no locale of the process.
  EXPECT_STREQ(".", std::localeconv()->decimal_point);
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
                  " spe" "cification for \"t\": \"" + c.Text + "\"",
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
