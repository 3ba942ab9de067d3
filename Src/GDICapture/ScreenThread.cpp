#include "GDICapture/ScreenThread.h"

#include <chrono>
#include <cmath>
#include <string>

extern "C" {
#include <libavutil/time.h>
}

#include "GDICapture/ScreenSource.h"
#include "GDICapture/XDisplay.h"

namespace vexa {

const int kDropThresholds[4] = {62, 75, 87, 100};

int64_t CaptureClock() { return av_gettime(); }

TScreenThread::TScreenThread(TCaptureContext& c) : Context_(c) {
  Thread_ = std::thread([this] {
    Execute();
    Running_.store(false);
  });
}

TScreenThread::~TScreenThread() {
  Terminate();
  WaitFor();
}

void TScreenThread::WaitFor() { JoinCaptureThread(Thread_, Running_); }

void StartSchedule(TCaptureContext& c, int64_t start) {
  c.ScheduleCounter =
      std::llrint(static_cast<long double>(start) * c.FrameRate.num / c.FrameRate.den) + 1000000;
}

TDueCheck CheckDueTime(TCaptureContext& c, int64_t now) {
  TDueCheck r;
  const long double perFrame = static_cast<long double>(c.FrameRate.den) / c.FrameRate.num;
  // counter x period is the due time in microseconds.
  r.WaitUs = std::llrint(static_cast<long double>(c.ScheduleCounter) * perFrame - static_cast<long double>(now));
  if (r.WaitUs > 0) return r;
  const int64_t periodUs = std::llrint(static_cast<double>(c.FrameRate.den) / c.FrameRate.num * 1000000.0);
  r.Skipped = periodUs > 0 ? -r.WaitUs / periodUs : 0;
  c.ScheduleCounter += (r.Skipped + 1) * 1000000;
  return r;
}

int64_t ClaimCaptureSlot(TCaptureContext& c, int64_t capturedAt) {
  const long double perFrame = static_cast<long double>(c.FrameRate.den) / c.FrameRate.num;
  const long double slotDue = static_cast<long double>(c.ScheduleCounter - 1000000) * perFrame;
  const long double periodUs = perFrame * 1000000;
  const int64_t late = std::llrint((static_cast<long double>(capturedAt) - slotDue) / periodUs);
  if (late <= 0) return 0;
  c.ScheduleCounter += late * 1000000;
  return late;
}

static void LogLostFrames(TCaptureContext& c, int64_t lost) {
  c.Log(llInfo, "We lost %d frames. It might be caused by paused or bad performance or frame rate is too high.\n",
        static_cast<int>(lost));
}

void TScreenThread::WaitForDueTime() {
  TCaptureContext& c = Context_;
  for (;;) {
    const TDueCheck due = CheckDueTime(c, CaptureClock());
    if (due.WaitUs > 0) {
      const int64_t ms = due.WaitUs / 1000;
      // Whole milliseconds, at most 10 at a time so that a terminate request
      // is seen soon; below 1 ms the due time is polled again.
      if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms < 10 ? ms : 10));
      else
        std::this_thread::yield();
      if (Terminated_.load() || c.Stopped.load()) return;
      continue;
    }
    if (due.Skipped > 0) LogLostFrames(c, due.Skipped);
    return;
  }
}

bool TScreenThread::CaptureFrame(TCaptureContext& c) {
  const int error = c.Screen->Grab();
  if (error) {
    if (c.Stopped.load()) return false;
    if (DisplayLost(c.Screen->XDisplay())) {
      // The end of the picture: what was captured so far is kept.
      const std::string why = "Lost the connection to the X display \"" +
                              std::string(DisplayString(c.Screen->XDisplay())) +
                              "\": the display server has gone away";
      c.Log(llError, "%s; the recording ends here.\n", why.c_str());
      c.Fail(AVERROR(EIO), why);
      return false;
    }
    c.Fail(AVERROR(EIO), "Failed to capture image");
    c.Log(llError, "Failed to capture image: BitBlt() error %li\n", static_cast<long>(error));
    return false;
  }

  int64_t timestamp = 0;
  const int64_t now = CaptureClock();
  if (c.StartTime.load() == 0) {
    StartSchedule(c, now);
    c.StartTime.store(now);
  } else {
    timestamp = now - c.StartTime.load();
    if (const int64_t lost = ClaimCaptureSlot(c, now)) LogLostFrames(c, lost);
  }

  if (c.DrawCursor.load()) c.Screen->DrawCursor(c);

  // Messages are logged after the queue mutex is released: a logger that
  // waits for the main thread must never wait while holding it.
  int fullness = -1;
  int failure = 0;
  {
    auto lock = c.Queue.Lock();
    ++c.DropCounter;
    const int64_t limit = c.FormatContext->max_picture_buffer;
    const int64_t percent = limit > 0 ? c.Queue.BufferedBytes(lock) * 100 / limit : 0;
    if (percent >= kDropThresholds[c.DropCounter % 4]) {
      fullness = static_cast<int>(percent);
    } else {
      TPacketPtr packet(av_packet_alloc());
      if (!packet) {
        failure = 1;
      } else if (!(packet->buf = c.TakeFrameBuffer())) {
        failure = 2;
      } else {
        packet->data = packet->buf->data;
        packet->size = c.FrameBytes;
        packet->stream_index = c.VideoStreamIndex;
        packet->pts = timestamp;
        c.Screen->CopyBits(packet->data);
        c.Queue.Append(std::move(packet), lock);
      }
    }
  }
  if (failure) c.Fail(AVERROR(ENOMEM));
  if (fullness >= 0) c.Log(llError, "real-time buffer %d%% full! frame dropped!\n", fullness);
  if (failure == 1) c.Log(llError, "av_mallocz() error\n");
  if (failure == 2) c.Log(llError, "av_new_packet() error\n");
  return failure == 0;
}

void TScreenThread::Execute() {
  const TLogWithoutWaiting neverWait;  // the grabber keeps its pace
  TCaptureContext& c = Context_;
  while (!c.Started.load() && !Terminated_.load())
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  while (!Terminated_.load() && !c.Stopped.load()) {
    if (c.Paused()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (c.StartTime.load() != 0) {
      WaitForDueTime();
      if (Terminated_.load() || c.Stopped.load()) break;
    }
    if (!CaptureFrame(c)) break;
  }
}

}  // namespace vexa
