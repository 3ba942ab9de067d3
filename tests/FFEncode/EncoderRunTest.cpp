// Runs of real tasks through the encoder component: threaded and inline,
// progress, stop, pause, several tasks, refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "Base/FFmpegException.h"
#include "Base/MainThread.h"
#include "EncoderTestSupport.h"
#include "FFEncode/FFEncode.h"
#include "Support/MediaFixtures.h"

namespace vexa::test {
namespace {

using Clock = std::chrono::steady_clock;

class EncoderRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Encoder.LoadLibraries("")) << Encoder.LastErrMsg();
    Encoder.SetOnTerminate([this](void* sender, const TTerminateInfo& info) {
      EXPECT_EQ(sender, static_cast<void*>(&Encoder));
      Notices.push_back(info);
      NoticeOnMainThread.push_back(IsMainThread());
    });
  }

  int AddLavfiTask(const std::string& input, const std::string& output, const std::string& inputLine = "-f lavfi",
                   const std::string& outputLine = "-c:v mpeg4 -c:a aac") {
    return test::AddLavfiTask(Encoder, input, output, inputLine, outputLine);
  }

  bool FinalNoticeSeen() const { return !Notices.empty() && Notices.back().TaskIndex == -1; }

  TFFEncoder Encoder;
  TTempDir Dir;
  std::vector<TTerminateInfo> Notices;
  std::vector<bool> NoticeOnMainThread;
};

TEST_F(EncoderRunTest, InlineRunEndsWithBothNoticesOnTheCallersThread) {
  const std::string out = Dir.Path("inline.mp4");
  ASSERT_EQ(AddLavfiTask(LavfiInput(1.0), out), 0) << Encoder.LastErrMsg();
  Encoder.StartTask(0);
  // Everything happened before StartTask returned.
  ASSERT_EQ(Notices.size(), 2u);
  EXPECT_EQ(Notices[0].TaskIndex, 0);
  EXPECT_TRUE(Notices[0].Finished);
  EXPECT_FALSE(Notices[0].Exception) << Notices[0].ExceptionMsg;
  EXPECT_EQ(Notices[1].TaskIndex, -1);
  EXPECT_TRUE(Notices[1].Finished);
  EXPECT_TRUE(NoticeOnMainThread[0] && NoticeOnMainThread[1]);
  EXPECT_TRUE(Encoder.Working());
  EXPECT_TRUE(Encoder.AllDone());

  const TReadBack file = ReadBack(out);
  ASSERT_TRUE(IsFinishedFile(file));
  EXPECT_NEAR(static_cast<double>(file.VideoFrames), 15.0, 1.0);
  EXPECT_NEAR(static_cast<double>(file.AudioSamples) / 44100.0, 1.0, 2048.0 / 44100.0);
  Encoder.ClearTasks();
  EXPECT_FALSE(Encoder.Working());
}


// Progress as the application sees it.
struct TProgressSeen {
  Clock::time_point At;
  bool OnMainThread = false;
  TProgressInfo Info;
};

class EncoderThreadedTest : public EncoderRunTest {
 protected:
  void SetUp() override {
    EncoderRunTest::SetUp();
    Encoder.SetOnProgress([this](void* sender, PProgressInfo info) {
      EXPECT_EQ(sender, static_cast<void*>(&Encoder));
      Progress.push_back(TProgressSeen{Clock::now(), IsMainThread(), *info});
    });
  }
  void TearDown() override {
    Encoder.Stop(true);
    PumpUntil([this] { return !Encoder.Working() || Encoder.AllDone(); });
  }

  // A real-time endless source: the run lasts until it is stopped.
  int AddLiveTask(const std::string& output) { return AddLavfiTask(LavfiVideo(0), output, "-re -f lavfi"); }

  std::vector<TProgressSeen> Progress;
};

TEST_F(EncoderThreadedTest, StopMidRunGivesFinishedFileAndBothNotices) {
  const int interval = 400;
  Encoder.SetProgressInterval(interval);
  const std::string out = Dir.Path("stopped.mp4");
  ASSERT_EQ(AddLiveTask(out), 0) << Encoder.LastErrMsg();

  const auto started = Clock::now();
  Encoder.StartTask(1);
  // StartTask returned with the endless run going on its worker.
  EXPECT_TRUE(Encoder.Working());
  EXPECT_TRUE(Notices.empty());
  EXPECT_TRUE(Encoder.Tasks().Items(0)->Running);

  ASSERT_TRUE(PumpUntil([this] { return Progress.size() >= 4; }));
  Encoder.Stop(true);
  const auto stopped = Clock::now();
  ASSERT_TRUE(PumpUntil([this] { return FinalNoticeSeen(); }));

  ASSERT_EQ(Notices.size(), 2u);
  EXPECT_EQ(Notices[0].TaskIndex, 0);
  EXPECT_FALSE(Notices[0].Finished);
  EXPECT_FALSE(Notices[0].Exception) << Notices[0].ExceptionMsg;
  EXPECT_EQ(Notices[1].TaskIndex, -1);
  EXPECT_TRUE(NoticeOnMainThread[0] && NoticeOnMainThread[1]);

  // Periodic reports on the main thread, never more than one per interval
  // (the first periodic call only starts the clock).
  int64_t lastFrame = 0;
  size_t periodic = 0;
  for (const TProgressSeen& p : Progress) {
    EXPECT_TRUE(p.OnMainThread);
    EXPECT_EQ(p.Info.TaskIndex, 0);
    if (p.Info.FileIndex == -1) continue;  // the final report
    ++periodic;
    EXPECT_GE(p.Info.FrameNumber, lastFrame);
    lastFrame = p.Info.FrameNumber;
  }
  EXPECT_LE(periodic, static_cast<size_t>((stopped - started) / std::chrono::milliseconds(interval)));
  EXPECT_EQ(Progress.back().Info.FileIndex, -1);
  EXPECT_GT(Progress.back().Info.CurrentSize, 0);

  // The trailer was written: the mp4 opens and decodes to its end.
  const TReadBack file = ReadBack(out);
  EXPECT_TRUE(IsFinishedFile(file));
  EXPECT_GE(file.VideoFrames, lastFrame);
}

