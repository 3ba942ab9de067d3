// Join mode: two inputs read one after the other into one output, with the
// second input's timestamps continuing where the first ended; and a stop
// request during a long encode still leaves a finished file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Base/MainThread.h"
#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

TEST(TranscodeJoinTest, SecondInputContinuesTheTimeline) {
  TTempDir dir;
  TTranscodeLog log;
  TMediaSpec layout = VideoAudioSpec();
  layout.Seconds = 1.0;
  const std::string a = WriteMediaFile(dir.Path("a.mkv"), layout);
  const std::string b = WriteMediaFile(dir.Path("b.mkv"), layout);
  const std::string out = dir.Path("joined.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(a, ""));
    ASSERT_TRUE(task.AddInput(b, ""));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -qscale 3 -c:a pcm_s16le", true), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
    EXPECT_TRUE(task.Finished);
  }
  const TDecodedFile f = DecodeFile(out);
  ASSERT_EQ(f.Streams.size(), 2u);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  const TDecodedStream* au = f.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_NE(v, nullptr);
  ASSERT_NE(au, nullptr);
  EXPECT_NEAR(static_cast<double>(v->Frames), 50, 1);
  EXPECT_EQ(v->DecodeErrors, 0);
  // Continuous: no jump backwards and no gap at the seam.
  for (size_t i = 1; i < v->FramePts.size(); ++i) {
    const double step = v->FramePts[i] - v->FramePts[i - 1];
    EXPECT_GT(step, 0.02) << i;
    EXPECT_LT(step, 0.09) << i;
  }
  EXPECT_NEAR(v->FramePts.back(), 1.96, 0.08);
  EXPECT_NEAR(static_cast<double>(au->Samples) / au->SampleRate, 2.0, 0.05);
  EXPECT_NEAR(au->PacketEnd, 2.0, 0.1);
}

TEST(TranscodeStopTest, StopDuringALongEncodeFinishesTheFile) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("long.mp4");  // no moov atom without the trailer
  std::atomic<int> frames{0};
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(320, 240, 25, 600.0), "-f lavfi"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4"), 0) << task.LastErrorText;
    task.ProgressInterval = 1000;
    task.Progress = [&frames](TCustomFFmpeg*, int, int frame, int, float, float, int64_t, int64_t, int64_t) {
      frames = frame;
    };
    TConvertThread* thread = task.Start(true);
    ASSERT_NE(thread, nullptr);
    thread->Resume();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (frames < 40 && std::chrono::steady_clock::now() < deadline) CheckSynchronize(10);
    ASSERT_GE(frames.load(), 40);
    task.StopRun(true);
    EXPECT_FALSE(task.Finished);
    EXPECT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  const TDecodedFile f = DecodeFile(out);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_GE(v->Frames, 40);
  EXPECT_LT(v->Frames, 25 * 600);
  EXPECT_EQ(v->DecodeErrors, 0);
  EXPECT_TRUE(log.Contains("video:"));  // the final statistics line
}

}  // namespace
}  // namespace vexa::test
