// The producer of the video packets of a capture input: once the reader has
// started, it grabs the capture rectangle at the frame rate, draws the cursor
// into it and queues it as one raw-video packet.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "GDICapture/CaptureContext.h"

namespace vexa {

class TScreenThread {
 public:
  // Starts the thread at once; it idles until c.Started.
  explicit TScreenThread(TCaptureContext& c);
  // Terminates and waits.
  ~TScreenThread();
  TScreenThread(const TScreenThread&) = delete;
  TScreenThread& operator=(const TScreenThread&) = delete;

  void Terminate() { Terminated_.store(true); }
  void WaitFor();
  bool Running() const { return Running_.load(); }

  // One pass after the wait: grab, stamp, cursor, queue. Returns false when
  // the thread must end (a fatal failure, recorded in the context).
  static bool CaptureFrame(TCaptureContext& c);

 private:
  void Execute();
  // Waits for the next due time and skips lost frames.
  void WaitForDueTime(double period);

  TCaptureContext& Context_;
  std::atomic<bool> Terminated_{false};
  std::atomic<bool> Running_{true};
  std::thread Thread_;
};

// Drop thresholds in percent of max_picture_buffer, used in turn.
extern const int kDropThresholds[4];

// The microsecond clock of the capture (av_gettime).
int64_t CaptureClock();

}  // namespace vexa
