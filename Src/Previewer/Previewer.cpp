// The preview window: an X11 window on a connection of its own, created,
// painted and destroyed on the main thread.
#include "Previewer/Previewer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Base/MainThread.h"

namespace vexa {

namespace {

constexpr int64_t kNoTimestamp = INT64_MIN;  // the media library's missing time

// 0x00RRGGBB of a bitmap pixel.
uint32_t PixelRgb(const TBitmap& bitmap, const uint8_t* row, int x) {
  switch (bitmap.Format()) {
    case TBitmapFormat::bf8bit:
      return TBitmap::Palette()[row[x]] & 0xffffffu;
    case TBitmapFormat::bf15bit: {
      const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
      const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
      return ((r * 255 / 31) << 16) | ((g * 255 / 31) << 8) | (b * 255 / 31);
    }
    case TBitmapFormat::bf16bit: {
      const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
      const unsigned r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
      return ((r * 255 / 31) << 16) | ((g * 255 / 63) << 8) | (b * 255 / 31);
    }
    case TBitmapFormat::bf24bit:
      return (static_cast<uint32_t>(row[3 * x + 2]) << 16) | (row[3 * x + 1] << 8) | row[3 * x];
    case TBitmapFormat::bf32bit:
      return (static_cast<uint32_t>(row[4 * x + 2]) << 16) | (row[4 * x + 1] << 8) | row[4 * x];
  }
  return 0;
}

// A value of the visual's mask from an 8-bit colour component.
unsigned long Scale(uint32_t component, unsigned long mask) {
  if (!mask) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  const unsigned long max = mask >> shift;
  return ((component * max + 127) / 255) << shift;
}

}  // namespace

// The X window and its connection (main thread only).
class TPreviewerForm {
 public:
  TPreviewerForm(int AWidth, int AHeight) {
    Display_ = XOpenDisplay(nullptr);
    if (!Display_) return;
    const int screen = DefaultScreen(Display_);
    const Window root = RootWindow(Display_, screen);
    const int x = (DisplayWidth(Display_, screen) - AWidth) / 2;
    const int y = (DisplayHeight(Display_, screen) - AHeight) / 2;
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(Display_, screen);
    attributes.event_mask =
        ExposureMask | ButtonPressMask | ButtonReleaseMask | Button1MotionMask | StructureNotifyMask;
    Window_ = XCreateWindow(Display_, root, x, y, static_cast<unsigned>(AWidth), static_cast<unsigned>(AHeight), 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attributes);
    Width_ = AWidth;
    Height_ = AHeight;
    // Centred at a fixed size.
    XSizeHints hints{};
    hints.flags = PPosition | USPosition | PMinSize | PMaxSize;
    hints.x = x;
    hints.y = y;
    hints.min_width = hints.max_width = AWidth;
    hints.min_height = hints.max_height = AHeight;
    XSetWMNormalHints(Display_, Window_, &hints);
    XClassHint classHint{const_cast<char*>("vexapreview"), const_cast<char*>("VexaPreview")};
    XSetClassHint(Display_, Window_, &classHint);
    // Closing asks us (WM_DELETE_WINDOW) instead of killing the connection.
    DeleteAtom_ = XInternAtom(Display_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(Display_, Window_, &DeleteAtom_, 1);
    // A tool window that stays on top, with a close button only.
    const Atom type = XInternAtom(Display_, "_NET_WM_WINDOW_TYPE", False);
    const Atom utility = XInternAtom(Display_, "_NET_WM_WINDOW_TYPE_UTILITY", False);
    XChangeProperty(Display_, Window_, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&utility), 1);
    const Atom state = XInternAtom(Display_, "_NET_WM_STATE", False);
    const Atom above = XInternAtom(Display_, "_NET_WM_STATE_ABOVE", False);
    XChangeProperty(Display_, Window_, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&above), 1);
    const Atom motif = XInternAtom(Display_, "_MOTIF_WM_HINTS", False);
    // flags: functions | decorations; functions: move | close; decorations:
    // border | title | menu.
    const long motifHints[5] = {1 | 2, 4 | 32, 2 | 8 | 16, 0, 0};
    XChangeProperty(Display_, Window_, motif, motif, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(motifHints), 5);
    Gc_ = XCreateGC(Display_, Window_, 0, nullptr);
    XMapRaised(Display_, Window_);
    XFlush(Display_);
  }

