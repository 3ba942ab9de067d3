// The region frame: a 2-pixel ring drawn just outside the captured rectangle
// as an override-redirect X window on its own connection (shaped with SHAPE,
// with an empty input shape so clicks pass through), kept on top. Its flash
// thread keeps it around the captured window every 10 ms and, once reading
// has started, switches it between blue and yellow every 50th pass.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <memory>
#include <thread>

#include "GDICapture/CaptureContext.h"
#include "GDICapture/XDisplay.h"

namespace vexa {

class TFrameForm;

class TFlashThread {
 public:
  explicit TFlashThread(TFrameForm& form);
  ~TFlashThread();  // terminate and wait
  TFlashThread(const TFlashThread&) = delete;
  TFlashThread& operator=(const TFlashThread&) = delete;

 private:
  TFrameForm& Form_;
  std::atomic<bool> Terminated_{false};
  std::atomic<bool> Running_{true};
  std::thread Thread_;
};

class TFrameForm {
 public:
  static constexpr int kBorderWidth = 2;

  // Creates and shows the ring for the capture of `c` (its window, flags,
  // offset and captured size); starts the flash thread. Throws nothing;
  // Valid() tells whether the window exists.
  explicit TFrameForm(TCaptureContext& c);
  // Stops the flash thread, destroys the window and closes its connection.
  ~TFrameForm();
  TFrameForm(const TFrameForm&) = delete;
  TFrameForm& operator=(const TFrameForm&) = delete;

  bool Valid() const { return Window_ != 0; }
  // The connection of the ring is lost (the display server has gone).
  bool Lost() const { return DisplayLost(Display_.get()); }
  Window XWindow() const { return Window_; }

  // Keeps the ring around the region (moves it when the region moved) and
  // on top.
  void Follow();
  // Once the capture has started: the next colour of the shared flash index.
  void Flash();

 private:
  // Screen coordinates of the ring's top-left corner.
  bool RegionOrigin(int& x, int& y);
  void SetColour(unsigned long pixel);

  TCaptureContext& C_;
  TDisplayPtr Display_;
  Window Window_ = 0;
  int Left_ = 0, Top_ = 0;
  unsigned long Colours_[2] = {0, 0};  // yellow, blue
  std::atomic<bool> Busy_{false};
  std::unique_ptr<TFlashThread> FlashThread_;
};

}  // namespace vexa
