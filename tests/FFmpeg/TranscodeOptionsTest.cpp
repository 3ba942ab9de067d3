// Per-run options of the encoding side: forced key frames, the low-bit-rate
// warning, the video statistics file, rate emulation, input timestamp scale,
// subtitles.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

struct TKeyFrameCase {
  const char* Name;
  const char* Option;
  std::vector<int> KeyFrames;
};

class TranscodeKeyFramesTest : public ::testing::TestWithParam<TKeyFrameCase> {};

TEST_P(TranscodeKeyFramesTest, ForcesKeyFramesWhereAsked) {
  const TKeyFrameCase& c = GetParam();
  TTempDir dir;
  TTranscodeLog log;
  const std::string in = WriteMediaFile(dir.Path("in.mkv"), ChaptersSpec());  // chapters at 0 s and 1 s, 2 s long
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(in, ""));
    ASSERT_GE(task.AddOutput(out, std::string("-c:v mpeg4 -g 1000 -sc_threshold 1000000000 -an ") + c.Option), 0)
        << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  const TDecodedFile f = DecodeFile(out);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Frames, 50);
  EXPECT_EQ(v->KeyFrames, c.KeyFrames);
}

INSTANTIATE_TEST_SUITE_P(
    KeyFrames, TranscodeKeyFramesTest,
    ::testing::Values(TKeyFrameCase{"None", "", {0}},
                      // 0.5 s is frame 12.5: the first frame at or after it is 13.
                      TKeyFrameCase{"Times", "-force_key_frames 1.2,0.5", {0, 13, 30}},
                      TKeyFrameCase{"Chapters", "-force_key_frames chapters+0.2", {0, 5, 30}},
                      TKeyFrameCase{"Expression", "-force_key_frames expr:gte(t,n_forced*0.5-0.01)", {0, 13, 25, 38}}),
    [](const ::testing::TestParamInfo<TKeyFrameCase>& info) { return std::string(info.param.Name); });

TEST(TranscodeKeyFramesErrorTest, InvalidExpressionFailsTheRun) {
  TTempDir dir;
  TTranscodeLog log;
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 25, 0.4), "-f lavfi"));
  ASSERT_GE(task.AddOutput(dir.Path("out.mkv"), "-c:v mpeg4 -force_key_frames expr:gte(t,"), 0);
  task.RunInline();
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_TRUE(log.Contains("Invalid force_key_frames expression \"gte(t,\""));
  EXPECT_EQ(task.ExceptionMsg.rfind("transcode_init() error: ", 0), 0u) << task.ExceptionMsg;
}

TEST(TranscodeBitrateTest, WarnsAboutABitRateInKilobits) {
  for (const auto& [rate, warned] : {std::pair<const char*, bool>{"500", true}, {"1000", false}, {"800k", false}}) {
    TTempDir dir;
    TTranscodeLog log;
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 25, 0.2), "-f lavfi"));
    ASSERT_GE(task.AddOutput(dir.Path("out.mkv"), std::string("-c:v mpeg4 -b:v ") + rate), 0);
    task.RunInline();
    EXPECT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    EXPECT_EQ(log.Contains("The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s"), warned)
        << rate;
  }
}

TEST(TranscodeVideoStatsTest, WritesOneLinePerFrame) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string stats = dir.Path("vstats.txt");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 25, 0.4), "-f lavfi"));
    ASSERT_GE(task.AddOutput(dir.Path("out.mkv"), "-c:v mpeg4 -vstats_file " + stats), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  std::ifstream f(stats);
  ASSERT_TRUE(f.good());
  std::string line;
  int lines = 0;
  while (std::getline(f, line)) {
    ++lines;
    EXPECT_EQ(line.rfind("frame= ", 0), 0u) << line;
    EXPECT_NE(line.find(" f_size= "), std::string::npos) << line;
    EXPECT_NE(line.find(" type= "), std::string::npos) << line;
  }
  EXPECT_EQ(lines, 10);
}

TEST(TranscodeRateEmulationTest, ReadsAtTheNativeRate) {
  TTempDir dir;
  TTranscodeLog log;
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(64, 48, 25, 1.0), "-f lavfi -re"));
  ASSERT_GE(task.AddOutput(dir.Path("out.mkv"), "-c:v mpeg4"), 0);
  const auto start = std::chrono::steady_clock::now();
  task.RunInline();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  // The last frame starts at 0.96 s of input time.
  EXPECT_GE(seconds, 0.9);
}

TEST(TranscodeTsScaleTest, InputTimestampScaleStretchesTheTimeline) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(64, 48, 25, 1.0), "-f lavfi -itsscale 2"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -vsync 2"), 0);
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  const TDecodedFile f = DecodeFile(out);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Frames, 25);
  EXPECT_NEAR(v->FramePts.back(), 0.96 * 2, 0.01);
}

TEST(TranscodeSubtitleTest, SubtitlesAreEncodedAndCopied) {
  TTempDir dir;
  TTranscodeLog log;
  TMediaSpec layout = SubtitlesSpec();
  layout.Seconds = 3.0;  // one cue per second
  const std::string in = WriteMediaFile(dir.Path("in.mkv"), layout);
  for (const char* codec : {"ass", "copy"}) {
    const std::string out = dir.Path(std::string("out-") + codec + ".mkv");
    TTestTask task;
    ASSERT_TRUE(task.AddInput(in, ""));
    ASSERT_GE(task.AddOutput(out, std::string("-c:v copy -c:s ") + codec), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    const TDecodedFile f = DecodeFile(out);
    const TDecodedStream* s = f.First(AVMEDIA_TYPE_SUBTITLE);
    ASSERT_NE(s, nullptr) << codec;
    EXPECT_EQ(s->Codec, std::string(codec) == "copy" ? "subrip" : "ass");
    EXPECT_EQ(s->Packets, 3) << codec;
    EXPECT_EQ(s->Frames, 3) << codec;
    EXPECT_EQ(s->DecodeErrors, 0) << codec;
    EXPECT_GT(task.SubtitleSize, 0);
  }
}

}  // namespace
}  // namespace vexa::test
