#include <gtest/gtest.h>

#include <string>

#include "Base/ProgramFormats.h"
#include "FFUtils/FFUtils.h"
#include "Support/LogRecorder.h"
#include "Support/TestProgramFormat.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace vexa {
namespace {

using test::TLogRecorder;

class FFOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearOptionErrorText(); }
  TFFOptions Options;
};

TEST_F(FFOptionsTest, StreamSpecifiedCodecOptionKeepsItsFullName) {
  TLogRecorder log;
  EXPECT_EQ(0, Options.OptDefault("b:v", "1000k"));
  ASSERT_NE(nullptr, Options.CodecOptions.Value("b:v"));
  EXPECT_STREQ("1000k", Options.CodecOptions.Value("b:v"));
  EXPECT_EQ(nullptr, Options.CodecOptions.Value("b"));
  EXPECT_TRUE(Options.FormatOptions.Empty());
  EXPECT_TRUE(Options.ResamplerOptions.Empty());
  EXPECT_EQ(0, log.CountContaining("Routing"));
}

TEST_F(FFOptionsTest, MediaTypeLetterPrefixFindsTheCodecOption) {
  // "acutoff" and "vg" are no options of their own; without the letter they
  // are the codec's "cutoff" and "g". They are stored as typed.
  EXPECT_EQ(0, Options.OptDefault("acutoff", "15000"));
  EXPECT_EQ(0, Options.OptDefault("vg:v", "12"));
  EXPECT_STREQ("15000", Options.CodecOptions.Value("acutoff"));
  EXPECT_STREQ("12", Options.CodecOptions.Value("vg:v"));
  // Only a, s and v are media-type letters.
  EXPECT_EQ(AVERROR_OPTION_NOT_FOUND, Options.OptDefault("xcutoff", "15000"));
}

TEST_F(FFOptionsTest, OptionOfCodecAndFormatGoesToBothAndLogsTheRouting) {
  TLogRecorder log;
  EXPECT_EQ(0, Options.OptDefault("strict", "experimental"));
  EXPECT_STREQ("experimental", Options.CodecOptions.Value("strict"));
  EXPECT_STREQ("experimental", Options.FormatOptions.Value("strict"));
  EXPECT_EQ(1, log.Count(llVerbose, "Routing strict to codec and muxer layer"));
}

TEST_F(FFOptionsTest, RoutingLineIsAVerboseLine) {
  TLogRecorder log(llInfo);
  EXPECT_EQ(0, Options.OptDefault("strict", "normal"));
  EXPECT_EQ(0, log.CountContaining("Routing"));
}

TEST_F(FFOptionsTest, FormatOnlyOptionGoesToTheFormatLayer) {
  EXPECT_EQ(0, Options.OptDefault("probesize", "5000000"));
  EXPECT_STREQ("5000000", Options.FormatOptions.Value("probesize"));
  EXPECT_TRUE(Options.CodecOptions.Empty());
}

TEST_F(FFOptionsTest, ScalerOptionIsSetOnTheScalerContext) {
  ASSERT_TRUE(Options.ScalerOptions);
  EXPECT_EQ(0, Options.OptDefault("sws_flags", "lanczos"));
  int64_t flags = 0;
  ASSERT_EQ(0, av_opt_get_int(Options.ScalerOptions.get(), "sws_flags", 0, &flags));
  EXPECT_EQ(SWS_LANCZOS, flags);
  EXPECT_TRUE(Options.CodecOptions.Empty());
  EXPECT_TRUE(Options.FormatOptions.Empty());
  EXPECT_TRUE(Options.ResamplerOptions.Empty());
}

TEST_F(FFOptionsTest, ScalerContextStartsWithBicubic) {
  int64_t flags = 0;
  ASSERT_EQ(0, av_opt_get_int(Options.ScalerOptions.get(), "sws_flags", 0, &flags));
  EXPECT_EQ(SWS_BICUBIC, flags);
}

struct TBadValueCase {
  const char* Name;
  const char* Value;
};

class BadLayerValueTest : public ::testing::TestWithParam<TBadValueCase> {};

TEST_P(BadLayerValueTest, FailsWithTheSettingMessage) {
  ClearOptionErrorText();
  TLogRecorder log;
  TFFOptions options;
  const TBadValueCase& c = GetParam();
  const int err = options.OptDefault(c.Name, c.Value);
  EXPECT_LT(err, 0);
  EXPECT_NE(AVERROR_OPTION_NOT_FOUND, err);
  const std::string message = std::string("Error setting option \"") + c.Name + "\"";
  EXPECT_EQ(message, OptionErrorText());
  EXPECT_EQ(1, log.Count(llError, message));
  EXPECT_TRUE(options.ResamplerOptions.Empty());
}

