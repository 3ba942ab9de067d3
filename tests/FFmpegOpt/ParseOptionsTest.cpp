#include <gtest/gtest.h>

#include <functional>

#include "ErrorText/ErrorText.h"
#include "OptFixtures.h"

namespace vexa {
namespace {

using test::OptTest;

void ExpectList(const TSpecifierList& list, const std::vector<std::pair<std::string, std::string>>& expected) {
  ASSERT_EQ(list.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(list[i].Specifier, expected[i].first) << i;
    EXPECT_EQ(list[i].Str, expected[i].second) << i;
  }
}

TEST_F(OptTest, ScreenInputLineFillsGroupsAndFields) {
  ASSERT_EQ(Parse(" -f gdicapture  -capture_offset 10,10 -s 320x240 -r 15", "input file"), 0);
  EXPECT_EQ(O.Format, "gdicapture");
  ASSERT_NE(FormatOption("capture_offset"), nullptr);
  EXPECT_STREQ(FormatOption("capture_offset"), "10,10");
  EXPECT_EQ(O.Group->CodecOptions.Count(), 0);
  ExpectList(O.FrameSizes, {{"", "320x240"}});
  ExpectList(O.FrameRates, {{"", "15"}});
  ASSERT_EQ(Engine.FileGroup.size(), 3u);
  EXPECT_EQ(Engine.FileGroup[0].Name, "f");
  EXPECT_EQ(Engine.FileGroup[1].Name, "s");
  EXPECT_EQ(Engine.FileGroup[2].Name, "r");
  EXPECT_TRUE(Engine.GlobalGroup.empty());
  EXPECT_TRUE(Recorder.Contains(llInfo, "ParseOptions for input file:  -f gdicapture  -capture_offset 10,10 -s 320x240 -r 15"));
  EXPECT_TRUE(Recorder.Contains(llDebug, "Parsing the options."));
  EXPECT_TRUE(Recorder.Contains(llDebug, "matched as AVOption \"capture_offset\" with argument \"10,10\"."));
  EXPECT_TRUE(Recorder.Contains(llDebug, "Parsing a group of options: input file."));
  EXPECT_TRUE(Recorder.Contains(llDebug, "Finished parsing the options."));
}

TEST_F(OptTest, GroupingAndApplyingLogTheirSteps) {
  ASSERT_EQ(Parse("-s 320x240 -threads 2 -nostats"), 0);
  const std::string s = Engine.FindOption("s")->Help;
  const std::string stats = Engine.FindOption("stats")->Help;
  const std::vector<std::string> expected = {
      "Parsing the options.",
      "Reading option \"-s\" ... ",
      "matched as option \"s\" (" + s + ") with argument \"320x240\".",
      "Reading option \"-threads\" ... ",
      "matched as AVOption \"threads\" with argument \"2\".",
      "Reading option \"-nostats\" ... ",
      "matched as option \"stats\" (" + stats + ") with argument 0.",
      "Finished parsing the options.",
      "Parsing a group of options: global.",
      "Applying option nostats (" + stats + ") with argument 0.",
      "Successfully parsed a group of options.",
      "Parsing a group of options: output file.",
      "Applying option s (" + s + ") with argument 320x240.",
      "Successfully parsed a group of options.",
  };
  std::vector<std::string> debug;
  for (const test::TLogLine& line : Recorder.Lines()) {
    std::string msg = line.Msg;
    while (!msg.empty() && msg.back() == '\n') msg.pop_back();
    if (line.Level == llDebug) debug.push_back(msg);
  }
  EXPECT_EQ(debug, expected);
}

// The recorder's worked example: region 10,10 800x600, cursor captured, 15 fps,
// audio at 44100 Hz stereo, mp4, quality 6, 768 kbit/s, four processors.
TEST_F(OptTest, RecorderWorkedExampleInputLine) {
  const std::string line = std::string(" -f gdicapture  -capture_offset ") + "10" + "," + "10" +
                           " -capture_flags +showframe+client+cursor " + " -s " + "800" + "x" + "600" + " -r " +
                           "15" + " -ar " + "44100" + " -ac " + "2" + " -sample_fmt s16 ";
  ASSERT_EQ(Parse(line, "input file"), 0) << Engine.LastErrorText;
  EXPECT_EQ(O.Format, "gdicapture");
  EXPECT_STREQ(FormatOption("capture_offset"), "10,10");
  EXPECT_STREQ(FormatOption("capture_flags"), "+showframe+client+cursor");
  ExpectList(O.FrameSizes, {{"", "800x600"}});
  ExpectList(O.FrameRates, {{"", "15"}});
  ASSERT_EQ(O.SampleRates.size(), 1u);
  EXPECT_EQ(O.SampleRates[0].Int, 44100);
  ASSERT_EQ(O.AudioChannels.size(), 1u);
  EXPECT_EQ(O.AudioChannels[0].Int, 2);
  ExpectList(O.SampleFormats, {{"", "s16"}});
}

TEST_F(OptTest, RecorderWorkedExampleOutputLine) {
  const std::string line = std::string(" -c:v mpeg4") + " -c:a libfaac" + " -s " + "800" + "x" + "600" + " -ac 2 " +
                           " -b:a 128k -ar " + "44100" + " -sn -b:v " + "768" + "k" + " -qscale " + "6" + " " +
                           " -threads " + "4" + "   -async 1 -vsync 1 ";
  ASSERT_EQ(Parse(line), 0) << Engine.LastErrorText;
  ExpectList(O.CodecNames, {{"v", "mpeg4"}, {"a", "libfaac"}});
  ExpectList(O.FrameSizes, {{"", "800x600"}});
  ASSERT_EQ(O.AudioChannels.size(), 1u);
  EXPECT_EQ(O.AudioChannels[0].Int, 2);
  ASSERT_EQ(O.SampleRates.size(), 1u);
  EXPECT_EQ(O.SampleRates[0].Int, 44100);
  EXPECT_EQ(O.SubtitleDisable, 1);
  EXPECT_STREQ(CodecOption("b:a"), "128k");
  EXPECT_STREQ(CodecOption("b:v"), "768k");
  EXPECT_STREQ(CodecOption("threads"), "4");
  ASSERT_EQ(O.QScales.size(), 1u);
  EXPECT_EQ(O.QScales[0].Specifier, "v");
  EXPECT_DOUBLE_EQ(O.QScales[0].Dbl, 6.0);
  EXPECT_TRUE(Recorder.Contains(llWarning, "Please use -q:a or -q:v, -qscale is ambiguous"));
  EXPECT_FALSE(Recorder.ContainsText("-b is ambiguous"));
  EXPECT_EQ(Engine.AudioSyncMethod, 1);
  EXPECT_EQ(Engine.VideoSyncMethod, 1);
}

TEST_F(OptTest, WatermarkFilterReachesTheVideoFilters) {
  const std::string filter =
      "movie=C\\\\:/logo.png [watermark]; [in] [watermark] overlay=main_w-overlay_w-5:main_h-overlay_h-5 [out]";
  ASSERT_EQ(Parse(" -ac 2  -vf \"" + filter + "\" -sn -b:v 768k"), 0) << Engine.LastErrorText;
  ExpectList(O.Filters, {{"v", filter}});
}

TEST_F(OptTest, VideoFilterWithBlanksQuotesAndBackslashes) {
  ASSERT_EQ(Parse("-vf \"drawtext=text='a b':x=\\\"1\\\" C:\\\\dir\\\\\""), 0) << Engine.LastErrorText;
  ExpectList(O.Filters, {{"v", "drawtext=text='a b':x=\"1\" C:\\\\dir\\"}});
}

TEST_F(OptTest, CodecWithSpecifierAndLastMatchWins) {
  ASSERT_EQ(Parse("-c:v mpeg4 -c:a mp2 -c:v libx264"), 0);
  ExpectList(O.CodecNames, {{"v", "mpeg4"}, {"a", "mp2"}, {"v", "libx264"}});
  const TSpecifierValue* video = TCustomFFmpegOpt::MatchMediaType(O.CodecNames, "v");
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->Str, "libx264");
  EXPECT_EQ(TCustomFFmpegOpt::MatchMediaType(O.CodecNames, "s"), nullptr);

