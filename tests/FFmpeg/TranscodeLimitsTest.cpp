// Output limits: -ss, -t, -to, -frames and -shortest.
#include <gtest/gtest.h>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

constexpr int kFps = 25;
constexpr int kRate = 22050;

struct TLimitCase {
  const char* Name;
  const char* Line;
  double VideoSeconds;  // expected length of the video (frames / fps)
  double AudioSeconds;  // expected length of the audio; < 0: no audio expected
  double FirstVideoPts;
};

class TranscodeLimitsTest : public ::testing::TestWithParam<TLimitCase> {};

TEST_P(TranscodeLimitsTest, OutputStopsAtTheLimit) {
  const TLimitCase& c = GetParam();
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddLavfi(160, 120, kFps, 3.0, kRate));
    ASSERT_GE(task.AddOutput(out, std::string("-c:v mpeg4 -c:a pcm_s16le ") + c.Line), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    EXPECT_TRUE(task.Finished);
  }
  const TDecodedFile f = DecodeFile(out);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_NEAR(static_cast<double>(v->Frames), c.VideoSeconds * kFps, 1.0);
  EXPECT_NEAR(v->FirstPts, c.FirstVideoPts, 0.05);
  const TDecodedStream* a = f.First(AVMEDIA_TYPE_AUDIO);
  if (c.AudioSeconds < 0) {
    EXPECT_EQ(a, nullptr);
  } else {
    ASSERT_NE(a, nullptr);
    // The sine source comes in frames of 1024 samples.
    EXPECT_NEAR(static_cast<double>(a->Samples) / kRate, c.AudioSeconds, 1024.0 / kRate);
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, TranscodeLimitsTest,
                         ::testing::Values(TLimitCase{"Duration", "-t 1", 1.0, 1.0, 0.0},
                                           TLimitCase{"StartAndDuration", "-ss 1 -t 1.2", 1.2, 1.2, 0.0},
                                           TLimitCase{"StopTime", "-to 1.6", 1.6, 1.6, 0.0},
                                           TLimitCase{"StartAndStopTime", "-ss 0.5 -to 2", 1.5, 1.5, 0.0},
                                           TLimitCase{"VideoFrames", "-frames:v 10 -an", 0.4, -1, 0.0}),
                         [](const ::testing::TestParamInfo<TLimitCase>& info) { return std::string(info.param.Name); });

TEST(TranscodeShortestTest, EndsAllStreamsWithTheShortest) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, kFps, 1.0), "-f lavfi"));
    ASSERT_TRUE(task.AddInput(LavfiAudio(kRate, 2, 3.0), "-f lavfi"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -c:a pcm_s16le -shortest"), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  const TDecodedFile f = DecodeFile(out);
  ASSERT_NE(f.First(AVMEDIA_TYPE_VIDEO), nullptr);
  ASSERT_NE(f.First(AVMEDIA_TYPE_AUDIO), nullptr);
  EXPECT_NEAR(static_cast<double>(f.First(AVMEDIA_TYPE_VIDEO)->Frames), kFps * 1.0, 1.0);
  // Without -shortest the audio would run for 3 s.
  EXPECT_NEAR(static_cast<double>(f.First(AVMEDIA_TYPE_AUDIO)->Samples) / kRate, 1.0, 0.1);
}

TEST(TranscodeFramesTest, FrameLimitDropsCopiedPackets) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string in = WriteMediaFile(dir.Path("in.mkv"), VideoOnlySpec());
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(in, ""));
    ASSERT_GE(task.AddOutput(out, "-c:v copy -frames:v 7"), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    EXPECT_TRUE(task.Finished);
  }
  EXPECT_EQ(DecodeFile(out).First(AVMEDIA_TYPE_VIDEO)->Packets, 7);
}

}  // namespace
}  // namespace vexa::test