  ~TPreviewerForm() {
    if (!Display_) return;
    if (Image_) {
      Image_->data = nullptr;  // our vector's memory
      XDestroyImage(Image_);
    }
    if (Gc_) XFreeGC(Display_, Gc_);
    if (Window_) XDestroyWindow(Display_, Window_);
    XCloseDisplay(Display_);
  }

  TPreviewerForm(const TPreviewerForm&) = delete;
  TPreviewerForm& operator=(const TPreviewerForm&) = delete;

  bool Valid() const { return Display_ && Window_; }
  unsigned long Id() const { return Window_; }

  // Handles what happened since the last call; true when the window was
  // asked to close.
  bool ProcessEvents() {
    bool closeRequested = false;
    while (XPending(Display_) > 0) {
      XEvent event;
      XNextEvent(Display_, &event);
      switch (event.type) {
        case ClientMessage:
          if (static_cast<Atom>(event.xclient.data.l[0]) == DeleteAtom_) closeRequested = true;
          break;
        case ButtonPress:
          if (event.xbutton.button == Button1) StartMove(event.xbutton);
          break;
        case MotionNotify:
          if (Moving_) {
            XMoveWindow(Display_, Window_, event.xmotion.x_root - GrabX_, event.xmotion.y_root - GrabY_);
          }
          break;
        case ButtonRelease:
          if (event.xbutton.button == Button1) Moving_ = false;
          break;
        case Expose:
          if (event.xexpose.count == 0) Draw();
          break;
        default:
          break;
      }
    }
    return closeRequested;
  }