TEST_F(EncoderThreadedTest, StopFromTheProgressHandlerEndsTheRunWithoutDeadlock) {
  Encoder.SetProgressInterval(100);
  const std::string out = Dir.Path("limit.mp4");
  ASSERT_EQ(AddLiveTask(out), 0) << Encoder.LastErrMsg();
  bool stopped = false;
  Encoder.SetOnProgress([&](void*, PProgressInfo info) {
    // A length limit checked in the handler, as a recorder does.
    if (!stopped && info->CurrentDuration >= 500000) {
      stopped = true;
      Encoder.Stop(true);
    }
  });
  Encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([this] { return FinalNoticeSeen(); }));
  EXPECT_TRUE(stopped);
  ASSERT_EQ(Notices.size(), 2u);
  EXPECT_FALSE(Notices[0].Finished);
  EXPECT_TRUE(IsFinishedFile(ReadBack(out)));
}

TEST_F(EncoderThreadedTest, PauseHoldsTheWorkerAndResumeContinues) {
  Encoder.SetProgressInterval(100);
  const std::string out = Dir.Path("paused.mp4");
  ASSERT_EQ(AddLiveTask(out), 0) << Encoder.LastErrMsg();
  Encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([this] { return Progress.size() >= 2; }));

  Encoder.Pause();
  EXPECT_TRUE(Encoder.Paused());
  PumpFor(300);  // the worker reaches its gate
  TFFmpeg* task = Encoder.Tasks().Items(0);
  ASSERT_TRUE(task->IsPaused());
  const size_t reports = Progress.size();
  const int64_t frames = task->OutputStreams[0]->FrameNumber;
  PumpFor(1000);
  EXPECT_EQ(Progress.size(), reports) << "progress while paused";
  EXPECT_EQ(task->OutputStreams[0]->FrameNumber, frames) << "frames written while paused";

  Encoder.Resume();
  EXPECT_FALSE(Encoder.Paused());
  ASSERT_TRUE(PumpUntil([&] { return Progress.size() > reports + 1 && Progress.back().Info.FrameNumber > frames; }));

  // A paused task that is stopped still ends, with a finished file.
  Encoder.Pause();
  PumpFor(200);
  Encoder.Stop(true);
  ASSERT_TRUE(PumpUntil([this] { return FinalNoticeSeen(); }));
  ASSERT_EQ(Notices.size(), 2u);
  EXPECT_FALSE(Notices[0].Finished);
  EXPECT_FALSE(Notices[0].Exception) << Notices[0].ExceptionMsg;
  const TReadBack file = ReadBack(out);
  EXPECT_TRUE(IsFinishedFile(file));
  EXPECT_GT(file.VideoFrames, frames);
}

TEST_F(EncoderThreadedTest, ThreeTasksOnOneThreadRunOneAfterAnother) {
  Encoder.SetProgressInterval(100);
  std::vector<std::string> outputs;
  for (int i = 0; i < 3; ++i) {
    outputs.push_back(Dir.Path("seq" + std::to_string(i) + ".mp4"));
    ASSERT_EQ(AddLavfiTask(LavfiInput(1.0), outputs.back(), "-re -f lavfi"), i) << Encoder.LastErrMsg();
  }
  Encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([this] { return FinalNoticeSeen(); }, 30000));

  ASSERT_EQ(Notices.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Notices[i].TaskIndex, i);
    EXPECT_TRUE(Notices[i].Finished);
    EXPECT_FALSE(Notices[i].Exception) << Notices[i].ExceptionMsg;
  }
  EXPECT_EQ(Notices[3].TaskIndex, -1);
  // One at a time: the reports never go back to an earlier task.
  std::vector<int> seen;
  for (const TProgressSeen& p : Progress) {
    if (!seen.empty()) {
      EXPECT_GE(p.Info.TaskIndex, seen.back());
    }
    if (seen.empty() || seen.back() != p.Info.TaskIndex) seen.push_back(p.Info.TaskIndex);
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
  for (const std::string& out : outputs) {
    const TReadBack file = ReadBack(out);
    EXPECT_TRUE(IsFinishedFile(file)) << out;
    EXPECT_NEAR(static_cast<double>(file.VideoFrames), 15.0, 1.0) << out;
  }
  Encoder.ClearTasks();
}

