// Interrupt callbacks of the task's blocking I/O.
#include <climits>

#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavutil/time.h>
}

namespace vexa {

namespace {

// Writes still running after a stop request (encoder flush, trailer) are let
// finish; only a write that is still going this long after the request is
// broken off.
constexpr int64_t StopWriteGrace = 10000000;  // microseconds

bool TimedOut(int64_t lastTime, int timeoutMs) {
  if (lastTime == INT64_MAX || timeoutMs <= 0) return false;
  return av_gettime() - lastTime > static_cast<int64_t>(timeoutMs) * 1000;
}

}  // namespace

int TCustomFFmpeg::ReadInterrupt(void* opaque) {
  auto* task = static_cast<TCustomFFmpeg*>(opaque);
  if (task->StopRequested) {
    Log(task, llInfo, "reading/writing broken");
    return 1;
  }
  const int64_t last = task->LastReadTime;
  if (!TimedOut(last, task->ReadTimeout)) return 0;
  Log(task, llInfo, last == 0 ? "connecting/reading canceled" : "connecting/reading timeout");
  return 1;
}

int TCustomFFmpeg::WriteInterrupt(void* opaque) {
  auto* task = static_cast<TCustomFFmpeg*>(opaque);
  if (task->StopRequested) {
    const int64_t stopTime = task->StopRequestTime_;
    if (stopTime == 0 || av_gettime() - stopTime > StopWriteGrace) {
      Log(task, llInfo, "reading/writing broken");
      return 1;
    }
  }
  const int64_t last = task->LastWriteTime;
  if (!TimedOut(last, task->WriteTimeout)) return 0;
  Log(task, llInfo, last == 0 ? "connecting/writing canceled" : "connecting/writing timeout");
  return 1;
}

AVIOInterruptCB TCustomFFmpeg::ReadInterruptCallback() { return AVIOInterruptCB{&TCustomFFmpeg::ReadInterrupt, this}; }

AVIOInterruptCB TCustomFFmpeg::WriteInterruptCallback() {
  return AVIOInterruptCB{&TCustomFFmpeg::WriteInterrupt, this};
}

}  // namespace vexa
