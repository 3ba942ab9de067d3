// Conversion between decoded pictures and the engine's bitmap, for the video
// hooks and the previews.
//
// FrameToBitmap lays a picture open on the converter's bitmap: a picture that
// already has the bitmap's layout (its pixel format, even width and height,
// rows as long as the bitmap's) is copied row by row; any other picture is
// first converted with swscale into the converter's own buffer, which then
// stands for the picture. After drawing, CopyFromBitmap puts the rows back
// into that picture and, when it was the converter's buffer, BitmapToFrame
// converts it into the destination picture.
//
// Bitmap layouts by depth (bits, bitmap format, media pixel format):
//   8  bf8bit  AV_PIX_FMT_BGR8     (palette index, TBitmap::Palette)
//   15 bf15bit AV_PIX_FMT_RGB555LE (red in the high bits, as the 15-bit bitmap)
//   16 bf16bit AV_PIX_FMT_RGB565LE (red in the high bits, as the 16-bit bitmap)
//   24 bf24bit AV_PIX_FMT_BGR24
//   32 bf32bit AV_PIX_FMT_BGRA     (AV_PIX_FMT_BGR0 pictures have the same bytes)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Base/Bitmap.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct SwsContext;

namespace vexa {

// Picture planes and line sizes (the frame hooks' picture).
struct TAVPicture {
  uint8_t* Data[8] = {};
  int LineSize[8] = {};
};

// Describes the picture the bitmap corresponds to, for hook consumers.
struct TBitmapDescription {
  int Type = 0;
  int Width = 0;
  int Height = 0;
  int WidthBytes = 0;  // the picture's first row length
  uint16_t Planes = 0;
  uint16_t BitsPixel = 0;
  void* Bits = nullptr;  // the picture's first data pointer
};

class TFormatConverter {
 public:
  // 32 bits per pixel, nothing converted yet.
  TFormatConverter();
  ~TFormatConverter();
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  // 8, 15, 16, 24 or 32; any other value raises FFmpegException
  // "Invalid BitsPixel %d" and keeps the current format.
  void SetBitsPixel(int ABitsPixel);
  int BitsPixel() const { return BitsPixel_; }
  // The picture format that matches the bitmap.
  AVPixelFormat MediaPixelFormat() const { return MediaPixFmt_; }
  // Whether a picture of `APixFmt` has the bitmap's bytes (BGR0 counts as
  // the 32-bit layout).
  bool SameLayout(int APixFmt) const;

  TBitmap& Bitmap() { return Bitmap_; }
  const TBitmapDescription& Description() const { return Description_; }

  // Sizes the bitmap and makes the picture its current picture, converting
  // it into the own buffer when its layout differs; with ACopy also copies
  // the rows into the bitmap. False (LastError set) when the conversion
  // cannot be set up.
  bool FrameToBitmap(const TAVPicture& APicture, int APixFmt, bool ACopy, int AHeight, int AWidth);
  // Rows of the current picture into the bitmap, or back. Raise
  // FFmpegException without a current picture.
  void CopyToBitmap();
  void CopyFromBitmap();
  // The bitmap's rows into ADest, a picture of the current picture's size
  // in the bitmap's layout (the current picture itself stays as it is).
  void CopyFromBitmap(const TAVPicture& ADest);
  // Converts the current picture into ADest. False (LastError set) when the
  // conversion cannot be set up; raises without a current picture.
  bool BitmapToFrame(const TAVPicture& ADest, int APixFmt, int AHeight, int AWidth);

  // The current picture is the converter's own buffer (a conversion ran).
  bool Converted() const { return Current_ == &Own_; }
  bool HasCurrentPicture() const { return Current_ != nullptr; }
  const std::string& LastError() const { return LastError_; }
  // The conversion buffer: grown on demand, never shrunk.
  const uint8_t* Buffer() const { return Buffer_; }
  size_t BufferSize() const { return BufferSize_; }

 private:
  void Reset();
  void RequireCurrent(const char* AOperation) const;

  AVPixelFormat MediaPixFmt_ = AV_PIX_FMT_BGRA;
  int BitsPixel_ = 32;
  TBitmap Bitmap_;
  TBitmapDescription Description_;
  uint8_t* Buffer_ = nullptr;
  size_t BufferSize_ = 0;
  TAVPicture Own_;
  TAVPicture Caller_;  // the caller's picture when no conversion ran
  const TAVPicture* Current_ = nullptr;
  int CurrentHeight_ = 0;
  int ScalerFlags_ = 4;  // SWS_BICUBIC
  SwsContext* ToBitmap_ = nullptr;
  SwsContext* FromBitmap_ = nullptr;
  std::string LastError_;
};

}  // namespace vexa
