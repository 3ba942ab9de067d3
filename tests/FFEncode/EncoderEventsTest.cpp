// The encoder component's events: who sends them, on which thread they run,
// the hooks a task asked for, delivery without the main thread, and no
// handler once the component is being destroyed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Base/MainThread.h"
#include "EncoderTestSupport.h"
#include "FFEncode/FFEncode.h"
#include "Support/MediaFixtures.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

namespace vexa::test {
namespace {

// Waits (without servicing the main-thread queue) until `done` holds.
bool WaitWithoutPumping(const std::function<bool()>& done, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

class EncoderEventsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Encoder.LoadLibraries("")) << Encoder.LastErrMsg(); }
  void TearDown() override {
    Encoder.Stop(true);
    PumpUntil([this] { return !Encoder.Working() || Encoder.AllDone(); });
  }
  void* TaskSender(int index) { return static_cast<TCustomFFmpegOpt*>(Encoder.Tasks().Items(index)); }

  TFFEncoder Encoder;
  TTempDir Dir;
};

TEST_F(EncoderEventsTest, BeforeFindStreamInfoIsSentByTheTaskWithItsInput) {
  struct TCall {
    void* Sender;
    std::string Format;
    bool OnMainThread;
  };
  std::vector<TCall> calls;
  Encoder.SetOnBeforeFindStreamInfo([&](void* sender, AVFormatContext* context) {
    calls.push_back(TCall{sender, context && context->iformat ? context->iformat->name : "", IsMainThread()});
  });
  ASSERT_EQ(AddLavfiTask(Encoder, LavfiVideo(1.0), Dir.Path("a.mkv"), "-f lavfi", "-c:v mpeg4"), 0);
  ASSERT_EQ(AddLavfiTask(Encoder, LavfiVideo(1.0), Dir.Path("b.mkv"), "-f lavfi", "-c:v mpeg4"), 1);
  ASSERT_EQ(calls.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(calls[i].Sender, TaskSender(i)) << i;
    EXPECT_EQ(calls[i].Format, "lavfi");
    EXPECT_TRUE(calls[i].OnMainThread);
  }
}

TEST_F(EncoderEventsTest, HookOptionsOfTheLineReachTheParserInTheTablesSpelling) {
  const std::pair<const char*, bool> cases[] = {
      {"-c:v mpeg4 -VIDEOINPUTHOOK -frameinputhook", true},
      {"-audiooutputhook -c:v mpeg4 -Join", true},
      {"-c:v mpeg4 -videoinputhookx", false},  // not a hook option: refused as unknown
  };
  for (const auto& [line, accepted] : cases) {
    const int result = AddLavfiTask(Encoder, LavfiVideo(1.0), Dir.Path("hooks.mkv"), "-f lavfi", line);
    EXPECT_EQ(result >= 0, accepted) << line << ": " << Encoder.LastErrMsg();
    if (result >= 0) Encoder.RemoveTask(result);
  }
}

