// The recorder's watermark filter draws its picture into every frame; a
// two-pass MPEG-4 encode reads back the log of its first pass.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

constexpr int kW = 320;
constexpr int kH = 240;
constexpr int kLogo = 40;

bool Near(const TRgb& a, const TRgb& b, int tolerance) {
  return std::abs(a.R - b.R) <= tolerance && std::abs(a.G - b.G) <= tolerance && std::abs(a.B - b.B) <= tolerance;
}

TEST(TranscodeWatermarkTest, OverlayIsDrawnBottomRight) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string logo = dir.Path("logo.png");
  WritePng(logo, kLogo, kLogo, TRgb{255, 0, 0});
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput("color=c=blue:size=320x240:rate=25:duration=1", "-f lavfi"));
    // The filter text of position 9 (bottom right), quoted after -vf.
    const std::string line = " -c:v mpeg4 -qscale 2 -vf \"movie=" + logo +
                             " [watermark]; [in] [watermark] overlay=main_w-overlay_w-5:main_h-overlay_h-5 [out]\"";
    ASSERT_GE(task.AddOutput(out, line), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
  }
  EXPECT_EQ(DecodeFile(out).First(AVMEDIA_TYPE_VIDEO)->Frames, 25);
  const TRgb red{255, 0, 0};
  const TRgb blue{0, 0, 255};
  for (const int frame : {0, 12, 24}) {
    // Inside the logo: 5 pixels from the right and bottom edges.
    EXPECT_TRUE(Near(PixelAt(out, frame, kW - 5 - kLogo / 2, kH - 5 - kLogo / 2), red, 40)) << frame;
    // Outside: the source colour.
    EXPECT_TRUE(Near(PixelAt(out, frame, 20, 20), blue, 40)) << frame;
    EXPECT_TRUE(Near(PixelAt(out, frame, kW - 2, kH - 2), blue, 40)) << frame;
  }
}

class TranscodeTwoPassTest : public ::testing::Test {
 protected:
  void Encode(const std::string& out, const std::string& pass, bool expectSuccess = true) {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(kW, kH, 25, 2.0), "-f lavfi"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -b:v 300k " + pass + " -passlogfile " + Prefix), 0)
        << task.LastErrorText;
    task.RunInline();
    EXPECT_EQ(task.ExceptionRaised, !expectSuccess) << task.ExceptionMsg;
    Message = task.ExceptionMsg;
  }
  TTempDir Dir;
  TTranscodeLog Log;
  std::string Prefix = Dir.Path("stats");
  std::string Message;
};

TEST_F(TranscodeTwoPassTest, SecondPassReadsTheFirstPassLog) {
  const std::string logFile = Prefix + "-0.log";
  Encode(Dir.Path("pass1.mkv"), "-pass 1");
  ASSERT_TRUE(FileExists(logFile));
  EXPECT_GT(FileSizeOf(logFile), 0);
  const std::string out = Dir.Path("pass2.mkv");
  Encode(out, "-pass 2");
  const TDecodedFile f = DecodeFile(out);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Frames, 50);
  EXPECT_EQ(v->DecodeErrors, 0);
  // 300 kbit/s for 2 s, within the rate control's reach.
  EXPECT_NEAR(static_cast<double>(f.Size), 300000.0 / 8 * 2, 300000.0 / 8 * 2 * 0.5);
}

TEST_F(TranscodeTwoPassTest, SecondPassWithoutLogFails) {
  Encode(Dir.Path("pass2.mkv"), "-pass 2", false);
  EXPECT_EQ(Message, "Error reading log file \"" + Prefix + "-0.log\" for pass-2 encoding");
}

}  // namespace
}  // namespace vexa::test

namespace vexa::test {
namespace {

TEST(TranscodeComplexGraphTest, LabelledGraphOutputFeedsTheEncoder) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 25, 1.0), "-f lavfi"));
    ASSERT_GE(task.AddOutput(out, "-filter_complex \"[0:v] scale=80:60, hflip [small]\" -map \"[small]\" -c:v mpeg4"),
              0)
        << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
  }
  EXPECT_TRUE(log.Contains("  Stream #0:0 (rawvideo) -> "));
  const TDecodedFile f = DecodeFile(out);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Width, 80);
  EXPECT_EQ(v->Height, 60);
  EXPECT_EQ(v->Frames, 25);
}

}  // namespace
}  // namespace vexa::test
