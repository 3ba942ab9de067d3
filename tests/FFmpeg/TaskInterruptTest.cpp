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
  bool Write;           // the write callback, else the read callback
  int64_t LastTimeAgo;  // microseconds before now; kNever: no call yet; -1: the value 0
  int TimeoutMs;
  int Expected;
  const char* Message;  // empty: nothing logged
};

TEST(TaskInterruptTest, CallbacksFollowTheirTimeouts) {
  const TCase cases[] = {
      {"no read yet", false, kNever, 30000, 0, ""},
      {"recent read", false, 1000000, 30000, 0, ""},
      {"read blocked too long", false, 31000000, 30000, 1, "connecting/reading timeout"},
      {"read time-out disabled", false, 31000000, 0, 0, ""},
      {"negative read time-out", false, 31000000, -5, 0, ""},
      {"read canceled", false, -1, 30000, 1, "connecting/reading canceled"},
      {"no write yet", true, kNever, 30000, 0, ""},
      {"recent write", true, 1000000, 30000, 0, ""},
      {"write blocked too long", true, 31000000, 30000, 1, "connecting/writing timeout"},
      {"write time-out disabled", true, 31000000, 0, 0, ""},
      {"write canceled", true, -1, 30000, 1, "connecting/writing canceled"},
  };
  for (const TCase& c : cases) {
    TTranscodeLog log;
    TProbeTask task;
    const int64_t last = c.LastTimeAgo == kNever ? kNever : c.LastTimeAgo < 0 ? 0 : av_gettime() - c.LastTimeAgo;
    (c.Write ? task.WriteTimeout : task.ReadTimeout) = c.TimeoutMs;
    (c.Write ? task.LastWriteTime : task.LastReadTime) = last;
    EXPECT_EQ(Call(c.Write ? task.WriteInterruptCallback() : task.ReadInterruptCallback()), c.Expected) << c.Name;
    if (*c.Message)
      EXPECT_TRUE(log.Contains(c.Message)) << c.Name << "\n" << log.Text();
    else
      EXPECT_FALSE(log.Contains("connecting/")) << c.Name << "\n" << log.Text();
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
