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

// A task with a short lavfi input and, on request, one output in a
// temporary folder, its termination probed.
class TaskLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override { Probe.Attach(Task); }
  // Opens the input and an output `name` encoded with mpeg4; false on failure.
  bool Prepare(const std::string& name, const std::string& input = LavfiVideo(64, 48, 10, 1),
               const std::string& inputLine = "-f lavfi") {
    if (!Task.AddInput(input, inputLine)) return false;
    if (name.empty()) return true;
    Output = Dir.Path(name);
    return Task.AddOutput(Output, "-c:v mpeg4") >= 0;
  }

  TTempDir Dir;
  TTestTask Task;
  TTerminateProbe Probe;
  std::string Output;
};

bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST_F(TaskLifecycleTest, TaskWithoutOutputIsRefusedWithinStartAndOnlyOnce) {
  ASSERT_TRUE(Prepare(""));
  EXPECT_EQ(Task.Start(true), nullptr);
  EXPECT_EQ(Probe.Calls, 1);
  EXPECT_EQ(Probe.Thread, std::this_thread::get_id()) << "notified from within Start";
  EXPECT_TRUE(Task.ExceptionRaised);
  EXPECT_EQ(Task.ExceptionMsg, "At least one output file must be specified");
  EXPECT_TRUE(Task.Terminated);
  EXPECT_FALSE(Task.Running);
  EXPECT_FALSE(Task.Finished);
  EXPECT_TRUE(Task.InputFiles.empty()) << "the refusal cleans up";

  // A second start changes nothing.
  EXPECT_EQ(Task.Start(false), nullptr);
  EXPECT_EQ(Probe.Calls, 1);
  EXPECT_EQ(Task.ExceptionMsg, "At least one output file must be specified");
}

TEST_F(TaskLifecycleTest, TaskWithoutInputIsRefused) {
  ASSERT_TRUE(Prepare("noinput.mkv")) << Task.LastErrorText;
  // The input goes away again (its streams first: the outputs only name them).
  Task.InputStreams.clear();
  Task.InputFiles.clear();
  EXPECT_EQ(Task.Start(false), nullptr);
  EXPECT_EQ(Probe.Calls, 1);
  EXPECT_TRUE(Task.ExceptionRaised);
  EXPECT_EQ(Task.ExceptionMsg, "At least one input file must be specified");
  EXPECT_FALSE(FileExists(Output)) << "the empty output is deleted by the clean-up";
}

TEST_F(TaskLifecycleTest, StoppingATaskThatNeverRanNotifiesFromAThreadOfItsOwn) {
  ASSERT_TRUE(Prepare("idle.mkv"));
  Task.Stop(true);
  EXPECT_EQ(Probe.Calls, 1);
  EXPECT_NE(Probe.Thread, std::this_thread::get_id());
  EXPECT_TRUE(Task.Terminated);
  EXPECT_FALSE(Task.Finished);
  EXPECT_FALSE(Task.ExceptionRaised);
  // Terminated tasks are left alone, and never start.
  Task.Stop(true);
  EXPECT_EQ(Task.Start(true), nullptr);
  EXPECT_EQ(Probe.Calls, 1);
}

TEST_F(TaskLifecycleTest, WorkerStartsSuspendedAndRunsWhenResumed) {
  ASSERT_TRUE(Prepare("resumed.mkv"));
  TConvertThread* thread = Task.Start(true);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(Task.Running);
  EXPECT_TRUE(thread->Suspended());
  EXPECT_FALSE(Task.RunDoneEvent.IsSet());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(FileSizeOf(Output), 0) << "nothing runs before the thread is resumed";
  EXPECT_EQ(Task.Start(true), nullptr) << "started twice";

  thread->Resume();
  ASSERT_TRUE(Task.RunDoneEvent.WaitFor(20000));
  EXPECT_EQ(Probe.Calls, 1);
  EXPECT_NE(Probe.Thread, std::this_thread::get_id());
  EXPECT_TRUE(Task.Finished);
  EXPECT_FALSE(Task.ExceptionRaised) << Task.ExceptionMsg;
  EXPECT_EQ(Task.OpenEncoderCount(), 0u);
  EXPECT_EQ(Task.OpenDecoderCount(), 0u);
  EXPECT_GT(FileSizeOf(Output), 0);
}

