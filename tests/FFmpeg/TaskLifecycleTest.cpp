// The task's life cycle: Start refusals, starting twice, stopping a task that
// never ran, the suspended worker, pause, the open-codec lists and clean-up.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <fstream>
#include <thread>

#include "FFmpeg/FFmpeg.h"
#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

// Records how and where the task's termination was notified.
struct TTerminateProbe {
  std::atomic<int> Calls{0};
  std::thread::id Thread;
  void Attach(TCustomFFmpeg& task) {
    task.Terminate = [this](TCustomFFmpeg*) {
      Thread = std::this_thread::get_id();
      ++Calls;
    };
  }
};

bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(TaskLifecycleTest, TaskWithoutOutputIsRefusedWithinStartAndOnlyOnce) {
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(64, 48, 10, 1), "-f lavfi"));
  TTerminateProbe probe;
  probe.Attach(task);
  EXPECT_EQ(task.Start(true), nullptr);
  EXPECT_EQ(probe.Calls, 1);
  EXPECT_EQ(probe.Thread, std::this_thread::get_id()) << "notified from within Start";
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMsg, "At least one output file must be specified");
  EXPECT_TRUE(task.Terminated);
  EXPECT_FALSE(task.Running);
  EXPECT_FALSE(task.Finished);
  EXPECT_TRUE(task.InputFiles.empty()) << "the refusal cleans up";

  // A second start changes nothing.
  EXPECT_EQ(task.Start(false), nullptr);
  EXPECT_EQ(probe.Calls, 1);
  EXPECT_EQ(task.ExceptionMsg, "At least one output file must be specified");
}

TEST(TaskLifecycleTest, TaskWithoutInputIsRefused) {
  TTempDir dir;
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(64, 48, 10, 1), "-f lavfi"));
  const std::string out = dir.Path("noinput.mkv");
  ASSERT_GE(task.AddOutput(out, "-c:v mpeg4"), 0) << task.LastErrorText;
  // The input goes away again (its streams first: the outputs only name them).
  task.InputStreams.clear();
  task.InputFiles.clear();
  TTerminateProbe probe;
  probe.Attach(task);
  EXPECT_EQ(task.Start(false), nullptr);
  EXPECT_EQ(probe.Calls, 1);
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMsg, "At least one input file must be specified");
  EXPECT_FALSE(FileExists(out)) << "the empty output is deleted by the clean-up";
}

TEST(TaskLifecycleTest, StoppingATaskThatNeverRanNotifiesFromAThreadOfItsOwn) {
  TTempDir dir;
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(64, 48, 10, 1), "-f lavfi"));
  ASSERT_GE(task.AddOutput(dir.Path("idle.mkv"), "-c:v mpeg4"), 0);
  TTerminateProbe probe;
  probe.Attach(task);
  task.Stop(true);
  EXPECT_EQ(probe.Calls, 1);
  EXPECT_NE(probe.Thread, std::this_thread::get_id());
  EXPECT_TRUE(task.Terminated);
  EXPECT_FALSE(task.Finished);
  EXPECT_FALSE(task.ExceptionRaised);
  // Terminated tasks are left alone, and never start.
  task.Stop(true);
  EXPECT_EQ(task.Start(true), nullptr);
  EXPECT_EQ(probe.Calls, 1);
}

TEST(TaskLifecycleTest, WorkerStartsSuspendedAndRunsWhenResumed) {
  TTempDir dir;
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(64, 48, 10, 1), "-f lavfi"));
  const std::string out = dir.Path("resumed.mkv");
  ASSERT_GE(task.AddOutput(out, "-c:v mpeg4"), 0);
  TTerminateProbe probe;
  probe.Attach(task);
  TConvertThread* thread = task.Start(true);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(task.Running);
  EXPECT_TRUE(thread->Suspended());
  EXPECT_FALSE(task.RunDoneEvent.IsSet());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(FileSizeOf(out), 0) << "nothing runs before the thread is resumed";
  EXPECT_EQ(task.Start(true), nullptr) << "started twice";

  thread->Resume();
  ASSERT_TRUE(task.RunDoneEvent.WaitFor(20000));
  EXPECT_EQ(probe.Calls, 1);
  EXPECT_NE(probe.Thread, std::this_thread::get_id());
  EXPECT_TRUE(task.Finished);
  EXPECT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  EXPECT_EQ(task.OpenEncoderCount(), 0u);
  EXPECT_EQ(task.OpenDecoderCount(), 0u);
  EXPECT_GT(FileSizeOf(out), 0);
}