TEST_F(EncoderThreadedTest, MisuseWhileWorkingRaisesWithTheOperationsName) {
  ASSERT_EQ(AddLiveTask(Dir.Path("busy.mp4")), 0) << Encoder.LastErrMsg();
  Encoder.StartTask(1);
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"AddTask", [this] { Encoder.AddTask("x"); }},
      {"SetOutput", [this] { Encoder.SetOutput(0, Dir.Path("y.mp4")); }},
      {"RemoveTask", [this] { Encoder.RemoveTask(0); }},
      {"StartTask", [this] { Encoder.StartTask(1); }},
      {"ClearTasks", [this] { Encoder.ClearTasks(); }},
  };
  for (const auto& [name, call] : calls) {
    try {
      call();
      ADD_FAILURE() << name << " did not raise";
    } catch (const FFmpegException& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot " + name + " while working.");
    }
  }
  EXPECT_EQ(Encoder.Tasks().Count(), 1);
  Encoder.Stop(true);
  ASSERT_TRUE(PumpUntil([this] { return FinalNoticeSeen(); }));
  // Still working until cleared, but ClearTasks is allowed now.
  EXPECT_TRUE(Encoder.Working());
  EXPECT_THROW(Encoder.AddTask("x"), FFmpegException);
  Encoder.ClearTasks();
  EXPECT_FALSE(Encoder.Working());
  EXPECT_EQ(Encoder.Tasks().Count(), 0);
  EXPECT_EQ(Encoder.NextIndex(), -1);
}

TEST_F(EncoderThreadedTest, TaskWithoutOutputIsRefusedThroughOnTerminate) {
  TInputOptions in;
  InitInputOptions(&in);
  in.FileOptions = "-f lavfi";
  ASSERT_EQ(Encoder.AddTask(LavfiVideo(1.0), &in), 0) << Encoder.LastErrMsg();
  EXPECT_EQ(in.FileName, LavfiVideo(1.0)) << "AddTask fills an empty file name";
  Encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([this] { return FinalNoticeSeen(); }));
  ASSERT_EQ(Notices.size(), 2u);
  EXPECT_EQ(Notices[0].TaskIndex, 0);
  EXPECT_TRUE(Notices[0].Exception);
  EXPECT_FALSE(Notices[0].Finished);
  EXPECT_EQ(Notices[0].ExceptionMsg, "At least one output file must be specified");
  EXPECT_TRUE(NoticeOnMainThread[0]);
}

TEST_F(EncoderThreadedTest, FailedRunDeletesTheEmptyOutputAndReportsWhy) {
  // The mp4 muxer refuses raw video: the header fails on a file still empty.
  const std::string out = Dir.Path("refused.mp4");
  ASSERT_EQ(AddLavfiTask(LavfiVideo(1.0), out, "-f lavfi", "-c:v rawvideo"), 0) << Encoder.LastErrMsg();
  EXPECT_TRUE(FileExists(out)) << "the output is created when it is set";
  Encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([this] { return FinalNoticeSeen(); }));
  ASSERT_EQ(Notices.size(), 2u);
  EXPECT_TRUE(Notices[0].Exception);
  EXPECT_FALSE(Notices[0].Finished);
  EXPECT_NE(Notices[0].ExceptionMsg.find("Could not write header for output file #0"), std::string::npos)
      << Notices[0].ExceptionMsg;
  EXPECT_FALSE(FileExists(out));
}

TEST_F(EncoderThreadedTest, AddAndSetOutputFailuresReturnNegativeWithTheReason) {
  EXPECT_LT(Encoder.AddTask(Dir.Path("missing.mkv")), 0);
  EXPECT_FALSE(Encoder.LastErrMsg().empty());
  EXPECT_EQ(Encoder.Tasks().Count(), 0);

  TInputOptions in;
  InitInputOptions(&in);
  in.FileOptions = "-f lavfi";
  ASSERT_EQ(Encoder.AddTask(LavfiVideo(1.0), &in), 0) << Encoder.LastErrMsg();
  TOutputOptions out;
  InitOutputOptions(&out);
  out.FileOptions = "-c:v no_such_encoder";
  EXPECT_LT(Encoder.SetOutput(0, Dir.Path("bad.mp4"), &out), 0);
  EXPECT_NE(Encoder.LastErrMsg().find("no_such_encoder"), std::string::npos) << Encoder.LastErrMsg();
  EXPECT_EQ(out.FileName, Dir.Path("bad.mp4"));
  EXPECT_LT(Encoder.SetOutput(5, Dir.Path("bad.mp4")), 0);
}

TEST_F(EncoderThreadedTest, StartWithoutTasksGivesTheFinalNotice) {
  Encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([this] { return FinalNoticeSeen(); }));
  EXPECT_EQ(Notices.size(), 1u);
  Encoder.ClearTasks();
}

}  // namespace
}  // namespace vexa::test