  void SetCaption(const std::string& ACaption) {
    XStoreName(Display_, Window_, ACaption.c_str());
    const Atom name = XInternAtom(Display_, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(Display_, "UTF8_STRING", False);
    XChangeProperty(Display_, Window_, name, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(ACaption.data()), static_cast<int>(ACaption.size()));
  }

  // Takes the bitmap's pixels into the window's image and draws it at (0, 0).
  void Update(const TBitmap& ABitmap) {
    const int screen = DefaultScreen(Display_);
    Visual* visual = DefaultVisual(Display_, screen);
    const int depth = DefaultDepth(Display_, screen);
    if (!Image_ || Image_->width != ABitmap.Width() || Image_->height != ABitmap.Height()) {
      if (Image_) {
        Image_->data = nullptr;
        XDestroyImage(Image_);
      }
      Image_ = XCreateImage(Display_, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                            static_cast<unsigned>(ABitmap.Width()), static_cast<unsigned>(ABitmap.Height()), 32, 0);
      if (!Image_) return;
      Pixels_.assign(static_cast<size_t>(Image_->bytes_per_line) * static_cast<size_t>(ABitmap.Height()), 0);
      Image_->data = reinterpret_cast<char*>(Pixels_.data());
    }
    const bool direct32 = Image_->bits_per_pixel == 32 && Image_->byte_order == LSBFirst &&
                          visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 && visual->blue_mask == 0xff;
    for (int y = 0; y < ABitmap.Height(); ++y) {
      const uint8_t* row = ABitmap.ScanLine(y);
      if (direct32) {
        auto* out = reinterpret_cast<uint32_t*>(Pixels_.data() + static_cast<size_t>(y) * Image_->bytes_per_line);
        for (int x = 0; x < ABitmap.Width(); ++x) out[x] = PixelRgb(ABitmap, row, x);
      } else {
        for (int x = 0; x < ABitmap.Width(); ++x) {
          const uint32_t rgb = PixelRgb(ABitmap, row, x);
          XPutPixel(Image_, x, y,
                    Scale(rgb >> 16, visual->red_mask) | Scale((rgb >> 8) & 255, visual->green_mask) |
                        Scale(rgb & 255, visual->blue_mask));
        }
      }
    }
    Draw();
  }

  void Flush() { XFlush(Display_); }

 private:
  void Draw() {
    if (!Image_) return;
    XPutImage(Display_, Window_, Gc_, Image_, 0, 0, 0, 0, static_cast<unsigned>(Image_->width),
              static_cast<unsigned>(Image_->height));
  }

  // A left press anywhere moves the window: through the window manager when
  // it offers moving (_NET_WM_MOVERESIZE), else by following the pointer.
  void StartMove(const XButtonEvent& AEvent) {
    const Atom moveResize = XInternAtom(Display_, "_NET_WM_MOVERESIZE", False);
    if (WindowManagerSupports(moveResize)) {
      XUngrabPointer(Display_, CurrentTime);
      XEvent message{};
      message.xclient.type = ClientMessage;
      message.xclient.window = Window_;
      message.xclient.message_type = moveResize;
      message.xclient.format = 32;
      message.xclient.data.l[0] = AEvent.x_root;
      message.xclient.data.l[1] = AEvent.y_root;
      message.xclient.data.l[2] = 8;  // _NET_WM_MOVERESIZE_MOVE
      message.xclient.data.l[3] = Button1;
      message.xclient.data.l[4] = 1;
      XSendEvent(Display_, DefaultRootWindow(Display_), False, SubstructureRedirectMask | SubstructureNotifyMask,
                 &message);
      return;
    }
    Moving_ = true;
    GrabX_ = AEvent.x;
    GrabY_ = AEvent.y;
  }

  bool WindowManagerSupports(Atom AAtom) {
    const Atom supported = XInternAtom(Display_, "_NET_SUPPORTED", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(Display_, DefaultRootWindow(Display_), supported, 0, 4096, False, XA_ATOM, &type, &format,
                           &count, &after, &data) == Success &&
        data) {
      const auto* atoms = reinterpret_cast<const Atom*>(data);
      for (unsigned long i = 0; i < count; ++i)
        if (atoms[i] == AAtom) found = true;
    }
    if (data) XFree(data);
    return found;
  }

  Display* Display_ = nullptr;
  Window Window_ = 0;
  GC Gc_ = nullptr;
  Atom DeleteAtom_ = None;
  XImage* Image_ = nullptr;
  std::vector<uint8_t> Pixels_;
  int Width_ = 0, Height_ = 0;
  bool Moving_ = false;
  int GrabX_ = 0, GrabY_ = 0;
};

TPreviewer::TPreviewer() = default;

TPreviewer::~TPreviewer() {
  if (!Window_) return;
  try {
    Synchronize([this] { Window_.reset(); });
  } catch (...) {
    Window_.reset();
  }
}

unsigned long TPreviewer::WindowId() const { return Window_ ? Window_->Id() : 0; }

std::string TPreviewer::Caption(int64_t APTS) {
  if (APTS == kNoTimestamp) return "N/A";
  const int64_t ms = (APTS + 5000) / 1000;
  char text[64];
  snprintf(text, sizeof(text), "%.2d:%.2d:%.2d.%.3d", static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
           static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  return text;
}

bool TPreviewer::Show(TBitmap& ABitmap, int AFrameNumber, int64_t APTS) {
  if (Closed_) return false;
  Bitmap_ = &ABitmap;
  FrameNumber_ = AFrameNumber;
  PTS_ = APTS;
  Synchronize([this] { Paint(); });
  return !Closed_;
}

void TPreviewer::Paint() {
  if (Closed_) return;
  std::lock_guard<std::recursive_mutex> canvas(Bitmap_->CanvasLock());
  if (!Window_) {
    Window_ = std::make_unique<TPreviewerForm>(Bitmap_->Width(), Bitmap_->Height());
    if (!Window_->Valid()) {
      // No display to show it on: as good as closed.
      Window_.reset();
      Closed_ = true;
      return;
    }
  }
  if (Window_->ProcessEvents()) {
    Closed_ = true;
    Window_.reset();
    return;
  }
  Window_->SetCaption(Caption(PTS_));
  Window_->Update(*Bitmap_);
  Window_->Flush();
}

}  // namespace vexa