  test::AddInput(Engine, {{AVMEDIA_TYPE_VIDEO}, {AVMEDIA_TYPE_AUDIO, 2}});
  AVFormatContext* s = Engine.InputFiles[0]->FormatContext;
  const TSpecifierValue* v = Engine.MatchPerStream(O.CodecNames, s, s->streams[0]);
  const TSpecifierValue* a = Engine.MatchPerStream(O.CodecNames, s, s->streams[1]);
  ASSERT_NE(v, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(v->Str, "libx264");
  EXPECT_EQ(a->Str, "mp2");
}

TEST_F(OptTest, PerStreamMatchingExactTypeIgnoresLongerSpecifiers) {
  ASSERT_EQ(Parse("-c:v h264 -c:v:0 mpeg4 -s 640x480 -s:v 320x240"), 0);
  EXPECT_EQ(TCustomFFmpegOpt::MatchMediaType(O.CodecNames, "v")->Str, "h264");
  test::AddInput(Engine, {{AVMEDIA_TYPE_VIDEO}});
  AVFormatContext* s = Engine.InputFiles[0]->FormatContext;
  EXPECT_EQ(Engine.MatchPerStream(O.CodecNames, s, s->streams[0])->Str, "mpeg4");
  EXPECT_EQ(Engine.MatchPerStream(O.FrameSizes, s, s->streams[0])->Str, "320x240");
}

TEST_F(OptTest, InvalidSpecifierAbortsMatching) {
  ASSERT_EQ(Parse("-c:zz:9 mpeg4"), 0);
  test::AddInput(Engine, {{AVMEDIA_TYPE_VIDEO}});
  AVFormatContext* s = Engine.InputFiles[0]->FormatContext;
  try {
    Engine.MatchPerStream(O.CodecNames, s, s->streams[0]);
    FAIL() << "no abort";
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("check_stream_specifier: ", 0), 0u) << e.what();
    EXPECT_EQ(Engine.LastErrorText, e.what());
    EXPECT_TRUE(Recorder.Contains(llFatal, e.what()));
  }
}

TEST_F(OptTest, AmbiguousBitrateWarnsAndSetsVideo) {
  ASSERT_EQ(Parse("-b 1000k"), 0);
  EXPECT_STREQ(CodecOption("b:v"), "1000k");
  EXPECT_EQ(CodecOption("b"), nullptr);
  EXPECT_TRUE(Recorder.Contains(llWarning, "Please use -b:a or -b:v, -b is ambiguous"));
}

TEST_F(OptTest, BitrateWithSpecifierHasNoWarning) {
  ASSERT_EQ(Parse("-b:a 128k -b:v 1M"), 0);
  EXPECT_STREQ(CodecOption("b:a"), "128k");
  EXPECT_STREQ(CodecOption("b:v"), "1M");
  EXPECT_FALSE(Recorder.ContainsText("ambiguous"));
}

struct TBoolCase {
  const char* Line;
  int TFileOptions::*Field;
  int Expected;
};

TEST_F(OptTest, BooleanFileOptionsAndTheirNoForms) {
  const TBoolCase cases[] = {
      {"-re", &TFileOptions::RateEmulation, 1},   {"-re -nore", &TFileOptions::RateEmulation, 0},
      {"-nore", &TFileOptions::RateEmulation, 0}, {"-an", &TFileOptions::AudioDisable, 1},
      {"-vn -novn", &TFileOptions::VideoDisable, 0}, {"-shortest", &TFileOptions::Shortest, 1},
  };
  for (const TBoolCase& c : cases) {
    SCOPED_TRACE(c.Line);
    Engine.InitFileOptions(O);
    O.RateEmulation = 7;
    O.AudioDisable = O.VideoDisable = O.Shortest = 7;
    ASSERT_EQ(Parse(c.Line), 0);
    EXPECT_EQ(O.*(c.Field), c.Expected);
  }
}

TEST_F(OptTest, NoStatsSetsPrintStatsToZero) {
  EXPECT_EQ(Engine.PrintStats, -1);
  ASSERT_EQ(Parse("-nostats -y"), 0);
  EXPECT_EQ(Engine.PrintStats, 0);
  EXPECT_EQ(Engine.FileOverwrite, 1);
  EXPECT_TRUE(Recorder.ContainsText("matched as option \"stats\""));
}

TEST_F(OptTest, NoPrefixOnlyForBooleans) {
  Engine.StrictOptions = true;
  EXPECT_EQ(Parse("-nor"), AVERROR_OPTION_NOT_FOUND);
  EXPECT_TRUE(O.FrameRates.empty());
}

TEST_F(OptTest, ThreadsBecomesACodecOptionOfTheFileGroup) {
  ASSERT_EQ(Parse("-threads 2"), 0);
  EXPECT_STREQ(CodecOption("threads"), "2");
  EXPECT_TRUE(Engine.FileGroup.empty());
  EXPECT_TRUE(Engine.GlobalGroup.empty());
  EXPECT_EQ(Engine.FFOptions.CodecOptions.Get(), nullptr);  // moved into the file group
}

TEST_F(OptTest, MissingArgument) {
  for (bool strict : {true, false}) {
    SCOPED_TRACE(strict);
    Engine.InitFileOptions(O);
    Engine.StrictOptions = strict;
    Engine.LastErrorText.clear();
    Recorder.Clear();
    // Different names per pass: the logger collapses a repeated line.
    const std::string name = strict ? "r" : "aspect";
    const int ret = Parse("-s 320x240 -" + name);
    EXPECT_TRUE(Recorder.ContainsText("Missing argument for option \"" + name + "\"."));
    EXPECT_TRUE(Recorder.Contains(llFatal, ErrorText(AVERROR(EINVAL))));
    // The group was not applied: the failure ends the line.
    EXPECT_TRUE(O.FrameSizes.empty());
    if (strict) {
      EXPECT_EQ(ret, AVERROR(EINVAL));
      EXPECT_EQ(Engine.LastErrorText, "Missing argument for option \"r\".\r\n" + ErrorText(AVERROR(EINVAL)));
    } else {
      EXPECT_EQ(ret, 0);
      EXPECT_EQ(Engine.LastErrorText, "");
    }
  }
}

TEST_F(OptTest, UnknownOptionAtTheEnd) {
  Engine.StrictOptions = true;
  EXPECT_EQ(Parse("-s 320x240 -foo"), AVERROR_OPTION_NOT_FOUND);
  EXPECT_NE(Engine.LastErrorText.find(ErrorText(AVERROR_OPTION_NOT_FOUND)), std::string::npos);
  EXPECT_TRUE(Recorder.ContainsText("Unrecognized option \"foo\"."));
  EXPECT_TRUE(O.FrameSizes.empty());

  Engine.InitFileOptions(O);
  Engine.StrictOptions = false;
  EXPECT_EQ(Parse("-s 320x240 -foo"), 0);
  ExpectList(O.FrameSizes, {{"", "320x240"}});
}

TEST_F(OptTest, UnknownOptionInTheMiddleWithoutStrictSkipsOnlyItself) {
  Engine.StrictOptions = false;
  EXPECT_EQ(Parse("-foo -s 320x240 -bar baz -r 5"), 0);
  ExpectList(O.FrameSizes, {{"", "320x240"}});
  ExpectList(O.FrameRates, {{"", "5"}});
  EXPECT_TRUE(Recorder.ContainsText("Invalid option baz found while parsing options, ignore"));
}

TEST_F(OptTest, StrayToken) {
  Engine.StrictOptions = true;
  EXPECT_EQ(Parse("-s 320x240 abc -r 5"), AVERROR(EINVAL));
  EXPECT_EQ(Engine.LastErrorText.rfind("Failed to parse options on abc", 0), 0u) << Engine.LastErrorText;
  EXPECT_TRUE(Recorder.ContainsText("Failed to parse options on abc"));

  Engine.InitFileOptions(O);
  EXPECT_EQ(Parse("-s 320x240 \"\""), AVERROR(EINVAL));
  EXPECT_EQ(Engine.LastErrorText.rfind("Failed to parse options\r\n", 0), 0u) << Engine.LastErrorText;

  Engine.InitFileOptions(O);
  Engine.StrictOptions = false;
  EXPECT_EQ(Parse("-s 320x240 abc - -r 5"), 0);
  ExpectList(O.FrameRates, {{"", "5"}});
  EXPECT_TRUE(Recorder.ContainsText("Invalid option abc found while parsing options, ignore"));
  EXPECT_TRUE(Recorder.ContainsText("Invalid option - found while parsing options, ignore"));
}

TEST_F(OptTest, UnreadableNumberEndsTheAddWhateverStrict) {
  for (bool strict : {true, false}) {
    SCOPED_TRACE(strict);
    Engine.InitFileOptions(O);
    Engine.StrictOptions = strict;
    try {
      Parse("-ar abc");
      FAIL() << "no exception";
    } catch (const FFmpegException& e) {
      EXPECT_STREQ(e.what(), "Expected integer for \"ar\" but found \"abc\"");
      EXPECT_EQ(Engine.LastErrorText, e.what());
    }
    EXPECT_TRUE(O.SampleRates.empty());
  }
}

struct TValueCase {
  const char* Line;
  std::function<void(const TCustomFFmpegOpt&, const TFileOptions&)> Check;
};

TEST_F(OptTest, ValueKindsAreStoredInTheirTargets) {
  const TValueCase cases[] = {
      {"-t 1:00", [](auto&, auto& o) { EXPECT_EQ(o.RecordingTime, 60000000); }},
      {"-t_microsecond 1500", [](auto&, auto& o) { EXPECT_EQ(o.RecordingTime, 1500); }},
      {"-to 2.5", [](auto&, auto& o) { EXPECT_EQ(o.StopTime, 2500000); }},
      {"-ss 00:00:01.5", [](auto&, auto& o) { EXPECT_EQ(o.StartTime, 1500000); }},
      {"-itsoffset -2", [](auto&, auto& o) { EXPECT_EQ(o.InputTsOffset, -2000000); }},
      {"-fs 1000000", [](auto&, auto& o) { EXPECT_EQ(o.LimitFileSize, 1000000); }},
      {"-map_chapters 1", [](auto&, auto& o) { EXPECT_EQ(o.ChaptersInputFile, 1); }},
      {"-muxdelay 0.25", [](auto&, auto& o) { EXPECT_FLOAT_EQ(o.MuxMaxDelay, 0.25f); }},
      {"-muxpreload 0.5", [](auto&, auto& o) { EXPECT_FLOAT_EQ(o.MuxPreload, 0.5f); }},
      {"-itsscale:v 2.5", [](auto&, auto& o) { ASSERT_EQ(o.TsScales.size(), 1u); EXPECT_EQ(o.TsScales[0].Specifier, "v"); EXPECT_DOUBLE_EQ(o.TsScales[0].Dbl, 2.5); }},
      {"-frames:v 100", [](auto&, auto& o) { ASSERT_EQ(o.MaxFrames.size(), 1u); EXPECT_EQ(o.MaxFrames[0].Int64, 100); }},
      {"-copyinkf:a", [](auto&, auto& o) { ASSERT_EQ(o.CopyInitialNonKeyframes.size(), 1u); EXPECT_EQ(o.CopyInitialNonKeyframes[0].Specifier, "a"); EXPECT_EQ(o.CopyInitialNonKeyframes[0].Int, 1); }},
      {"-vol 512 -async 2 -copytb 1 -dc 9 -vdt 3 -bits_per_raw_sample 10", [](auto& e, auto&) {
         EXPECT_EQ(e.AudioVolume, 512); EXPECT_EQ(e.AudioSyncMethod, 2); EXPECT_EQ(e.CopyTb, 1);
         EXPECT_EQ(e.IntraDcPrecision, 9); EXPECT_EQ(e.VideoDiscard, 3); EXPECT_EQ(e.FrameBitsPerRawSample, 10); }},
      {"-adrift_threshold 0.5 -dts_delta_threshold 3 -dts_error_threshold 5", [](auto& e, auto&) {
         EXPECT_FLOAT_EQ(e.AudioDriftThreshold, 0.5f); EXPECT_FLOAT_EQ(e.DtsDeltaThreshold, 3.0f);
         EXPECT_FLOAT_EQ(e.DtsErrorThreshold, 5.0f); }},
      {"-y -n -dump -hex -copyts -xerror -stats -intra -psnr -qphist -isync", [](auto& e, auto&) {
         EXPECT_EQ(e.FileOverwrite + e.NoFileOverwrite + e.DoPktDump + e.DoHexDump + e.CopyTs + e.ExitOnError +
                   e.PrintStats + e.IntraOnly + e.DoPsnr + e.QpHist + e.InputSync, 11); }},
  };
  for (const TValueCase& c : cases) {
    SCOPED_TRACE(c.Line);
    Engine.InitFileOptions(O);
    ASSERT_EQ(Parse(c.Line), 0) << Engine.LastErrorText;
    c.Check(Engine, O);
  }
}

TEST_F(OptTest, DefaultsOfFileOptionsAndSettings) {
  EXPECT_EQ(O.Group, &Engine.FFOptions.FinishedGroup);
  EXPECT_EQ(O.ChaptersInputFile, 2147483647);
  EXPECT_EQ(O.RecordingTime, INT64_MAX);
  EXPECT_EQ(O.StopTime, INT64_MAX);
  EXPECT_EQ(O.LimitFileSize, INT64_MAX);
  EXPECT_FLOAT_EQ(O.MuxMaxDelay, 0.7f);
  EXPECT_EQ(O.MuxPreload, 0.0f);
  EXPECT_EQ(O.StartTime, 0);
  EXPECT_TRUE(O.Format.empty());
  const test::TTestEngine fresh;
  EXPECT_FLOAT_EQ(fresh.AudioDriftThreshold, 0.1f);
  EXPECT_FLOAT_EQ(fresh.DtsDeltaThreshold, 10.0f);
  EXPECT_FLOAT_EQ(fresh.DtsErrorThreshold, 108000.0f);
  EXPECT_EQ(fresh.AudioVolume, 256);
  EXPECT_EQ(fresh.VideoSyncMethod, -1);
  EXPECT_EQ(fresh.CopyTb, -1);
  EXPECT_EQ(fresh.PrintStats, -1);
  EXPECT_EQ(fresh.IntraDcPrecision, 8);
  EXPECT_TRUE(fresh.StrictOptions);
}

TEST_F(OptTest, FreeFileOptionsReleasesEverything) {
  ASSERT_EQ(Parse("-f mp4 -c:v mpeg4 -threads 2 -map_channel -1 -attach a.ttf -streamid 3:5 -metadata title=x"), 0);
  EXPECT_FALSE(O.Group->CodecOptions.Empty());
  Engine.FreeFileOptions(O);
  EXPECT_TRUE(O.Format.empty());
  EXPECT_TRUE(O.CodecNames.empty());
  EXPECT_TRUE(O.AudioChannelMaps.empty());
  EXPECT_TRUE(O.Attachments.empty());
  EXPECT_TRUE(O.StreamIdMap.empty());
  EXPECT_TRUE(Engine.FFOptions.FinishedGroup.Empty());
  EXPECT_TRUE(Engine.FileGroup.empty());
}

TEST_F(OptTest, SettingsPersistAcrossAdds) {
  ASSERT_EQ(Parse("-async 1 -vsync 1"), 0);
  Engine.FreeFileOptions(O);
  Engine.InitFileOptions(O);
  ASSERT_EQ(Parse("-s 320x240"), 0);
  EXPECT_EQ(Engine.AudioSyncMethod, 1);
  EXPECT_EQ(Engine.VideoSyncMethod, 1);
}

TEST_F(OptTest, GlobalOptionsAreAppliedBeforeTheFileGroup) {
  ASSERT_EQ(Parse("-s 320x240 -async 1"), 0);
  const auto lines = Recorder.Lines();
  std::size_t global = lines.size();
  std::size_t file = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].Msg.find("Parsing a group of options: global.") != std::string::npos) global = i;
    if (lines[i].Msg.find("Parsing a group of options: output file.") != std::string::npos) file = i;
  }
  ASSERT_LT(global, lines.size());
  ASSERT_LT(file, lines.size());
  EXPECT_LT(global, file);
}