TEST_F(TaskLifecycleTest, PausedWorkerHoldsItsOpenCodecsUntilStopped) {
  ASSERT_TRUE(Prepare("paused.mkv", "testsrc=size=64x48:rate=10", "-re -f lavfi"));
  std::atomic<int> reports{0};
  Task.ProgressInterval = 50000;
  Task.Progress = [&](TCustomFFmpeg*, int, int, int, float, float, int64_t, int64_t, int64_t) { ++reports; };
  TConvertThread* thread = Task.Start(true);
  ASSERT_NE(thread, nullptr);
  thread->Resume();
  ASSERT_TRUE(WaitFor([&] { return reports >= 2; }));

  Task.Pause();
  EXPECT_TRUE(Task.IsPaused());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const int held = reports;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(reports, held);
  EXPECT_EQ(Task.OpenEncoderCount(), 1u);
  EXPECT_EQ(Task.OpenDecoderCount(), 1u);
  Task.Resume();
  EXPECT_FALSE(Task.IsPaused());
  ASSERT_TRUE(WaitFor([&] { return reports > held; }));

  Task.Pause();
  Task.StopRun(true);  // resumes the paused worker so that it sees the request
  EXPECT_TRUE(Task.Terminated);
  EXPECT_FALSE(Task.Finished);
  EXPECT_EQ(Task.OpenEncoderCount(), 0u);
  EXPECT_EQ(Task.OpenDecoderCount(), 0u);
  const TDecodedFile file = DecodeFile(Output);
  ASSERT_EQ(file.Streams.size(), 1u);
  EXPECT_GT(file.Streams[0].Frames, 0);
  EXPECT_EQ(file.Streams[0].DecodeErrors, 0);
}

TEST_F(TaskLifecycleTest, StopBeforeTheSuspendedWorkerEverRanStillEndsTheRun) {
  ASSERT_TRUE(Prepare("never.mkv", "testsrc=size=64x48:rate=10"));
  ASSERT_NE(Task.Start(true), nullptr);
  Task.Stop(true);
  EXPECT_EQ(Probe.Calls, 1);
  EXPECT_TRUE(Task.Terminated);
  EXPECT_FALSE(Task.Finished);
}

TEST_F(TaskLifecycleTest, ProgressOptionWritesTheProgressText) {
  const std::string progress = Dir.Path("progress.txt");
  ASSERT_TRUE(Task.AddInput(LavfiVideo(64, 48, 10, 1), "-f lavfi"));
  ASSERT_GE(Task.AddOutput(Dir.Path("p.mkv"), "-c:v mpeg4 -progress " + progress), 0) << Task.LastErrorText;
  Task.RunInline();
  ASSERT_FALSE(Task.ExceptionRaised) << Task.ExceptionMsg;
  std::ifstream in(progress);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* line : {"frame=10\n", "stream_0_0_q=", "total_size=", "out_time_ms=1000000\n",
                           "out_time=00:00:01.000000\n", "dup_frames=0\n", "drop_frames=0\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in:\n" << text;
  ASSERT_GE(text.size(), std::string("progress=end\n").size());
  EXPECT_EQ(text.substr(text.size() - 13), "progress=end\n");
}

TEST_F(TaskLifecycleTest, CleanupDeletesOnlyEmptyOutputs) {
  ASSERT_TRUE(Prepare("empty.mkv"));
  const std::string kept = Dir.Path("kept.mkv");
  ASSERT_GE(Task.AddOutput("file:" + kept, "-c:v mpeg4"), 0);
  // Something is in the second file already when it is closed.
  AVIOContext* pb = Task.OutputFiles[1]->FormatContext->pb;
  avio_write(pb, reinterpret_cast<const unsigned char*>("data"), 4);
  Task.Cleanup();
  EXPECT_FALSE(FileExists(Output));
  EXPECT_EQ(FileSizeOf(kept), 4);
  EXPECT_TRUE(Task.OutputFiles.empty());
  EXPECT_TRUE(Task.OutputStreams.empty());
  EXPECT_TRUE(Task.InputFiles.empty());
  EXPECT_TRUE(Task.InputStreams.empty());
}

}  // namespace
}  // namespace vexa::test