TEST(TaskLifecycleTest, PausedWorkerHoldsItsOpenCodecsUntilStopped) {
  TTempDir dir;
  TTestTask task;
  ASSERT_TRUE(task.AddInput("testsrc=size=64x48:rate=10", "-re -f lavfi"));
  const std::string out = dir.Path("paused.mkv");
  ASSERT_GE(task.AddOutput(out, "-c:v mpeg4"), 0);
  std::atomic<int> reports{0};
  task.ProgressInterval = 50000;
  task.Progress = [&](TCustomFFmpeg*, int, int, int, float, float, int64_t, int64_t, int64_t) { ++reports; };
  TConvertThread* thread = task.Start(true);
  ASSERT_NE(thread, nullptr);
  thread->Resume();
  ASSERT_TRUE(WaitFor([&] { return reports >= 2; }));

  task.Pause();
  EXPECT_TRUE(task.IsPaused());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const int held = reports;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(reports, held);
  EXPECT_EQ(task.OpenEncoderCount(), 1u);
  EXPECT_EQ(task.OpenDecoderCount(), 1u);
  task.Resume();
  EXPECT_FALSE(task.IsPaused());
  ASSERT_TRUE(WaitFor([&] { return reports > held; }));

  task.Pause();
  task.StopRun(true);  // resumes the paused worker so that it sees the request
  EXPECT_TRUE(task.Terminated);
  EXPECT_FALSE(task.Finished);
  EXPECT_EQ(task.OpenEncoderCount(), 0u);
  EXPECT_EQ(task.OpenDecoderCount(), 0u);
  const TDecodedFile file = DecodeFile(out);
  ASSERT_EQ(file.Streams.size(), 1u);
  EXPECT_GT(file.Streams[0].Frames, 0);
  EXPECT_EQ(file.Streams[0].DecodeErrors, 0);
}

TEST(TaskLifecycleTest, StopBeforeTheSuspendedWorkerEverRanStillEndsTheRun) {
  TTempDir dir;
  TTestTask task;
  ASSERT_TRUE(task.AddInput("testsrc=size=64x48:rate=10", "-f lavfi"));
  ASSERT_GE(task.AddOutput(dir.Path("never.mkv"), "-c:v mpeg4"), 0);
  TTerminateProbe probe;
  probe.Attach(task);
  ASSERT_NE(task.Start(true), nullptr);
  task.Stop(true);
  EXPECT_EQ(probe.Calls, 1);
  EXPECT_TRUE(task.Terminated);
  EXPECT_FALSE(task.Finished);
}

TEST(TaskLifecycleTest, ProgressOptionWritesTheProgressText) {
  TTempDir dir;
  const std::string progress = dir.Path("progress.txt");
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(64, 48, 10, 1), "-f lavfi"));
  ASSERT_GE(task.AddOutput(dir.Path("p.mkv"), "-c:v mpeg4 -progress " + progress), 0) << task.LastErrorText;
  task.RunInline();
  ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  std::ifstream in(progress);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* line : {"frame=10\n", "stream_0_0_q=", "total_size=", "out_time_ms=1000000\n",
                           "out_time=00:00:01.000000\n", "dup_frames=0\n", "drop_frames=0\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in:\n" << text;
  EXPECT_GE(text.size(), std::string("progress=end\n").size());
  EXPECT_EQ(text.substr(text.size() - 13), "progress=end\n");
}

TEST(TaskLifecycleTest, CleanupDeletesOnlyEmptyOutputs) {
  TTempDir dir;
  TTestTask task;
  ASSERT_TRUE(task.AddInput(LavfiVideo(64, 48, 10, 1), "-f lavfi"));
  const std::string empty = dir.Path("empty.mkv");
  const std::string kept = dir.Path("kept.mkv");
  ASSERT_GE(task.AddOutput(empty, "-c:v mpeg4"), 0);
  ASSERT_GE(task.AddOutput("file:" + kept, "-c:v mpeg4"), 0);
  // Something is in the second file already when it is closed.
  AVIOContext* pb = task.OutputFiles[1]->FormatContext->pb;
  avio_write(pb, reinterpret_cast<const unsigned char*>("data"), 4);
  task.Cleanup();
  EXPECT_FALSE(FileExists(empty));
  EXPECT_EQ(FileSizeOf(kept), 4);
  EXPECT_TRUE(task.OutputFiles.empty());
  EXPECT_TRUE(task.OutputStreams.empty());
  EXPECT_TRUE(task.InputFiles.empty());
  EXPECT_TRUE(task.InputStreams.empty());
}

}  // namespace
}  // namespace vexa::test
