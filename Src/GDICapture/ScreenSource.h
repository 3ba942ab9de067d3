// The screen side of a capture input: its own X connection, the capture
// rectangle (the whole screen or one window, at an offset), one frame image
// made at open and reused for every frame (MIT-SHM when the server has it,
// plain XGetImage otherwise), and the cursor drawn into that image.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <vector>

#include "GDICapture/CaptureContext.h"
#include "GDICapture/XDisplay.h"

namespace vexa {

class TScreenSource {
 public:
  TScreenSource() = default;
  ~TScreenSource();
  TScreenSource(const TScreenSource&) = delete;
  TScreenSource& operator=(const TScreenSource&) = delete;

  // Opens the source of `c` (SourceWindow, ClientArea, OffsetX/Y and the
  // requested size) and fills Width, Height, BitsPerPixel, PixelFormat and
  // FrameBytes. Failures are logged on `c`; returns 0 or a negative code.
  int Open(TCaptureContext& c);

  // Copies the capture rectangle into the frame image. Parts outside the
  // screen read as black. Returns 0, or the X error code (or errno).
  int Grab();

  // Draws the pointer's cursor image into the frame at its place; any
  // failure clears c.DrawCursor and is logged unless c is stopped.
  void DrawCursor(TCaptureContext& c);

  // Writes the frame, rows top to bottom, RowBytes() each, into `dst`
  // (FrameBytes bytes).
  void CopyBits(uint8_t* dst) const;

  int RowBytes() const { return RowBytes_; }
  bool UsesSharedMemory() const { return UseShm_; }
  Display* XDisplay() const { return Display_.get(); }
  // Root coordinates of the frame's top-left pixel at the last Grab.
  int OriginX() const { return OriginX_; }
  int OriginY() const { return OriginY_; }

 private:
  int CreateImage(TCaptureContext& c, Visual* visual, int depth);
  void DestroyImage();

  TDisplayPtr Display_;
  Window Root_ = 0;
  Window Source_ = 0;  // 0 = the whole screen
  bool Client_ = false;
  int OffsetX_ = 0, OffsetY_ = 0;
  int Width_ = 0, Height_ = 0, BytesPerPixel_ = 0, RowBytes_ = 0;
  int ScreenWidth_ = 0, ScreenHeight_ = 0;
  AVPixelFormat PixelFormat_ = AV_PIX_FMT_NONE;
  int OriginX_ = 0, OriginY_ = 0;

  XImage* Image_ = nullptr;
  bool UseShm_ = false;
  XShmSegmentInfo Shm_{};
  std::vector<uint8_t> Pixels_;  // image data without MIT-SHM
  bool HasXFixes_ = false;
};

// Composites a premultiplied ARGB image (one pixel per unsigned long, as
// XFixes delivers it) at (x, y) of a frame, clipped to the frame.
void BlendCursor(uint8_t* frame, int rowBytes, int width, int height, AVPixelFormat format,
                 const unsigned long* argb, int cursorWidth, int cursorHeight, int x, int y);

}  // namespace vexa
