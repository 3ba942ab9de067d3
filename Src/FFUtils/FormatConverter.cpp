// Conversion between decoded pictures and the engine's bitmap.
#include "FFUtils/FormatConverter.h"

#include <algorithm>
#include <cstring>

#include "Base/FFmpegException.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace vexa {

namespace {

struct TDepth {
  int Bits;
  TBitmapFormat Format;
  AVPixelFormat PixFmt;
};

// The 15- and 16-bit bitmaps keep red in the high bits, which the library
// names RGB555 / RGB565.
constexpr TDepth kDepths[] = {
    {8, TBitmapFormat::bf8bit, AV_PIX_FMT_BGR8},         {15, TBitmapFormat::bf15bit, AV_PIX_FMT_RGB555LE},
    {16, TBitmapFormat::bf16bit, AV_PIX_FMT_RGB565LE},   {24, TBitmapFormat::bf24bit, AV_PIX_FMT_BGR24},
    {32, TBitmapFormat::bf32bit, AV_PIX_FMT_BGRA},
};

const TDepth* FindDepth(int bits) {
  for (const TDepth& d : kDepths)
    if (d.Bits == bits) return &d;
  return nullptr;
}

}  // namespace

TFormatConverter::TFormatConverter() { Reset(); }

TFormatConverter::~TFormatConverter() {
  av_free(Buffer_);
  sws_freeContext(ToBitmap_);
  sws_freeContext(FromBitmap_);
}

void TFormatConverter::SetBitsPixel(int ABitsPixel) {
  const TDepth* depth = FindDepth(ABitsPixel);
  if (!depth) {
    char text[64];
    snprintf(text, sizeof(text), "Invalid BitsPixel %d", ABitsPixel);
    throw FFmpegException(text);
  }
  if (ABitsPixel == BitsPixel_) return;
  BitsPixel_ = ABitsPixel;
  Reset();
}

void TFormatConverter::Reset() {
  const TDepth* depth = FindDepth(BitsPixel_);
  Description_ = TBitmapDescription{};
  Own_ = TAVPicture{};
  Caller_ = TAVPicture{};
  Current_ = nullptr;
  MediaPixFmt_ = depth->PixFmt;
  std::lock_guard<std::recursive_mutex> canvas(Bitmap_.CanvasLock());
  Bitmap_.SetFormat(depth->Format);
}

bool TFormatConverter::SameLayout(int APixFmt) const {
  if (APixFmt == MediaPixFmt_) return true;
  return MediaPixFmt_ == AV_PIX_FMT_BGRA && APixFmt == AV_PIX_FMT_BGR0;
}

bool TFormatConverter::FrameToBitmap(const TAVPicture& APicture, int APixFmt, bool ACopy, int AHeight,
                                     int AWidth) {
  std::lock_guard<std::recursive_mutex> canvas(Bitmap_.CanvasLock());
  Bitmap_.SetSize(AWidth, AHeight);
  const bool convert = !SameLayout(APixFmt) || (AWidth & 1) || (AHeight & 1) ||
                       Bitmap_.RowBytes() != APicture.LineSize[0];
  if (convert) {
    const int size = av_image_get_buffer_size(MediaPixFmt_, AWidth, AHeight, 1);
    if (size < 0) {
      Current_ = nullptr;
      LastError_ = "Cannot initialize the toRGB conversion context";
      return false;
    }
    if (!Buffer_ || BufferSize_ < static_cast<size_t>(size)) {
      av_freep(&Buffer_);
      BufferSize_ = 0;
      Buffer_ = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(size)));
      if (!Buffer_) {
        Current_ = nullptr;
        LastError_ = "Cannot allocate the conversion buffer";
        return false;
      }
      BufferSize_ = static_cast<size_t>(size);
    }
    Own_ = TAVPicture{};
    av_image_fill_arrays(Own_.Data, Own_.LineSize, Buffer_, MediaPixFmt_, AWidth, AHeight, 1);
    ToBitmap_ = sws_getCachedContext(ToBitmap_, AWidth, AHeight, static_cast<AVPixelFormat>(APixFmt), AWidth,
                                     AHeight, MediaPixFmt_, ScalerFlags_, nullptr, nullptr, nullptr);
    if (!ToBitmap_) {
      Current_ = nullptr;
      LastError_ = "Cannot initialize the toRGB conversion context";
      return false;
    }
    sws_scale(ToBitmap_, APicture.Data, APicture.LineSize, 0, AHeight, Own_.Data, Own_.LineSize);
    Current_ = &Own_;
  } else {
    Caller_ = APicture;
    Current_ = &Caller_;
  }
  CurrentHeight_ = AHeight;
  Description_.Type = 0;
  Description_.Width = AWidth;
  Description_.Height = AHeight;
  Description_.WidthBytes = Current_->LineSize[0];
  Description_.Planes = 1;
  Description_.BitsPixel = static_cast<uint16_t>(BitsPixel_);
  Description_.Bits = Current_->Data[0];
  if (ACopy) CopyToBitmap();
  return true;
}

void TFormatConverter::RequireCurrent(const char* AOperation) const {
  if (!Current_) throw FFmpegException(std::string(AOperation) + " without a current picture");
}

void TFormatConverter::CopyToBitmap() {
  RequireCurrent("CopyToBitmap");
  std::lock_guard<std::recursive_mutex> canvas(Bitmap_.CanvasLock());
  const int rows = std::min(CurrentHeight_, Bitmap_.Height());
  const size_t bytes = static_cast<size_t>(std::min(Current_->LineSize[0], Bitmap_.RowBytes()));
  for (int y = 0; y < rows; ++y)
    memcpy(Bitmap_.ScanLine(y), Current_->Data[0] + static_cast<ptrdiff_t>(y) * Current_->LineSize[0], bytes);
}

void TFormatConverter::CopyFromBitmap() {
  RequireCurrent("CopyFromBitmap");
  CopyFromBitmap(*Current_);
}

void TFormatConverter::CopyFromBitmap(const TAVPicture& ADest) {
  RequireCurrent("CopyFromBitmap");
  std::lock_guard<std::recursive_mutex> canvas(Bitmap_.CanvasLock());
  const int rows = std::min(CurrentHeight_, Bitmap_.Height());
  const size_t bytes = static_cast<size_t>(std::min(ADest.LineSize[0], Bitmap_.RowBytes()));
  for (int y = 0; y < rows; ++y)
    memcpy(ADest.Data[0] + static_cast<ptrdiff_t>(y) * ADest.LineSize[0], Bitmap_.ScanLine(y), bytes);
}

bool TFormatConverter::BitmapToFrame(const TAVPicture& ADest, int APixFmt, int AHeight, int AWidth) {
  RequireCurrent("BitmapToFrame");
  FromBitmap_ = sws_getCachedContext(FromBitmap_, AWidth, AHeight, MediaPixFmt_, AWidth, AHeight,
                                     static_cast<AVPixelFormat>(APixFmt), ScalerFlags_, nullptr, nullptr, nullptr);
  if (!FromBitmap_) {
    LastError_ = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  sws_scale(FromBitmap_, Current_->Data, Current_->LineSize, 0, AHeight, ADest.Data, ADest.LineSize);
  return true;
}

}  // namespace vexa
