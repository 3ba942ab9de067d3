// The preview window of a task: an X11 window of the engine's own that shows
// the frames a task encodes, with the frame's time as its caption.
//
// Show is called on the task's thread; the window is created, painted and
// destroyed on the main thread (through the main-thread queue, the caller
// waiting). The window stays on top, is centred on the screen at the
// bitmap's size, has a close button and nothing else; a left-button press
// anywhere in it moves it. Closing it marks the previewer closed: Show then
// returns false and the task switches its window preview off.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Base/Bitmap.h"

namespace vexa {

class TPreviewerForm;

class TPreviewer {
 public:
  TPreviewer();
  // Frees the window on the main thread.
  ~TPreviewer();
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // Shows the bitmap with the frame's time: false when the window was closed
  // (or cannot be shown at all).
  bool Show(TBitmap& ABitmap, int AFrameNumber, int64_t APTS);
  bool Closed() const { return Closed_; }
  // The X window id (0 before the first Show).
  unsigned long WindowId() const;

  // "%.2d:%.2d:%.2d.%.3d" of APTS + 5000 microseconds, "N/A" for a missing
  // time (AV_NOPTS_VALUE).
  static std::string Caption(int64_t APTS);

 private:
  void Paint();  // main thread

  std::atomic<bool> Closed_{false};
  TBitmap* Bitmap_ = nullptr;
  int FrameNumber_ = 0;
  int64_t PTS_ = 0;
  std::unique_ptr<TPreviewerForm> Window_;  // main thread only
};

}  // namespace vexa