TEST_F(OptTest, LogLevelPreScanGovernsTheRestOfTheParse) {
  GetFFLogger().SetLogLevel(llInfo);
  ASSERT_EQ(Parse("-s 320x240 -loglevel debug"), 0);
  EXPECT_EQ(GetFFLogger().LogLevel(), llDebug);
  // Debug lines from grouping, which runs after the pre-scan, were delivered.
  EXPECT_TRUE(Recorder.Contains(llDebug, "Parsing the options."));

  GetFFLogger().SetLogLevel(llDebug);
  Engine.InitFileOptions(O);
  Recorder.Clear();
  ASSERT_EQ(Parse("-v warning -s 320x240"), 0);
  EXPECT_EQ(GetFFLogger().LogLevel(), llWarning);
  EXPECT_FALSE(Recorder.Contains(llDebug, "Parsing the options."));
  GetFFLogger().SetLogLevel(llDebug);
}

TEST_F(OptTest, NoLineAppliesOnlyThePresets) {
  ASSERT_EQ(Engine.ParseOptions(O, std::nullopt, "output file", std::string("vcodec=mpeg4")), 0);
  ExpectList(O.CodecNames, {{"v", "mpeg4"}});
}

TEST_F(OptTest, OptionNamesAreCaseSensitive) {
  Engine.StrictOptions = true;
  EXPECT_EQ(Parse("-AudioInputHook -VideoInputHook -Join"), 0);
  Engine.InitFileOptions(O);
  EXPECT_EQ(Parse("-audioinputhook"), AVERROR_OPTION_NOT_FOUND);
}

