#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <unistd.h>

#include "ErrorText/ErrorText.h"
#include "OptFixtures.h"
#include "Support/MediaFixtures.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/cpu.h>
#include <libavutil/mem.h>
}

namespace vexa {
namespace {

using test::OptTest;

std::string FailureText(const std::string& message, const std::string& arg, const std::string& opt, int code) {
  return message + "\r\nFailed to set value \"" + arg + "\" for option \"" + opt + "\"\r\n" + ErrorText(code);
}

struct THandlerCase {
  const char* Name;
  std::string Line;
  int Result;
  std::function<void(const TCustomFFmpegOpt&, const TFileOptions&)> Check;
  std::string Warning;  // a line the handler logs, or empty
};

class HandlerRows : public OptTest, public ::testing::WithParamInterface<THandlerCase> {};

TEST_P(HandlerRows, MainPath) {
  const THandlerCase& c = GetParam();
  Engine.StrictOptions = true;
  EXPECT_EQ(Parse(c.Line), c.Result) << Engine.LastErrorText;
  if (c.Check) c.Check(Engine, O);
  if (!c.Warning.empty()) {
    EXPECT_TRUE(Recorder.Contains(llWarning, c.Warning)) << c.Warning;
  }
}

void ExpectOne(const TSpecifierList& list, const std::string& specifier, const std::string& value) {
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Specifier, specifier);
  EXPECT_EQ(list[0].Str, value);
}

const THandlerCase HandlerCases[] = {
    {"Switches", "-AudioInputHook -AudioOutputHook -VideoInputHook -VideoOutputHook -FrameInputHook -FrameOutputHook -Join",
     0, [](auto& e, auto& o) {
       EXPECT_EQ(e.GlobalGroup.size(), 7u);
       EXPECT_TRUE(e.FileGroup.empty());
       EXPECT_TRUE(o.Group->CodecOptions.Empty()); }, ""},
    {"VCodec", "-vcodec mpeg4", 0, [](auto&, auto& o) { ExpectOne(o.CodecNames, "v", "mpeg4"); }, ""},
    {"VCodecTypedSpecifierNotPassedOn", "-vcodec:1 mpeg4", 0, [](auto&, auto& o) { ExpectOne(o.CodecNames, "v", "mpeg4"); }, ""},
    {"ACodec", "-acodec mp2", 0, [](auto&, auto& o) { ExpectOne(o.CodecNames, "a", "mp2"); }, ""},
    {"SCodec", "-scodec mov_text", 0, [](auto&, auto& o) { ExpectOne(o.CodecNames, "s", "mov_text"); }, ""},
    {"DCodec", "-dcodec copy", 0, [](auto&, auto& o) { ExpectOne(o.CodecNames, "d", "copy"); }, ""},
    {"VFrames", "-vframes 10", 0, [](auto&, auto& o) { ASSERT_EQ(o.MaxFrames.size(), 1u); EXPECT_EQ(o.MaxFrames[0].Specifier, "v"); EXPECT_EQ(o.MaxFrames[0].Int64, 10); }, ""},
    {"AFrames", "-aframes 11", 0, [](auto&, auto& o) { ASSERT_EQ(o.MaxFrames.size(), 1u); EXPECT_EQ(o.MaxFrames[0].Specifier, "a"); EXPECT_EQ(o.MaxFrames[0].Int64, 11); }, ""},
    {"DFrames", "-dframes 12", 0, [](auto&, auto& o) { ASSERT_EQ(o.MaxFrames.size(), 1u); EXPECT_EQ(o.MaxFrames[0].Specifier, "d"); EXPECT_EQ(o.MaxFrames[0].Int64, 12); }, ""},
    {"VF", "-vf hflip", 0, [](auto&, auto& o) { ExpectOne(o.Filters, "v", "hflip"); }, ""},
    {"AF", "-af anull", 0, [](auto&, auto& o) { ExpectOne(o.Filters, "a", "anull"); }, ""},
    {"AQ", "-aq 4", 0, [](auto&, auto& o) { ASSERT_EQ(o.QScales.size(), 1u); EXPECT_EQ(o.QScales[0].Specifier, "a"); EXPECT_DOUBLE_EQ(o.QScales[0].Dbl, 4); }, ""},
    {"QScaleAmbiguous", "-qscale 5", 0, [](auto&, auto& o) { ASSERT_EQ(o.QScales.size(), 1u); EXPECT_EQ(o.QScales[0].Specifier, "v"); EXPECT_DOUBLE_EQ(o.QScales[0].Dbl, 5); },
     "Please use -q:a or -q:v, -qscale is ambiguous"},
    {"QScaleAudio", "-qscale:a 3", 0, [](auto&, auto& o) { ASSERT_EQ(o.QScales.size(), 1u); EXPECT_EQ(o.QScales[0].Specifier, "a"); EXPECT_DOUBLE_EQ(o.QScales[0].Dbl, 3); }, ""},
    {"ProfileAmbiguous", "-profile high", 0, [](auto&, auto& o) { EXPECT_STREQ(o.Group->CodecOptions.Value("profile:v"), "high"); },
     "Please use -profile:a or -profile:v, -profile is ambiguous"},
    {"ProfileAudio", "-profile:a aac_low", 0, [](auto&, auto& o) { EXPECT_STREQ(o.Group->CodecOptions.Value("profile:a"), "aac_low"); EXPECT_EQ(o.Group->CodecOptions.Value("profile:v"), nullptr); }, ""},
    {"VTag", "-vtag XVID", 0, [](auto&, auto& o) { ExpectOne(o.CodecTags, "v", "XVID"); }, ""},
    {"ATag", "-atag 0x55", 0, [](auto&, auto& o) { ExpectOne(o.CodecTags, "a", "0x55"); }, ""},
    {"STag", "-stag tx3g", 0, [](auto&, auto& o) { ExpectOne(o.CodecTags, "s", "tx3g"); }, ""},
    {"ABsf", "-absf aac_adtstoasc", 0, [](auto&, auto& o) { ExpectOne(o.BitstreamFilters, "a", "aac_adtstoasc"); }, ""},
    {"VBsf", "-vbsf h264_mp4toannexb", 0, [](auto&, auto& o) { ExpectOne(o.BitstreamFilters, "v", "h264_mp4toannexb"); }, ""},
    {"Timecode", "-timecode 01:00:00:00", 0, [](auto&, auto& o) {
       ExpectOne(o.Metadata, "g", "timecode=01:00:00:00");
       EXPECT_STREQ(o.Group->CodecOptions.Value("gop_timecode"), "01:00:00:00"); }, ""},
    {"ChannelLayout", "-channel_layout:a stereo", 0, [](auto&, auto& o) {
       EXPECT_STREQ(o.Group->CodecOptions.Value("channel_layout:a"), "3");
       ASSERT_EQ(o.AudioChannels.size(), 1u);
       EXPECT_EQ(o.AudioChannels[0].Specifier, "a");
       EXPECT_EQ(o.AudioChannels[0].Int, 2); }, ""},
    {"ChannelLayoutNoSpecifier", "-channel_layout 5.1", 0, [](auto&, auto& o) {
       EXPECT_STREQ(o.Group->CodecOptions.Value("channel_layout"), "63");
       ASSERT_EQ(o.AudioChannels.size(), 1u);
       EXPECT_EQ(o.AudioChannels[0].Specifier, "");
       EXPECT_EQ(o.AudioChannels[0].Int, 6); }, ""},
    {"Deinterlace", "-deinterlace", 0, [](auto& e, auto&) { EXPECT_EQ(e.DoDeinterlace, 1); },
     "-deinterlace is deprecated, use -filter:v yadif instead"},
    {"VStats", "-vstats", 0, [](auto& e, auto&) { EXPECT_TRUE(std::regex_match(e.VstatsFileName, std::regex("vstats_[0-2][0-9][0-5][0-9][0-6][0-9]\\.log"))) << e.VstatsFileName; }, ""},
    {"VStatsFile", "-vstats -vstats_file /tmp/v.log", 0, [](auto& e, auto&) { EXPECT_EQ(e.VstatsFileName, "/tmp/v.log"); }, ""},
    {"FilterComplex", "-filter_complex \"[0:v] hflip [a]\" -filter_complex nullsrc", 0, [](auto& e, auto&) {
       ASSERT_EQ(e.FilterGraphs.size(), 2u);
       EXPECT_EQ(e.FilterGraphs[0]->Index, 0);
       EXPECT_EQ(*e.FilterGraphs[0]->GraphDescription, "[0:v] hflip [a]");
       EXPECT_EQ(e.FilterGraphs[1]->Index, 1);
       EXPECT_EQ(*e.FilterGraphs[1]->GraphDescription, "nullsrc"); }, ""},
    {"TimeStart", "-TimeStart 1.5", 0, [](auto&, auto& o) { EXPECT_EQ(o.StartTime, 1500000); }, ""},
    {"timestart", "-timestart 2", 0, [](auto&, auto& o) { EXPECT_EQ(o.StartTime, 2000000); }, ""},
    {"TimeLength", "-TimeLength 0.0000015", 0, [](auto&, auto& o) { EXPECT_EQ(o.RecordingTime, 2); }, ""},
    {"timelength", "-timelength 60", 0, [](auto&, auto& o) { EXPECT_EQ(o.RecordingTime, 60000000); }, ""},
    {"LogLevel", "-loglevel error -v 40", 0, [](auto&, auto&) { EXPECT_EQ(GetFFLogger().LogLevel(), llVerbose); }, ""},
};

INSTANTIATE_TEST_SUITE_P(Rows, HandlerRows, ::testing::ValuesIn(HandlerCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Failure texts: LastErrorText after a strict add.
struct TFailureCase {
  const char* Name;
  std::string Line;
  int Result;
  std::string LastError;
};

class HandlerFailures : public OptTest, public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(HandlerFailures, FailureText) {
  const TFailureCase& c = GetParam();
  Engine.StrictOptions = true;
  EXPECT_EQ(Parse(c.Line), c.Result);
  EXPECT_EQ(Engine.LastErrorText, c.LastError);
}

const std::string Removed =
    "Option \"sameq\" was removed. If you are looking for an option to preserve the quality (which is not what -sameq "
    "was for), use -qscale 0 or an equivalent quality factor option.";

const TFailureCase FailureCases[] = {
    {"Report", "-report", -22, FailureText("options \"report\" not supported", "1", "report", -22)},
    {"Benchmark", "-benchmark", -22, FailureText("options \"benchmark\" not supported", "1", "benchmark", -22)},
    {"BenchmarkAll", "-benchmark_all", -22, FailureText("options \"benchmark_all\" not supported", "1", "benchmark_all", -22)},
    {"Pre", "-pre", -22, FailureText("options \"pre\" not supported", "1", "pre", -22)},
    {"Stdin", "-stdin", -22, FailureText("options \"stdin\" not supported", "1", "stdin", -22)},
    {"Timelimit", "-timelimit", -22, FailureText("options \"timelimit\" not supported", "1", "timelimit", -22)},
    {"Sameq", "-sameq", -22, FailureText(Removed, "1", "sameq", -22)},
    {"SameQuant", "-same_quant", -22,
     FailureText("Option \"same_quant\" was removed. If you are looking for an option to preserve the quality (which is "
                 "not what -same_quant was for), use -qscale 0 or an equivalent quality factor option.",
                 "1", "same_quant", -22)},
    {"MaxAllocSuffix", "-max_alloc 10k", -22, FailureText("Invalid max_alloc \"10k\".", "10k", "max_alloc", -22)},
    {"MaxAllocNegative", "-max_alloc -5", -22, FailureText("Invalid max_alloc \"-5\".", "-5", "max_alloc", -22)},
    {"CpuFlags", "-cpuflags nosuchflag", AVERROR(EINVAL),
     FailureText("Failed to parse cpu flags \"nosuchflag\": " + ErrorText(AVERROR(EINVAL)), "nosuchflag", "cpuflags",
                 AVERROR(EINVAL))},
    {"VSyncNumber", "-vsync 3", -22, FailureText("The value for \"vsync\" was \"3\" which is invalid", "3", "vsync", -22)},
    {"VSyncWord", "-vsync sometimes", -22,
     FailureText("The value for \"vsync\" was \"sometimes\" which is invalid", "sometimes", "vsync", -22)},
    {"ChannelLayout", "-channel_layout foo", -22, FailureText("Unknown channel layout: foo", "foo", "channel_layout", -22)},
    {"TimeStart", "-TimeStart abc", -22,
     FailureText("Expected double for \"TimeStart\" but found \"abc\"", "abc", "TimeStart", -22)},
    {"TimeLength", "-TimeLength 1e300", -22,
     FailureText("\"1e300\" is not a valid number of seconds", "1e300", "TimeLength", -22)},
    {"VHook", "-vhook /lib/x.so", -22,
     FailureText("Option \"vhook\" needs the video hooks of the transcoding task", "/lib/x.so", "vhook", -22)},
    {"VideoHookBitsPixel", "-VideoHookBitsPixel 24", -22,
     FailureText("Option \"VideoHookBitsPixel\" needs the video hooks of the transcoding task", "24",
                 "VideoHookBitsPixel", -22)},
    {"StreamIdSyntax", "-streamid 1", -22,
     FailureText("Invalid value \"1\" for option \"streamid\", required syntax is \"index:value\"", "1", "streamid", -22)},
    {"StreamIdIndex", "-streamid 1024:5", -22,
     FailureText("The value for \"streamid\" was \"1024\" which is not within 0 - 1023", "1024:5", "streamid", -22)},
    {"StreamIdValue", "-streamid 0:-1", -22,
     FailureText("The value for \"streamid\" was \"-1\" which is not within 0 - 2147483647", "0:-1", "streamid", -22)},
    {"UnknownPresetFile", "-vpre /nonexistent/x.ffpreset", -22,
     FailureText("Preset file \"/nonexistent/x.ffpreset\" not found", "/nonexistent/x.ffpreset", "vpre", -22)},
};

INSTANTIATE_TEST_SUITE_P(Rows, HandlerFailures, ::testing::ValuesIn(FailureCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Forwarded values are read under the name they are forwarded to.
TEST_F(OptTest, ForwardedValuesAreReadUnderTheirNewName) {
  struct TCase {
    const char* Line;
    const char* Message;
  };
  const TCase cases[] = {
      {"-vframes abc", "Expected int64 for \"frames:v\" but found \"abc\""},
      {"-aframes 1.5", "Expected int64 for \"frames:a\" but found \"1.5\""},
      {"-dframes x", "Expected int64 for \"frames:d\" but found \"x\""},
      {"-aq loud", "Expected double for \"q:a\" but found \"loud\""},
      {"-qscale high", "Expected double for \"q:v\" but found \"high\""},
      {"-qscale:a high", "Expected double for \"q:a\" but found \"high\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Line);
    Engine.InitFileOptions(O);
    try {
      Parse(c.Line);
      ADD_FAILURE() << "no exception";
    } catch (const FFmpegException& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_TRUE(O.MaxFrames.empty());
    EXPECT_TRUE(O.QScales.empty());
  }
}

TEST_F(OptTest, InformationalOptionsWarnAndParsingGoesOn) {
  for (const char* name : {"L", "h", "?", "help", "-help", "version", "formats", "codecs", "decoders", "encoders",
                           "bsfs", "protocols", "filters", "pix_fmts", "layouts", "sample_fmts"}) {
    SCOPED_TRACE(name);
    Engine.InitFileOptions(O);
    Recorder.Clear();
    ASSERT_EQ(Parse(std::string("-") + name + " -s 320x240"), 0);
    EXPECT_EQ(O.FrameSizes.size(), 1u);
    EXPECT_TRUE(Recorder.Contains(llWarning, std::string("options \"") + name + "\" not supported, ignore"));
  }
}

TEST_F(OptTest, VSyncValues) {
  struct TCase {
    const char* Arg;
    int Expected;
  };
  for (const TCase& c : {TCase{"cfr", 1}, TCase{"VFR", 2}, TCase{"passthrough", 0}, TCase{"Drop", 255},
                         TCase{"1", 1}, TCase{"-1", -1}, TCase{"0", 0}, TCase{"2", 2}, TCase{"255", 255}}) {
    SCOPED_TRACE(c.Arg);
    Engine.VideoSyncMethod = -1;
    Engine.InitFileOptions(O);
    ASSERT_EQ(Parse(std::string("-vsync ") + c.Arg), 0);
    EXPECT_EQ(Engine.VideoSyncMethod, c.Expected);
  }
}

TEST_F(OptTest, NumericVSyncOnALaterLineHasNoEffect) {
  ASSERT_EQ(Parse("-vsync 1"), 0);
  Engine.InitFileOptions(O);
  ASSERT_EQ(Parse("-vsync 2"), 0);
  EXPECT_EQ(Engine.VideoSyncMethod, 1);
  Engine.InitFileOptions(O);
  ASSERT_EQ(Parse("-vsync 3"), 0);  // not even read
  Engine.InitFileOptions(O);
  ASSERT_EQ(Parse("-vsync vfr"), 0);
  EXPECT_EQ(Engine.VideoSyncMethod, 2);
}

TEST_F(OptTest, LogLevelOptionFailure) {
  Engine.StrictOptions = true;
  EXPECT_EQ(Parse("-loglevel loud"), -22);
  EXPECT_EQ(Engine.LastErrorText.rfind("Invalid loglevel \"loud\". Possible levels are numbers or:\r\n", 0), 0u)
      << Engine.LastErrorText;
  EXPECT_NE(Engine.LastErrorText.find("Failed to set value \"loud\" for option \"loglevel\""), std::string::npos);
  GetFFLogger().SetLogLevel(llDebug);
}

TEST_F(OptTest, MaxAllocLimitsAllocations) {
  ASSERT_EQ(Parse("-max_alloc 100000"), 0);
  void* big = av_malloc(200000);
  void* small = av_malloc(1000);
  av_max_alloc(INT_MAX);
  EXPECT_EQ(big, nullptr);
  EXPECT_NE(small, nullptr);
  av_free(big);
  av_free(small);
}

TEST_F(OptTest, CpuFlagsAreForcedOnlyWhereTheProcessorHasThem) {
  av_force_cpu_flags(-1);
  const int detected = av_get_cpu_flags();
  if (!(detected & AV_CPU_FLAG_SSE2)) GTEST_SKIP() << "processor without SSE2";
  ASSERT_EQ(Parse("-cpuflags -sse2"), 0);
  EXPECT_FALSE(av_get_cpu_flags() & AV_CPU_FLAG_SSE2);
  EXPECT_TRUE(av_get_cpu_flags() & AV_CPU_FLAG_MMX);
  Engine.InitFileOptions(O);
  ASSERT_EQ(Parse("-cpuflags +sse2+avx512"), 0);
  EXPECT_TRUE(av_get_cpu_flags() & AV_CPU_FLAG_SSE2);
  EXPECT_EQ(av_get_cpu_flags() & AV_CPU_FLAG_AVX512, detected & AV_CPU_FLAG_AVX512);
  av_force_cpu_flags(-1);
}

TEST_F(OptTest, TimestampWritesCreationTimeMetadata) {
  ASSERT_EQ(Parse("-timestamp 2012-01-02T03:04:05Z"), 0) << Engine.LastErrorText;
  ASSERT_EQ(O.Metadata.size(), 1u);
  EXPECT_EQ(O.Metadata[0].Specifier, "");
  EXPECT_EQ(O.Metadata[0].Str,
            "creation_time=" + DateTimeText(UnixToLocal(1325473445)) + " " + TimeZoneText());
  EXPECT_EQ(O.Metadata[0].Str.rfind("creation_time=2012-01-0", 0), 0u);
  EXPECT_TRUE(Recorder.Contains(llWarning, "timestamp is deprecated, set the \"creation_time\" metadata tag instead."));

  Engine.InitFileOptions(O);
  EXPECT_THROW(Parse("-timestamp notadate"), FFmpegException);
}

TEST_F(OptTest, TimeStartUsesTheDecimalSeparator) {
  SetDecimalSeparator(',');
  const int ok = Parse("-TimeStart 1,25");
  Engine.InitFileOptions(O);
  const int bad = Parse("-TimeStart 1.25");
  SetDecimalSeparator('.');
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(bad, -22);
}

TEST_F(OptTest, ProgressOpensItsUrl) {
  test::TTempDir dir;
  const std::string path = dir.Path("progress.txt");
  ASSERT_EQ(Parse("-progress " + path), 0) << Engine.LastErrorText;
  EXPECT_TRUE(Engine.ProgressOutput);
  EXPECT_GT(Engine.LastWriteTime, 0);
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
  Engine.ProgressOutput.reset();

  Engine.InitFileOptions(O);
  const std::string bad = dir.Path("missing/progress.txt");
  EXPECT_LT(Parse("-progress " + bad), 0);
  EXPECT_EQ(Engine.LastErrorText.rfind("Failed to open progress URL \"" + bad + "\": ", 0), 0u) << Engine.LastErrorText;
  EXPECT_TRUE(Recorder.ContainsText("Failed to open progress URL \"" + bad + "\": "));
}

TEST_F(OptTest, DeviceChannelAndStandardWarnAndReachTheFormatLayer) {
  avdevice_register_all();
  ASSERT_EQ(Parse("-vc 1 -tvstd pal"), 0) << Engine.LastErrorText;
  EXPECT_TRUE(Recorder.Contains(llWarning, "This option is deprecated, use -channel."));
  EXPECT_TRUE(Recorder.Contains(llWarning, "This option is deprecated, use -standard."));
  EXPECT_STREQ(FormatOption("channel"), "1");
  EXPECT_STREQ(FormatOption("standard"), "pal");
}

TEST_F(OptTest, AttachAppendsCopies) {
  ASSERT_EQ(Parse("-attach a.ttf -attach \"b c.ttf\""), 0);
  EXPECT_EQ(O.Attachments, (std::vector<std::string>{"a.ttf", "b c.ttf"}));
}

TEST_F(OptTest, StreamIdGrowsTheMap) {
  ASSERT_EQ(Parse("-streamid 2:33 -streamid 0:7"), 0);
  EXPECT_EQ(O.StreamIdMap, (std::vector<int>{7, 0, 33}));
}

}  // namespace
}  // namespace vexa
