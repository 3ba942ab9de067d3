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
  void WaitForDueTime();

  TCaptureContext& Context_;
  std::atomic<bool> Terminated_{false};
  std::atomic<bool> Running_{true};
  std::thread Thread_;
};

// The grabber's schedule: c.ScheduleCounter x den / num is the due time of
// the next frame in microseconds of the capture clock, one frame adding
// exactly 1000000.
//
// The first frame, taken at `start`, sets the counter to the frame after it,
// due one period later. (Due at once, that frame would be a second picture
// of the first one's moment, and an output at a constant rate, which gives
// every frame the next place, would then show the whole picture one frame
// late against the sound.)
void StartSchedule(TCaptureContext& c, int64_t start);

struct TDueCheck {
  int64_t WaitUs = 0;   // > 0: the next frame is not due for this long
  int64_t Skipped = 0;  // due or late: frames whose time had gone (lost)
};

// At `now`: when the next frame is due or late, skips the frames whose time
// has gone and steps the counter past the frame about to be taken.
TDueCheck CheckDueTime(TCaptureContext& c, int64_t now);

// After a frame taken at `capturedAt` for the slot CheckDueTime stepped past:
// a frame whose grab finished late (a display that stood still) holds the
// picture of its capture time, so it claims the slot nearest to that time.
// The slots before it are lost and the counter moves past the claimed one;
// otherwise a second frame would be taken at once for an already passed slot,
// and an output at a constant rate would show everything after it one frame
// late. Returns the number of lost slots (0 for a frame taken in its slot).
int64_t ClaimCaptureSlot(TCaptureContext& c, int64_t capturedAt);

// Drop thresholds in percent of max_picture_buffer, used in turn.
extern const int kDropThresholds[4];

// The microsecond clock of the capture (av_gettime).
int64_t CaptureClock();

}  // namespace vexa
