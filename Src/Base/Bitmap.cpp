// The engine's bitmap: a top-down pixel buffer with a canvas lock.
#include "Base/Bitmap.h"

#include <cstdlib>
#include <new>

namespace vexa {

namespace {
constexpr size_t kAlignment = 64;
}

void TBitmap::TFree::operator()(uint8_t* p) const { std::free(p); }

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

int TBitmap::BitsPerPixel() const { return Format_ == TBitmapFormat::bf15bit ? 16 : BitsPixel(); }

int TBitmap::RowBytesFor(TBitmapFormat AFormat, int AWidth) {
  if (AWidth <= 0) return 0;
  const int64_t bits = static_cast<int64_t>(AWidth) * (AFormat == TBitmapFormat::bf15bit ? 16 : static_cast<int>(AFormat));
  return static_cast<int>((bits + 31) / 32 * 4);
}

const std::array<uint32_t, 256>& TBitmap::Palette() {
  static const std::array<uint32_t, 256> palette = [] {
    std::array<uint32_t, 256> p{};
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t r = (i & 7u) * 255u / 7u;
      const uint32_t g = ((i >> 3) & 7u) * 255u / 7u;
      const uint32_t b = (i >> 6) * 255u / 3u;
      p[i] = 0xff000000u | (r << 16) | (g << 8) | b;
    }
    return p;
  }();
  return palette;
}

void TBitmap::SetFormat(TBitmapFormat AFormat) {
  if (AFormat == Format_) return;
  Format_ = AFormat;
  const int width = Width_, height = Height_;
  Width_ = Height_ = RowBytes_ = 0;
  SetSize(width, height);
}

void TBitmap::UsePixels(uint8_t* APixels) {
  External_ = APixels;
  if (!APixels) Reserve(SizeInBytes());
}

void TBitmap::Reserve(size_t size) {
  if (size > Capacity_) {
    const size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
    void* memory = std::aligned_alloc(kAlignment, rounded);
    if (!memory) throw std::bad_alloc();
    Pixels_.reset(static_cast<uint8_t*>(memory));
    Capacity_ = rounded;
  }
}

void TBitmap::SetSize(int AWidth, int AHeight) {
  if (AWidth < 0) AWidth = 0;
  if (AHeight < 0) AHeight = 0;
  if (AWidth == Width_ && AHeight == Height_) return;
  const int rowBytes = RowBytesFor(Format_, AWidth);
  if (!External_) Reserve(static_cast<size_t>(rowBytes) * static_cast<size_t>(AHeight));
  Width_ = AWidth;
  Height_ = AHeight;
  RowBytes_ = rowBytes;
}

}  // namespace vexa
