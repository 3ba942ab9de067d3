// Video synchronisation (duplicates and drops at a constant output rate) and
// audio synchronisation (-async 1).
#include <gtest/gtest.h>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

class TranscodeSyncTest : public ::testing::Test {
 protected:
  TTempDir Dir;
  TTranscodeLog Log;
};

TEST_F(TranscodeSyncTest, ConstantRateDuplicatesA5FpsSourceAt15Fps) {
  const std::string out = Dir.Path("dup.mkv");
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 5, 2.0), "-f lavfi"));
  ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -r 15 -vsync 1"), 0) << task.LastErrorText;
  task.RunInline();
  ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  // Ten input frames; every frame after the first covers three output slots.
  EXPECT_EQ(task.DupCount, 18);
  EXPECT_EQ(task.DropCount, 0);
  EXPECT_EQ(Log.Count("*** 2 dup!"), 9);
  const TDecodedFile decoded = DecodeFile(out);
  const TDecodedStream* v = decoded.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Frames, 28);
  // Constant rate: the frames are 1/15 s apart.
  for (size_t i = 1; i < v->FramePts.size(); ++i) EXPECT_NEAR(v->FramePts[i] - v->FramePts[i - 1], 1.0 / 15, 0.002);
}

// With an error threshold of 0.05 s no frame may be repeated more than 1.5
// times: every frame after the first is skipped and counted as a drop.
TEST_F(TranscodeSyncTest, TooLargeDuplicationIsSkipped) {
  const std::string out = Dir.Path("skip.mkv");
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 5, 2.0), "-f lavfi"));
  ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -r 15 -vsync 1 -dts_error_threshold 0.05"), 0) << task.LastErrorText;
  task.RunInline();
  ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  EXPECT_EQ(task.DupCount, 0);
  EXPECT_EQ(task.DropCount, 9);
  EXPECT_EQ(Log.Count("frame duplication too large, skipping"), 9) << Log.Text();
  EXPECT_TRUE(Log.Contains("2 frame duplication too large, skipping"));
  EXPECT_EQ(DecodeFile(out).First(AVMEDIA_TYPE_VIDEO)->Frames, 1);
}

TEST_F(TranscodeSyncTest, ConstantRateDropsFramesOfA30FpsSourceAt15Fps) {
  const std::string out = Dir.Path("drop.mkv");
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 30, 2.0), "-f lavfi"));
  ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -r 15 -vsync 1"), 0) << task.LastErrorText;
  task.RunInline();
  ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  const TDecodedFile decoded = DecodeFile(out);
  const TDecodedStream* v = decoded.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(task.DupCount, 0);
  // Constant rate lets the output fall one frame behind before it drops.
  EXPECT_NEAR(static_cast<double>(v->Frames), 30, 3);
  // Every input frame is either written once or dropped.
  EXPECT_EQ(task.DropCount + v->Frames, 60);
  EXPECT_EQ(Log.Count("*** drop!"), task.DropCount);
}

TEST_F(TranscodeSyncTest, PassthroughKeepsTheSourceTimestamps) {
  const std::string out = Dir.Path("vfr.mkv");
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 5, 2.0), "-f lavfi"));
  ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -r 15 -vsync 2"), 0) << task.LastErrorText;
  task.RunInline();
  ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  EXPECT_EQ(task.DupCount, 0);
  const TDecodedFile decoded = DecodeFile(out);
  const TDecodedStream* v = decoded.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Frames, 10);
  for (size_t i = 1; i < v->FramePts.size(); ++i) EXPECT_NEAR(v->FramePts[i] - v->FramePts[i - 1], 0.2, 0.002);
}

// Audio that starts 0.5 s late (timestamps kept with -copyts): -async 1
// fills the gap from 0 with silence.
TEST_F(TranscodeSyncTest, AsyncFillsTheStartOfLateAudio) {
  for (const bool async : {false, true}) {
    const std::string out = Dir.Path(async ? "async.mkv" : "plain.mkv");
    TTestTask task;
    ASSERT_TRUE(task.AddInput("sine=frequency=440:sample_rate=22050:duration=1,asetpts=PTS+0.5/TB", "-f lavfi -copyts"));
    ASSERT_GE(task.AddOutput(out, std::string("-c:a pcm_s16le") + (async ? " -async 1" : "")), 0)
        << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    const TDecodedFile decoded = DecodeFile(out);
  const TDecodedStream* a = decoded.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(a, nullptr);
    if (async) {
      EXPECT_NEAR(a->FirstPts, 0.0, 0.01);
      EXPECT_NEAR(static_cast<double>(a->Samples) / 22050, 1.5, 0.05);
    } else {
      EXPECT_NEAR(a->FirstPts, 0.5, 0.01);
      EXPECT_NEAR(static_cast<double>(a->Samples) / 22050, 1.0, 0.05);
    }
  }
  EXPECT_TRUE(Log.Contains("-async is forwarded to lavfi similarly to -af aresample=async=1"));
}

}  // namespace
}  // namespace vexa::test
