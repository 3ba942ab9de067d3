// The hook dispatch points of the loop: frame hooks see (and may change) the
// pictures before filtering and before encoding; audio hooks see the samples.
#include <gtest/gtest.h>

#include <cstring>

#include "TranscodeTestSupport.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

namespace vexa::test {
namespace {

TEST(TranscodeHooksTest, FrameOutputHookChangesTheEncodedPicture) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  std::vector<int> numbers;
  std::vector<int64_t> times;
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput("color=c=black:size=64x48:rate=25:duration=0.4", "-f lavfi"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -qscale 2 -pix_fmt yuv420p"), 0) << task.LastErrorText;
    task.FrameOutputHook = [&](TCustomFFmpeg*, TAVPicture* picture, int64_t pts, int height, int width, int number,
                               int pixFmt) {
      ASSERT_EQ(pixFmt, AV_PIX_FMT_YUV420P);
      for (int y = 0; y < height; ++y) memset(picture->Data[0] + y * picture->LineSize[0], 235, width);
      numbers.push_back(number);
      times.push_back(pts);
    };
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  ASSERT_EQ(numbers.size(), 10u);
  for (size_t i = 0; i < numbers.size(); ++i) {
    EXPECT_EQ(numbers[i], static_cast<int>(i) + 1);
    EXPECT_EQ(times[i], static_cast<int64_t>(i) * 40000);  // microseconds
  }
  const TRgb white = PixelAt(out, 5, 32, 24);
  EXPECT_GT(white.R, 220);
  EXPECT_GT(white.G, 220);
  EXPECT_GT(white.B, 220);
}

TEST(TranscodeHooksTest, FrameInputHookSeesEveryDecodedFrame) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  int calls = 0;
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput("color=c=black:size=64x48:rate=25:duration=0.4,format=rgb24", "-f lavfi"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -qscale 2"), 0) << task.LastErrorText;
    task.FrameInputHook = [&](TCustomFFmpeg*, TAVPicture* picture, int64_t, int height, int width, int number,
                              int pixFmt) {
      ASSERT_EQ(pixFmt, AV_PIX_FMT_RGB24);
      EXPECT_EQ(number, ++calls);
      // Paint the picture green before it enters the filter graph.
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          uint8_t* p = picture->Data[0] + y * picture->LineSize[0] + x * 3;
          p[0] = 0;
          p[1] = 255;
          p[2] = 0;
        }
    };
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  EXPECT_EQ(calls, 10);
  const TRgb green = PixelAt(out, 3, 32, 24);
  EXPECT_LT(green.R, 40);
  EXPECT_GT(green.G, 200);
  EXPECT_LT(green.B, 40);
}

TEST(TranscodeHooksTest, AudioHooksSeeTheSamples) {
  TTempDir dir;
  TTranscodeLog log;
  int64_t inputBytes = 0;
  int64_t outputBytes = 0;
  int outputCalls = 0;
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiAudio(22050, 2, 1.0), "-f lavfi"));
    ASSERT_GE(task.AddOutput(dir.Path("out.mkv"), "-c:a pcm_s16le -sample_fmt s16"), 0) << task.LastErrorText;
    task.AudioInputHook = [&](TCustomFFmpeg*, uint8_t* samples, int64_t, int size, int rate, int channels,
                              AVSampleFormat) {
      EXPECT_NE(samples, nullptr);
      EXPECT_EQ(rate, 22050);
      EXPECT_EQ(channels, 2);
      inputBytes += size;
    };
    task.AudioOutputHook = [&](TCustomFFmpeg*, uint8_t*, int64_t, int size, int rate, int channels,
                               AVSampleFormat format) {
      EXPECT_EQ(rate, 22050);
      EXPECT_EQ(channels, 2);
      EXPECT_EQ(format, AV_SAMPLE_FMT_S16);
      outputBytes += size;
      outputCalls++;
    };
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  EXPECT_GT(outputCalls, 0);
  // One second of stereo 16-bit audio at the output.
  EXPECT_EQ(outputBytes, 22050 * 2 * 2);
  EXPECT_GT(inputBytes, 0);
}

}  // namespace
}  // namespace vexa::test