INSTANTIATE_TEST_SUITE_P(ScalerAndResampler, BadLayerValueTest,
                         ::testing::Values(TBadValueCase{"sws_flags", "no_such_flag"},
                                           TBadValueCase{"sws_dither", "no_such_dither"},
                                           TBadValueCase{"dither_method", "no_such_method"},
                                           TBadValueCase{"rematrix_volume", "loud"}));

TEST_F(FFOptionsTest, ResamplerOptionIsCheckedThenKept) {
  EXPECT_EQ(0, Options.OptDefault("dither_method", "triangular"));
  EXPECT_STREQ("triangular", Options.ResamplerOptions.Value("dither_method"));
  EXPECT_TRUE(Options.CodecOptions.Empty());
  EXPECT_TRUE(Options.FormatOptions.Empty());
}

TEST_F(FFOptionsTest, UnknownOptionIsNotFoundAndStoresNothing) {
  EXPECT_EQ(AVERROR_OPTION_NOT_FOUND, Options.OptDefault("no_such_option_anywhere", "1"));
  EXPECT_EQ(AVERROR_OPTION_NOT_FOUND, Options.OptDefault("", "1"));
  EXPECT_TRUE(Options.CodecOptions.Empty());
  EXPECT_TRUE(Options.FormatOptions.Empty());
  EXPECT_TRUE(Options.ResamplerOptions.Empty());
  EXPECT_EQ("", OptionErrorText());
}

TEST_F(FFOptionsTest, FlagsOptionsAreAppended) {
  EXPECT_EQ(0, Options.OptDefault("flags", "+global_header"));
  EXPECT_EQ(0, Options.OptDefault("flags", "+bitexact"));
  EXPECT_STREQ("+global_header+bitexact", Options.CodecOptions.Value("flags"));
  EXPECT_EQ(0, Options.OptDefault("fflags", "+genpts"));
  EXPECT_EQ(0, Options.OptDefault("fflags", "+igndts"));
  EXPECT_STREQ("+genpts+igndts", Options.FormatOptions.Value("fflags"));
  // Other options are replaced.
  EXPECT_EQ(0, Options.OptDefault("b:v", "1000k"));
  EXPECT_EQ(0, Options.OptDefault("b:v", "2000k"));
  EXPECT_STREQ("2000k", Options.CodecOptions.Value("b:v"));
}

TEST_F(FFOptionsTest, DebugOptionsRaiseTheLogLevel) {
  for (const char* name : {"debug", "fdebug"}) {
    TLogRecorder log(llInfo);
    TFFOptions options;
    EXPECT_EQ(0, options.OptDefault(name, "1"));
    EXPECT_EQ(llDebug, GetFFLogger().LogLevel()) << name;
  }
}

TEST_F(FFOptionsTest, FinishGroupHandsOverAndStartsAfresh) {
  ASSERT_EQ(0, Options.OptDefault("b:v", "1000k"));
  ASSERT_EQ(0, Options.OptDefault("probesize", "32"));
  ASSERT_EQ(0, Options.OptDefault("dither_method", "triangular"));
  ASSERT_EQ(0, Options.OptDefault("sws_flags", "area"));
  ASSERT_EQ(0, Options.ResampleOptions.Set("resample_key", "1"));

  Options.FinishGroup();

  EXPECT_STREQ("1000k", Options.FinishedGroup.CodecOptions.Value("b:v"));
  EXPECT_STREQ("32", Options.FinishedGroup.FormatOptions.Value("probesize"));
  EXPECT_STREQ("triangular", Options.FinishedGroup.ResamplerOptions.Value("dither_method"));
  EXPECT_STREQ("1", Options.FinishedGroup.ResampleOptions.Value("resample_key"));
  ASSERT_TRUE(Options.FinishedGroup.ScalerOptions);
  int64_t flags = 0;
  ASSERT_EQ(0, av_opt_get_int(Options.FinishedGroup.ScalerOptions.get(), "sws_flags", 0, &flags));
  EXPECT_EQ(SWS_AREA, flags);

  EXPECT_EQ(nullptr, Options.CodecOptions.Get());
  EXPECT_EQ(nullptr, Options.FormatOptions.Get());
  EXPECT_EQ(nullptr, Options.ResamplerOptions.Get());
  EXPECT_EQ(nullptr, Options.ResampleOptions.Get());
  ASSERT_TRUE(Options.ScalerOptions);
  ASSERT_EQ(0, av_opt_get_int(Options.ScalerOptions.get(), "sws_flags", 0, &flags));
  EXPECT_EQ(SWS_BICUBIC, flags);

  // The finished group must be taken before the next one is closed.
  EXPECT_THROW(Options.FinishGroup(), std::logic_error);
  Options.ResetOptions();
  EXPECT_TRUE(Options.FinishedGroup.Empty());
  ASSERT_EQ(0, Options.OptDefault("b:a", "64k"));
  EXPECT_NO_THROW(Options.FinishGroup());
  EXPECT_STREQ("64k", Options.FinishedGroup.CodecOptions.Value("b:a"));
}

