#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "FFUtils/FFUtils.h"

namespace vexa {
namespace {

struct TTimeTextCase {
  int64_t Us;
  const char* Text;
};

class TimeTextTest : public ::testing::TestWithParam<TTimeTextCase> {};

TEST_P(TimeTextTest, Formats) { EXPECT_EQ(GetParam().Text, TimeText(GetParam().Us)); }

constexpr int64_t H = 3600000000LL;

INSTANTIATE_TEST_SUITE_P(
    Values, TimeTextTest,
    ::testing::Values(
        // 5000 us are added first: 3.004999 s carries to 3.009 s.
        TTimeTextCase{H + 2 * 60000000LL + 3004999, "01:02:03.009"},
        TTimeTextCase{AV_NOPTS_VALUE, "N/A"}, TTimeTextCase{0, "00:00:00.005"},
        TTimeTextCase{994999, "00:00:00.999"}, TTimeTextCase{995000, "00:00:01.000"},
        TTimeTextCase{59 * 60000000LL + 59995000, "01:00:00.000"},
        TTimeTextCase{100 * H, "100:00:00.005"},
        TTimeTextCase{-1500000, "-00:00:01.505"},
        TTimeTextCase{INT64_MAX, "2562047788:00:54.780"}));

TEST(TsTextTest, Values) {
  EXPECT_EQ("NOPTS", TsText(AV_NOPTS_VALUE));
  EXPECT_EQ("0", TsText(0));
  EXPECT_EQ("-42", TsText(-42));
  EXPECT_EQ("9223372036854775807", TsText(INT64_MAX));
}

TEST(TsTimeTextTest, Values) {
  EXPECT_EQ("NOPTS", TsTimeText(AV_NOPTS_VALUE, AVRational{1, 90000}));
  EXPECT_EQ("1", TsTimeText(90000, AVRational{1, 90000}));
  EXPECT_EQ("0.333333", TsTimeText(1, AVRational{1, 3}));
  EXPECT_EQ("-0.04", TsTimeText(-1, AVRational{1, 25}));
  EXPECT_EQ("1.23457e+08", TsTimeText(123456789, AVRational{1, 1}));
  EXPECT_EQ("1.001", TsTimeText(30, AVRational{1001, 30000}));
}

TEST(FrameDurationTest, Values) {
  EXPECT_EQ(40000, FrameDuration(25, 1));
  EXPECT_EQ(33366, FrameDuration(30000, 1001));
  EXPECT_EQ(2000000, FrameDuration(1, 2));
  // A zero part means 25 frames per second.
  EXPECT_EQ(40000, FrameDuration(0, 1));
  EXPECT_EQ(40000, FrameDuration(15, 0));
  EXPECT_EQ(40000, FrameDuration(0, 0));
}

TEST(MediaTypeNameTest, Table) {
  EXPECT_EQ("Video", MediaTypeName(AVMEDIA_TYPE_VIDEO));
  EXPECT_EQ("Audio", MediaTypeName(AVMEDIA_TYPE_AUDIO));
  EXPECT_EQ("Data", MediaTypeName(AVMEDIA_TYPE_DATA));
  EXPECT_EQ("Subtitle", MediaTypeName(AVMEDIA_TYPE_SUBTITLE));
  EXPECT_EQ("Attachment", MediaTypeName(AVMEDIA_TYPE_ATTACHMENT));
  EXPECT_EQ("Unknown", MediaTypeName(AVMEDIA_TYPE_UNKNOWN));
  EXPECT_EQ("Unknown", MediaTypeName(AVMEDIA_TYPE_NB));
}

struct TSplitCase {
  const char* Text;
  const char* Delimiter;
  bool Remove;
  const char* First;
  const char* Rest;
};

class SplitFirstTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitFirstTest, Splits) {
  const TSplitCase& c = GetParam();
  std::string text = c.Text;
  EXPECT_EQ(c.First, SplitFirst(text, c.Delimiter, c.Remove));
  EXPECT_EQ(c.Rest, text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitFirstTest,
    ::testing::Values(TSplitCase{"3:1000", ":", true, "3", "1000"},
                      TSplitCase{"a:b:c", ":", true, "a", "b:c"},
                      TSplitCase{"a:b:c", ":", false, "a", "a:b:c"},
                      TSplitCase{":x", ":", true, "", "x"},
                      TSplitCase{"x:", ":", true, "x", ""},
                      TSplitCase{"key<CRLF>value", "<CRLF>", true, "key", "value"},
                      TSplitCase{"plain", ":", true, "plain", ""},
                      TSplitCase{"plain", ":", false, "plain", "plain"},
                      TSplitCase{"", ":", true, "", ""},
                      TSplitCase{"a:b", "", true, "a:b", ""}));

TEST(TimeZoneTextTest, BiasToText) {
  EXPECT_EQ("UTC", TimeZoneText(0));
  EXPECT_EQ("UTC+01:00", TimeZoneText(-60));    // Central Europe
  EXPECT_EQ("UTC+05:30", TimeZoneText(-330));   // India
  EXPECT_EQ("UTC-05:00", TimeZoneText(300));    // US Eastern
  EXPECT_EQ("UTC-09:30", TimeZoneText(570));    // Marquesas
  EXPECT_EQ("UTC+14:00", TimeZoneText(-840));
}

// Sets TZ for one test and restores it afterwards.
class TTimeZoneGuard {
 public:
  explicit TTimeZoneGuard(const char* tz) {
    const char* old = std::getenv("TZ");
    Had_ = old != nullptr;
    if (Had_) Old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TTimeZoneGuard() {
    if (Had_)
      setenv("TZ", Old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  TTimeZoneGuard(const TTimeZoneGuard&) = delete;
  TTimeZoneGuard& operator=(const TTimeZoneGuard&) = delete;

 private:
  bool Had_ = false;
  std::string Old_;
};

TEST(TimeZoneTextTest, UsesTheStandardBiasOfTheLocalZone) {
  {
    TTimeZoneGuard tz("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(300, TimeZoneBias());
    EXPECT_EQ("UTC-05:00", TimeZoneText());
  }
  {
    TTimeZoneGuard tz("IST-5:30");
    EXPECT_EQ(-330, TimeZoneBias());
    EXPECT_EQ("UTC+05:30", TimeZoneText());
  }
  {
    TTimeZoneGuard tz("UTC0");
    EXPECT_EQ("UTC", TimeZoneText());
  }
}

TEST(UnixToLocalTest, DayCountAndBias) {
  EXPECT_DOUBLE_EQ(25569.0, UnixToLocal(0, 0));
  EXPECT_DOUBLE_EQ(25569.0 + 2 + 1.0 / 24, UnixToLocal(2 * 86400, -60));
  EXPECT_DOUBLE_EQ(25569.0 - 0.5, UnixToLocal(-43200, 0));
  EXPECT_EQ("2020-09-13 12:26:40", DateTimeText(UnixToLocal(1600000000, 0)));
  EXPECT_EQ("2020-09-13 14:26:40", DateTimeText(UnixToLocal(1600000000, -120)));
  EXPECT_EQ("1970-01-01 00:00:00", DateTimeText(25569.0));
  EXPECT_EQ("1899-12-30 00:00:00", DateTimeText(0.0));
}

TEST(UnixToLocalTest, DaylightSavingIsNotApplied) {
  TTimeZoneGuard tz("CET-1CEST,M3.5.0,M10.5.0/3");
  // 2020-07-01 12:00:00 UTC lies in summer time; the standard bias is used.
  EXPECT_EQ("2020-07-01 13:00:00", DateTimeText(UnixToLocal(1593604800)));
}

}  // namespace
}  // namespace vexa