TEST_F(OptTest, ParseOptionDirectly) {
  EXPECT_EQ(Engine.ParseOption(&O, "r", std::string("25")), 1);
  EXPECT_EQ(Engine.ParseOption(&O, "an", std::string("0")), 0);  // bool rows ignore the argument
  EXPECT_EQ(O.AudioDisable, 1);
  EXPECT_EQ(Engine.ParseOption(&O, "noan", std::nullopt), 0);
  EXPECT_EQ(O.AudioDisable, 0);
  EXPECT_EQ(Engine.ParseOption(&O, "nosuch", std::string("1")), AVERROR(EINVAL));
  EXPECT_EQ(OptionErrorText(), "Unrecognized option \"nosuch\"");
  EXPECT_EQ(Engine.ParseOption(&O, "r", std::nullopt), AVERROR(EINVAL));
  EXPECT_EQ(OptionErrorText(), "Missing argument for option \"r\"");
  ExpectList(O.FrameRates, {{"", "25"}});
}

TEST_F(OptTest, MediaLibraryValueErrorEndsTheParse) {
  Engine.StrictOptions = true;
  const int ret = Parse("-sws_flags nonsense_flag -s 320x240");
  EXPECT_LT(ret, 0);
  EXPECT_NE(ret, AVERROR_OPTION_NOT_FOUND);
  EXPECT_TRUE(Recorder.Contains(llError, "Error parsing option \"sws_flags\" with argument \"nonsense_flag\"."));
  EXPECT_EQ(Engine.LastErrorText, "Error setting option \"sws_flags\"\r\n" + ErrorText(ret));
  EXPECT_TRUE(O.FrameSizes.empty());
}

TEST_F(OptTest, RowsGoToTheirGroups) {
  ASSERT_EQ(Parse("-f mp4 -async 1 -r 5 -vsync 1 -qscale 3 -filter_complex nullsrc -y -timestamp now"), 0)
      << Engine.LastErrorText;
  std::vector<std::string> file;
  std::vector<std::string> global;
  for (const TOptionEntry& e : Engine.FileGroup) file.push_back(e.Name);
  for (const TOptionEntry& e : Engine.GlobalGroup) global.push_back(e.Name);
  EXPECT_EQ(file, (std::vector<std::string>{"f", "r", "qscale", "timestamp"}));
  EXPECT_EQ(global, (std::vector<std::string>{"async", "vsync", "filter_complex", "y"}));
}

}  // namespace
}  // namespace vexa