TEST_F(FFOptionsTest, UninitOptionsFreesTheWorkingSet) {
  ASSERT_EQ(0, Options.OptDefault("b:v", "1000k"));
  Options.UninitOptions();
  EXPECT_EQ(nullptr, Options.CodecOptions.Get());
  EXPECT_FALSE(Options.ScalerOptions);
  Options.InitOptions();
  EXPECT_TRUE(Options.ScalerOptions);
}

TEST(OptionErrorTextTest, SetAppendAndClear) {
  SetOptionErrorText("first");
  EXPECT_EQ("first", OptionErrorText());
  AppendOptionErrorText("second");
  EXPECT_EQ("first\r\nsecond", OptionErrorText());
  ClearOptionErrorText();
  AppendOptionErrorText("only");
  EXPECT_EQ("only", OptionErrorText());
  ClearOptionErrorText();
  EXPECT_EQ("", OptionErrorText());
}

// A program input format of the test's own, standing for the capture format.
const AVOption TestFormatOptions[] = {
    {"vexa_test_offset", "capture offset", 0, AV_OPT_TYPE_STRING, {.str = nullptr}, 0, 0,
     AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"vexa_test_flags", "capture flags", sizeof(void*), AV_OPT_TYPE_FLAGS, {.i64 = 0}, 0, INT_MAX,
     AV_OPT_FLAG_DECODING_PARAM, "vexa_test_flags"},
    {"alpha", "", 0, AV_OPT_TYPE_CONST, {.i64 = 1}, 0, 0, AV_OPT_FLAG_DECODING_PARAM,
     "vexa_test_flags"},
    {"beta", "", 0, AV_OPT_TYPE_CONST, {.i64 = 2}, 0, 0, AV_OPT_FLAG_DECODING_PARAM,
     "vexa_test_flags"},
    {nullptr, nullptr, 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 0, 0, nullptr},
};

const AVClass TestFormatClass = test::TestOptionClass("VexaTestCaptureFormat", TestFormatOptions);

TProgramInputFormat MakeTestFormat() {
  TProgramInputFormat f;
  f.Name = "vexa_test_capture";
  f.LongName = "test capture format";
  f.Flags = AVFMT_NOFILE;
  f.PrivClass = &TestFormatClass;
  f.PrivDataSize = 2 * sizeof(void*) + sizeof(int);
  return f;
}

const TProgramInputFormat TestFormat = MakeTestFormat();

TEST_F(FFOptionsTest, ProgramInputFormatOptionsAreFormatOptions) {
  if (!FindProgramInputFormat(TestFormat.Name)) {
    // The library's own search does not know the program's formats.
    EXPECT_EQ(AVERROR_OPTION_NOT_FOUND, Options.OptDefault("vexa_test_offset", "10,10"));
    RegisterProgramInputFormat(&TestFormat);
  }
  EXPECT_EQ(0, Options.OptDefault("vexa_test_offset", "10,10"));
  EXPECT_STREQ("10,10", Options.FormatOptions.Value("vexa_test_offset"));
  EXPECT_EQ(0, Options.OptDefault("vexa_test_flags", "+alpha"));
  EXPECT_EQ(0, Options.OptDefault("vexa_test_flags", "+beta"));
  EXPECT_STREQ("+alpha+beta", Options.FormatOptions.Value("vexa_test_flags"));
  EXPECT_TRUE(Options.CodecOptions.Empty());
}

}  // namespace
}  // namespace vexa
