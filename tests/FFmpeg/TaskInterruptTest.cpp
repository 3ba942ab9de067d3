// The I/O interrupt callbacks of a task: stop requests and time-outs.
#include <gtest/gtest.h>

#include <climits>

#include "FFmpeg/FFmpeg.h"
#include "TranscodeTestSupport.h"

extern "C" {
#include <libavutil/time.h>
}

namespace vexa::test {
namespace {

class TProbeTask : public TTestTask {
 public:
  using TCustomFFmpeg::ReadInterruptCallback;
  using TCustomFFmpeg::WriteInterruptCallback;
};

int Call(const AVIOInterruptCB& cb) { return cb.callback(cb.opaque); }

constexpr int64_t kNever = INT64_MAX;

struct TCase {
  const char* Name;
  int64_t LastTimeAgo;  // microseconds before now; kNever: no call yet; -1: the value 0
  int TimeoutMs;
  int Expected;
  const char* Message;  // for reads; empty: no message
};

TEST(TaskInterruptTest, ReadCallbackFollowsTheTimeout) {
  const TCase cases[] = {
      {"no read yet", kNever, 30000, 0, ""},
      {"recent read", 1000000, 30000, 0, ""},
      {"blocked too long", 31000000, 30000, 1, "connecting/reading timeout"},
      {"time-out disabled", 31000000, 0, 0, ""},
      {"negative time-out", 31000000, -5, 0, ""},
      {"canceled", -1, 30000, 1, "connecting/reading canceled"},
  };
  for (const TCase& c : cases) {
    TTranscodeLog log;
    TProbeTask task;
    task.ReadTimeout = c.TimeoutMs;
    task.LastReadTime = c.LastTimeAgo == kNever ? kNever : c.LastTimeAgo < 0 ? 0 : av_gettime() - c.LastTimeAgo;
    EXPECT_EQ(Call(task.ReadInterruptCallback()), c.Expected) << c.Name;
    if (*c.Message) {
      EXPECT_TRUE(log.Contains(c.Message)) << c.Name << "\n" << log.Text();
    }
  }
}

TEST(TaskInterruptTest, WriteCallbackFollowsTheTimeout) {
  const TCase cases[] = {
      {"no write yet", kNever, 30000, 0, ""},
      {"recent write", 1000000, 30000, 0, ""},
      {"blocked too long", 31000000, 30000, 1, "connecting/writing timeout"},
      {"time-out disabled", 31000000, 0, 0, ""},
      {"canceled", -1, 30000, 1, "connecting/writing canceled"},
  };
  for (const TCase& c : cases) {
    TTranscodeLog log;
    TProbeTask task;
    task.WriteTimeout = c.TimeoutMs;
    task.LastWriteTime = c.LastTimeAgo == kNever ? kNever : c.LastTimeAgo < 0 ? 0 : av_gettime() - c.LastTimeAgo;
    EXPECT_EQ(Call(task.WriteInterruptCallback()), c.Expected) << c.Name;
    if (*c.Message) {
      EXPECT_TRUE(log.Contains(c.Message)) << c.Name << "\n" << log.Text();
    }
  }
}

TEST(TaskInterruptTest, StopRequestBreaksReadsAtOnceButLetsTheLastWritesFinish) {
  TTranscodeLog log;
  TProbeTask task;
  task.LastReadTime = av_gettime();
  task.LastWriteTime = av_gettime();
  task.ReadTimeout = 0;
  task.StopRun(false);
  EXPECT_EQ(Call(task.ReadInterruptCallback()), 1);
  EXPECT_TRUE(log.Contains("reading/writing broken"));
  // Flushing the encoders and writing the trailer come after the request.
  EXPECT_EQ(Call(task.WriteInterruptCallback()), 0);
}

}  // namespace
}  // namespace vexa::test
