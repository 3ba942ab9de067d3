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

// 1 when the call begun at `lastTime` has gone on for longer than
// `timeoutMs` (logging why), else 0. INT64_MAX: no call yet; 0: canceled.
int CheckTimeout(const TCustomFFmpeg* task, int64_t lastTime, int timeoutMs, const char* timeoutText,
                 const char* canceledText) {
  if (lastTime == INT64_MAX || timeoutMs <= 0) return 0;
  if (av_gettime() - lastTime <= static_cast<int64_t>(timeoutMs) * 1000) return 0;
  Log(task, llInfo, lastTime == 0 ? canceledText : timeoutText);
  return 1;
}

int Broken(const TCustomFFmpeg* task) {
  Log(task, llInfo, "reading/writing broken");
  return 1;
}

}  // namespace

int TCustomFFmpeg::ReadInterrupt(void* opaque) {
  auto* task = static_cast<TCustomFFmpeg*>(opaque);
  if (task->StopRequested) return Broken(task);
  return CheckTimeout(task, task->LastReadTime, task->ReadTimeout, "connecting/reading timeout",
                      "connecting/reading canceled");
}

int TCustomFFmpeg::WriteInterrupt(void* opaque) {
  auto* task = static_cast<TCustomFFmpeg*>(opaque);
  if (task->StopRequested) {
    // While live inputs hand over what they held at the stop (bounded by its
    // own deadline), their data is written; the grace for the rest counts
    // from the end of that.
    if (task->Draining_ && task->DrainEnd_ == 0) return 0;
    const int64_t stopTime = task->Draining_ ? task->DrainEnd_ : task->StopRequestTime_.load();
    if (stopTime == 0 || av_gettime() - stopTime > StopWriteGrace) return Broken(task);
  }
  return CheckTimeout(task, task->LastWriteTime, task->WriteTimeout, "connecting/writing timeout",
                      "connecting/writing canceled");
}

AVIOInterruptCB TCustomFFmpeg::ReadInterruptCallback() { return AVIOInterruptCB{&TCustomFFmpeg::ReadInterrupt, this}; }

AVIOInterruptCB TCustomFFmpeg::WriteInterruptCallback() {
  return AVIOInterruptCB{&TCustomFFmpeg::WriteInterrupt, this};
}

}  // namespace vexa
