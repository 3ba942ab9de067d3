#include "GDICapture/FrameForm.h"

#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <chrono>

namespace vexa {

namespace {

// Shared by every frame; the first flash shows entry 1 (blue).
std::atomic<unsigned char> gFlashIndex{1};

unsigned long AllocColour(Display* d, unsigned short r, unsigned short g, unsigned short b) {
  XColor c{};
  c.red = r;
  c.green = g;
  c.blue = b;
  c.flags = DoRed | DoGreen | DoBlue;
  if (XAllocColor(d, DefaultColormap(d, DefaultScreen(d)), &c)) return c.pixel;
  return WhitePixel(d, DefaultScreen(d));
}

}  // namespace

TFlashThread::TFlashThread(TFrameForm& form) : Form_(form) {
  Thread_ = std::thread([this] {
    int counter = 0;
    // A lost display ends the ring's work; the grabber ends the capture.
    while (!Terminated_.load() && !Form_.Lost()) {
      if (counter == 49) {
        Form_.Flash();
        counter = 0;
      } else {
        ++counter;
      }
      Form_.Follow();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Running_.store(false);
  });
}

TFlashThread::~TFlashThread() {
  Terminated_.store(true);
  JoinCaptureThread(Thread_, Running_);
}

TFrameForm::TFrameForm(TCaptureContext& c) : C_(c) {
  Display_ = OpenCaptureDisplay();
  if (!Display_) {
    C_.Log(llWarning, "Could not show the capture frame: no X display.\n");
    return;
  }
  Display* d = Display_.get();
  Colours_[0] = AllocColour(d, 0xffff, 0xffff, 0);  // yellow
  Colours_[1] = AllocColour(d, 0, 0, 0xffff);       // blue

  int x = 0, y = 0;
  if (!RegionOrigin(x, y)) {
    x = C_.OffsetX - kBorderWidth;
    y = C_.OffsetY - kBorderWidth;
  }
  const int width = C_.Width + 2 * kBorderWidth, height = C_.Height + 2 * kBorderWidth;

  TXErrorTrap trap(d);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = Colours_[0];
  attrs.border_pixel = 0;
  Window w = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel | CWBorderPixel, &attrs);
  if (!w || trap.Error()) {
    C_.Log(llWarning, "Could not show the capture frame: X error %d.\n", trap.Error());
    return;
  }
  XStoreName(d, w, "Vexa capture frame");

  // Only the ring belongs to the window: the outer rectangle less the inner.
  const int b = kBorderWidth;
  XRectangle ring[4] = {
      {0, 0, static_cast<unsigned short>(width), static_cast<unsigned short>(b)},
      {0, static_cast<short>(height - b), static_cast<unsigned short>(width), static_cast<unsigned short>(b)},
      {0, static_cast<short>(b), static_cast<unsigned short>(b), static_cast<unsigned short>(height - 2 * b)},
      {static_cast<short>(width - b), static_cast<short>(b), static_cast<unsigned short>(b),
       static_cast<unsigned short>(height - 2 * b)},
  };
  XShapeCombineRectangles(d, w, ShapeBounding, 0, 0, ring, 4, ShapeSet, Unsorted);
  // Clicks pass through everywhere.
  XShapeCombineRectangles(d, w, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
  XMapRaised(d, w);
  XSync(d, False);
  if (trap.Error()) {
    XDestroyWindow(d, w);
    XSync(d, False);
    C_.Log(llWarning, "Could not show the capture frame: X error %d.\n", trap.Error());
    return;
  }
  Window_ = w;
  Left_ = x;
  Top_ = y;
  LiveCaptureWindows().fetch_add(1);
  FlashThread_ = std::make_unique<TFlashThread>(*this);
}

TFrameForm::~TFrameForm() {
  FlashThread_.reset();
  if (Window_) {
    // A lost connection takes no more requests: the window went with it.
    if (!Lost()) {
      XDestroyWindow(Display_.get(), Window_);
      XSync(Display_.get(), False);
    }
    Window_ = 0;
    LiveCaptureWindows().fetch_sub(1);
  }
}

bool TFrameForm::RegionOrigin(int& x, int& y) {
  x = C_.OffsetX - kBorderWidth;
  y = C_.OffsetY - kBorderWidth;
  if (!C_.SourceWindow) return true;
  TXRect r;
  if (WindowRect(Display_.get(), static_cast<Window>(C_.SourceWindow), C_.ClientArea, r)) return false;
  x += r.X;
  y += r.Y;
  return true;
}

void TFrameForm::SetColour(unsigned long pixel) {
  Display* d = Display_.get();
  XSetWindowBackground(d, Window_, pixel);
  XClearWindow(d, Window_);
}

void TFrameForm::Follow() {
  if (Lost() || Busy_.exchange(true)) return;
  Display* d = Display_.get();
  int x = 0, y = 0;
  if (RegionOrigin(x, y) && (x != Left_ || y != Top_)) {
    XMoveWindow(d, Window_, x, y);
    Left_ = x;
    Top_ = y;
  }
  XRaiseWindow(d, Window_);
  XFlush(d);
  Busy_.store(false);
}

void TFrameForm::Flash() {
  if (Lost()) return;
  Display* d = Display_.get();
  if (C_.Started.load()) {
    const unsigned char index = gFlashIndex.load();
    SetColour(Colours_[index & 1]);
    gFlashIndex.store(static_cast<unsigned char>(index ^ 1));
  }
  XRaiseWindow(d, Window_);
  XFlush(d);
}

}  // namespace vexa