TEST_F(EncoderEventsTest, FrameAndAudioHooksRunOnTheWorkerOfTheTaskThatAskedForThem) {
  struct TFrameCall {
    int TaskIndex, FrameNumber, Width, Height;
    bool HasPicture, OnMainThread;
  };
  struct TAudioCall {
    int TaskIndex, Samples, SampleRate, Channels;
    bool OnMainThread;
  };
  std::mutex lock;
  std::vector<TFrameCall> frames;
  std::vector<TAudioCall> audio;
  Encoder.SetOnFrameInputHook([&](void* sender, PFrameHookInfo info) {
    EXPECT_EQ(sender, static_cast<void*>(&Encoder));
    const bool picture = info->Picture && info->Picture->Data[0] && info->Picture->LineSize[0] >= info->Width;
    std::lock_guard<std::mutex> guard(lock);
    frames.push_back(TFrameCall{info->TaskIndex, info->FrameNumber, info->Width, info->Height, picture,
                                IsMainThread()});
  });
  Encoder.SetOnAudioInputHook([&](void*, int task, int64_t, uint8_t* sample, int size, int rate, int channels,
                                  AVSampleFormat format) {
    const int bytes = av_get_bytes_per_sample(format) * channels;
    std::lock_guard<std::mutex> guard(lock);
    audio.push_back(TAudioCall{task, sample && bytes > 0 ? size / bytes : -1, rate, channels, IsMainThread()});
  });
  bool done = false;
  Encoder.SetOnTerminate([&](void*, const TTerminateInfo& info) { done = done || info.TaskIndex == -1; });

  // Task 0 did not ask for hooks; task 1 asks for both input hooks.
  ASSERT_EQ(AddLavfiTask(Encoder, LavfiInput(1.0), Dir.Path("plain.mp4")), 0) << Encoder.LastErrMsg();
  TInputOptions in;
  InitInputOptions(&in);
  in.FileOptions = "-f lavfi";
  ASSERT_EQ(Encoder.AddTask(LavfiInput(1.0), &in), 1) << Encoder.LastErrMsg();
  TOutputOptions out;
  InitOutputOptions(&out);
  out.FileOptions = "-c:v mpeg4 -c:a aac";
  out.FrameInputHook = true;
  out.AudioInputHook = true;
  ASSERT_GE(Encoder.SetOutput(1, Dir.Path("hooked.mp4"), &out), 0) << Encoder.LastErrMsg();

  Encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return done; }));

  std::lock_guard<std::mutex> guard(lock);
  ASSERT_EQ(frames.size(), 15u) << "one call per decoded frame of task 1 only";
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].TaskIndex, 1);
    EXPECT_EQ(frames[i].FrameNumber, static_cast<int>(i) + 1);
    EXPECT_EQ(frames[i].Width, 320);
    EXPECT_EQ(frames[i].Height, 240);
    EXPECT_TRUE(frames[i].HasPicture);
    EXPECT_FALSE(frames[i].OnMainThread);
  }
  ASSERT_FALSE(audio.empty());
  int samples = 0;
  for (const TAudioCall& call : audio) {
    EXPECT_EQ(call.TaskIndex, 1);
    EXPECT_EQ(call.SampleRate, 44100);
    EXPECT_EQ(call.Channels, 1);
    EXPECT_GT(call.Samples, 0);
    EXPECT_FALSE(call.OnMainThread);
    samples += call.Samples;
  }
  EXPECT_NEAR(samples, 44100, 2048) << "one second of the tone passed the hook";
}

TEST_F(EncoderEventsTest, WithoutMainThreadDeliveryNoEventWaitsForTheMainThread) {
  Encoder.SetTriggerEventInMainThread(false);
  Encoder.SetProgressInterval(100);
  std::mutex lock;
  std::vector<int> notices;
  bool noticeOnMain = false;
  std::atomic<int> progressOnMain{0};
  std::atomic<int> progress{0};
  Encoder.SetOnTerminate([&](void*, const TTerminateInfo& info) {
    std::lock_guard<std::mutex> guard(lock);
    notices.push_back(info.TaskIndex);
    noticeOnMain = noticeOnMain || IsMainThread();
  });
  Encoder.SetOnProgress([&](void*, PProgressInfo) {
    ++progress;
    if (IsMainThread()) ++progressOnMain;
  });
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(AddLavfiTask(Encoder, LavfiVideo(0.5), Dir.Path("t" + std::to_string(i) + ".mkv"), "-f lavfi",
                           "-c:v mpeg4"),
              i);
  Encoder.StartTask(1);
  // The main thread services nothing here: every event must reach its
  // handler all the same.
  ASSERT_TRUE(WaitWithoutPumping([&] {
    std::lock_guard<std::mutex> guard(lock);
    return !notices.empty() && notices.back() == -1;
  }));
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(notices, (std::vector<int>{0, 1, -1}));
  EXPECT_FALSE(noticeOnMain);
  EXPECT_GT(progress, 0);
  EXPECT_EQ(progressOnMain, 0);
}

TEST(EncoderDestructionTest, NoHandlerRunsOnceDestructionHasBegun) {
  TTempDir dir;
  auto encoder = std::make_unique<TFFEncoder>();
  ASSERT_TRUE(encoder->LoadLibraries(""));
  encoder->SetProgressInterval(100);
  bool destroying = false;
  int reports = 0;
  int late = 0;  // handlers run after destruction began
  encoder->SetOnProgress([&](void*, PProgressInfo) {
    ++reports;
    if (destroying) ++late;
  });
  encoder->SetOnTerminate([&](void*, const TTerminateInfo&) {
    if (destroying) ++late;
  });
  const std::string out = dir.Path("destroyed.mkv");
  ASSERT_EQ(AddLavfiTask(*encoder, LavfiVideo(0), out, "-re -f lavfi", "-c:v mpeg4"), 0) << encoder->LastErrMsg();
  encoder->StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return reports >= 1; }));
  // Without the main thread serviced, the worker soon waits for it with its
  // next report in hand.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  destroying = true;
  encoder.reset();  // stops the task and waits for it
  EXPECT_EQ(late, 0);
  EXPECT_TRUE(IsFinishedFile(ReadBack(out)));
}

}  // namespace
}  // namespace vexa::test
