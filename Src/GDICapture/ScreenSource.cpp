#include "GDICapture/ScreenSource.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vexa {

namespace {

int BitsPerPixelOfDepth(Display* d, int depth) {
  int n = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(d, &n);
  int bpp = 0;
  for (int i = 0; i < n; ++i)
    if (formats[i].depth == depth) bpp = formats[i].bits_per_pixel;
  if (formats) XFree(formats);
  return bpp;
}

// Premultiplied "over" of one 8-bit channel.
inline uint8_t Over(unsigned src, unsigned dst, unsigned alpha) {
  const unsigned v = src + (dst * (255 - alpha) + 127) / 255;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

}  // namespace

TScreenSource::~TScreenSource() { DestroyImage(); }

void TScreenSource::DestroyImage() {
  if (!Image_) return;
  if (UseShm_) {
    // A lost connection takes no more requests (they would wait forever).
    if (!DisplayLost(Display_.get())) {
      XShmDetach(Display_.get(), &Shm_);
      XSync(Display_.get(), False);
    }
    shmdt(Shm_.shmaddr);
  }
  Image_->data = nullptr;  // the pixels are not Xlib's to free
  XDestroyImage(Image_);
  Image_ = nullptr;
  Pixels_.clear();
  LiveCaptureImages().fetch_sub(1);
}

int TScreenSource::CreateImage(TCaptureContext& c, Visual* visual, int depth) {
  Display* d = Display_.get();
  if (XShmQueryExtension(d)) {
    Shm_ = XShmSegmentInfo{};
    Shm_.shmid = -1;
    XImage* image = XShmCreateImage(d, visual, depth, ZPixmap, nullptr, &Shm_, Width_, Height_);
    if (image) {
      const size_t bytes = static_cast<size_t>(image->bytes_per_line) * Height_;
      Shm_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
      void* addr = Shm_.shmid >= 0 ? shmat(Shm_.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
      if (addr != reinterpret_cast<void*>(-1)) {
        Shm_.shmaddr = image->data = static_cast<char*>(addr);
        Shm_.readOnly = False;
        TXErrorTrap trap(d);
        const Bool attached = XShmAttach(d, &Shm_);
        const int error = trap.Error();
        shmctl(Shm_.shmid, IPC_RMID, nullptr);  // gone once both sides detach
        if (attached && !error) {
          Image_ = image;
          UseShm_ = true;
          LiveCaptureImages().fetch_add(1);
          return 0;
        }
        shmdt(addr);
      } else if (Shm_.shmid >= 0) {
        shmctl(Shm_.shmid, IPC_RMID, nullptr);
      }
      image->data = nullptr;
      XDestroyImage(image);
    }
    c.Log(llDebug, "MIT-SHM not usable, copying with XGetImage\n");
  }

  const int pad = BitsPerPixelOfDepth(d, depth) > 8 ? 32 : 8;
  XImage* image = XCreateImage(d, visual, depth, ZPixmap, 0, nullptr, Width_, Height_, pad, 0);
  if (!image) {
    c.Log(llError, "CreateCompatibleDC() error %li\n", static_cast<long>(errno));
    return AVERROR(EIO);
  }
  try {
    Pixels_.assign(static_cast<size_t>(image->bytes_per_line) * Height_, 0);
  } catch (const std::bad_alloc&) {
    XDestroyImage(image);
    c.Log(llError, "CreateCompatibleBitmap() error %li\n", static_cast<long>(ENOMEM));
    return AVERROR(EIO);
  }
  image->data = reinterpret_cast<char*>(Pixels_.data());
  Image_ = image;
  UseShm_ = false;
  LiveCaptureImages().fetch_add(1);
  return 0;
}

int TScreenSource::Open(TCaptureContext& c) {
  Source_ = static_cast<Window>(c.SourceWindow);
  Client_ = c.ClientArea;
  OffsetX_ = c.OffsetX;
  OffsetY_ = c.OffsetY;

  Display_ = OpenCaptureDisplay();
  if (!Display_) {
    c.Log(llError, "Could not get window DC: GetDC() or GetWindowDC() error %li.\n",
          static_cast<long>(errno ? errno : ECONNREFUSED));
    return AVERROR(EIO);
  }
  Display* d = Display_.get();
  Root_ = DefaultRootWindow(d);
  if (Source_ == Root_) Source_ = 0;

  TXRect windowRect;
  if (Source_) {
    int error = 0;
    {
      TXErrorTrap trap(d);
      XWindowAttributes attrs;
      if (!XGetWindowAttributes(d, Source_, &attrs)) error = trap.Error() ? trap.Error() : BadWindow;
    }
    if (!error) error = WindowRect(d, Source_, Client_, windowRect);
    if (error) {
      c.Log(llError, "Could not get window DC: GetDC() or GetWindowDC() error %li.\n",
            static_cast<long>(error));
      return AVERROR(EIO);
    }
  }

  const int screen = DefaultScreen(d);
  ScreenWidth_ = DisplayWidth(d, screen);
  ScreenHeight_ = DisplayHeight(d, screen);

  int width = Source_ ? windowRect.Width : ScreenWidth_;
  int height = Source_ ? windowRect.Height : ScreenHeight_;
  if (c.RequestedWidth > 0) width = c.RequestedWidth;
  if (c.RequestedHeight > 0) height = c.RequestedHeight;
  if (OffsetX_ + width > ScreenWidth_) width = ScreenWidth_ - OffsetX_;
  if (OffsetY_ + height > ScreenHeight_) height = ScreenHeight_ - OffsetY_;

  const int depth = DefaultDepth(d, screen);
  const int bpp = BitsPerPixelOfDepth(d, depth);
  // A frame needs at least one pixel; whole bytes per pixel.
  if (width <= 0 || height <= 0 || bpp <= 0 || bpp % 8 != 0) {
    c.Log(llError, "Invalid properties, aborting.\n");
    return AVERROR(EIO);
  }
  Width_ = width;
  Height_ = height;
  c.Width = width;
  c.Height = height;
  c.BitsPerPixel = bpp;

  const int ret = CreateImage(c, DefaultVisual(d, screen), depth);
  if (ret < 0) return ret;

  BytesPerPixel_ = bpp / 8;
  RowBytes_ = Width_ * BytesPerPixel_;
  c.Log(llDebug, "Using Bitmap type %li, size %lix%lix%i, %i planes of width %li bytes\n", 0L,
        static_cast<long>(Width_), static_cast<long>(Height_), bpp, 1, static_cast<long>(RowBytes_));

  if (bpp == 32) {
    // Depth 24 in 32 bits: the fourth byte is padding, not transparency.
    PixelFormat_ = depth == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR0;
  } else if (bpp == 24) {
    PixelFormat_ = AV_PIX_FMT_BGR24;
  } else if (bpp == 16 && depth == 16) {
    PixelFormat_ = AV_PIX_FMT_RGB565LE;
  } else if (bpp == 16 && depth == 15) {
    PixelFormat_ = AV_PIX_FMT_RGB555LE;
  } else {
    c.Log(llError, "image depth %i not supported ... aborting\n", bpp);
    return AVERROR(EIO);
  }
  c.PixelFormat = PixelFormat_;
  c.FrameBytes = RowBytes_ * Height_;

  int eventBase = 0, errorBase = 0;
  HasXFixes_ = XFixesQueryExtension(d, &eventBase, &errorBase);
  OriginX_ = OffsetX_;
  OriginY_ = OffsetY_;
  return 0;
}

int TScreenSource::Grab() {
  Display* d = Display_.get();
  if (DisplayLost(d)) return BadImplementation;
  int x = OffsetX_, y = OffsetY_;
  if (Source_) {
    TXRect r;
    const int error = WindowRect(d, Source_, Client_, r);
    if (error) return error;
    x += r.X;
    y += r.Y;
  }
  OriginX_ = x;
  OriginY_ = y;

  const bool inside = x >= 0 && y >= 0 && x + Width_ <= ScreenWidth_ && y + Height_ <= ScreenHeight_;
  ClearLastXError(d);
  if (inside && UseShm_) {
    if (!XShmGetImage(d, Root_, Image_, x, y, AllPlanes)) {
      const int error = LastXError(d);
      return error ? error : BadMatch;
    }
    return 0;
  }
  // Only the part on the screen can be read; the rest stays black.
  const int left = std::max(x, 0), top = std::max(y, 0);
  const int right = std::min(x + Width_, ScreenWidth_), bottom = std::min(y + Height_, ScreenHeight_);
  if (!inside) {
    for (int row = 0; row < Height_; ++row)
      std::memset(Image_->data + static_cast<size_t>(row) * Image_->bytes_per_line, 0, RowBytes_);
  }
  if (right <= left || bottom <= top) return 0;
  if (!XGetSubImage(d, Root_, left, top, right - left, bottom - top, AllPlanes, ZPixmap, Image_,
                    left - x, top - y)) {
    const int error = LastXError(d);
    return error ? error : BadMatch;
  }
  return 0;
}

void TScreenSource::DrawCursor(TCaptureContext& c) {
  Display* d = Display_.get();
  if (DisplayLost(d)) return;  // the next grab ends the capture
  ClearLastXError(d);
  XFixesCursorImage* cursor = HasXFixes_ ? XFixesGetCursorImage(d) : nullptr;
  if (!cursor) {
    c.DrawCursor.store(false);
    if (DisplayLost(d)) return;  // the next grab ends the capture
    c.Log(llError, "Couldn not get cursor info: GetCursorInfo() error %li\n",
          static_cast<long>(HasXFixes_ ? LastXError(d) : BadImplementation));
    return;
  }
  if (cursor->width > 0 && cursor->height > 0) {
    // Pointer minus hot spot, in frame coordinates.
    const int x = cursor->x - cursor->xhot - OriginX_;
    const int y = cursor->y - cursor->yhot - OriginY_;
    BlendCursor(reinterpret_cast<uint8_t*>(Image_->data), Image_->bytes_per_line, Width_, Height_,
                PixelFormat_, cursor->pixels, cursor->width, cursor->height, x, y);
  }
  XFree(cursor);
}

void TScreenSource::CopyBits(uint8_t* dst) const {
  const uint8_t* src = reinterpret_cast<const uint8_t*>(Image_->data);
  if (Image_->bytes_per_line == RowBytes_) {
    std::memcpy(dst, src, static_cast<size_t>(RowBytes_) * Height_);
    return;
  }
  for (int row = 0; row < Height_; ++row)
    std::memcpy(dst + static_cast<size_t>(row) * RowBytes_,
                src + static_cast<size_t>(row) * Image_->bytes_per_line, RowBytes_);
}

void BlendCursor(uint8_t* frame, int rowBytes, int width, int height, AVPixelFormat format,
                 const unsigned long* argb, int cursorWidth, int cursorHeight, int x, int y) {
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min(x + cursorWidth, width), y1 = std::min(y + cursorHeight, height);
  for (int fy = y0; fy < y1; ++fy) {
    uint8_t* row = frame + static_cast<size_t>(fy) * rowBytes;
    const unsigned long* src = argb + static_cast<size_t>(fy - y) * cursorWidth;
    for (int fx = x0; fx < x1; ++fx) {
      const unsigned long p = src[fx - x];
      const unsigned a = (p >> 24) & 0xff, r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
      if (a == 0 && r == 0 && g == 0 && b == 0) continue;
      switch (format) {
        case AV_PIX_FMT_BGRA:
        case AV_PIX_FMT_BGR0: {
          uint8_t* px = row + fx * 4;
          px[0] = Over(b, px[0], a);
          px[1] = Over(g, px[1], a);
          px[2] = Over(r, px[2], a);
          break;
        }
        case AV_PIX_FMT_BGR24: {
          uint8_t* px = row + fx * 3;
          px[0] = Over(b, px[0], a);
          px[1] = Over(g, px[1], a);
          px[2] = Over(r, px[2], a);
          break;
        }
        case AV_PIX_FMT_RGB565LE:
        case AV_PIX_FMT_RGB555LE: {
          const bool six = format == AV_PIX_FMT_RGB565LE;
          uint8_t* px = row + fx * 2;
          const unsigned v = px[0] | (px[1] << 8);
          const unsigned gBits = six ? 6 : 5;
          const unsigned gMax = (1u << gBits) - 1;
          const unsigned dr = ((v >> (5 + gBits)) & 31) * 255 / 31;
          const unsigned dg = ((v >> 5) & gMax) * 255 / gMax;
          const unsigned db = (v & 31) * 255 / 31;
          const unsigned nr = Over(r, dr, a) * 31 / 255, ng = Over(g, dg, a) * gMax / 255,
                         nb = Over(b, db, a) * 31 / 255;
          const unsigned out = (nr << (5 + gBits)) | (ng << 5) | nb;
          px[0] = static_cast<uint8_t>(out & 0xff);
          px[1] = static_cast<uint8_t>(out >> 8);
          break;
        }
        default:
          return;
      }
    }
  }
}

}  // namespace vexa
