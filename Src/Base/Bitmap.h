// The engine's bitmap: the drawing surface of the video hooks and previews.
//
// A TBitmap is a plain pixel buffer: Width() x Height() pixels in one of the
// five layouts of TBitmapFormat, rows of RowBytes() bytes each (a multiple of
// four), stored top-down: ScanLine(0) is the top row and every next row
// follows RowBytes() further on in memory. Bits() is the first byte of the top
// row. The hook converter owns the bitmap and sizes it for every frame; hook
// handlers draw on it and never resize it. Bits() may differ from one hook
// call to the next: take it (and wrap it) anew in every call.
//
// Pixel layouts (byte order in memory; multi-byte pixels are little-endian):
//
//   bf8bit   1 byte: an index into Palette(): 3 bits red (low), 3 bits green,
//            2 bits blue (high)                       QImage::Format_Indexed8
//                                                     with setColorTable(Palette())
//   bf15bit  2 bytes: 0RRRRRGG GGGBBBBB (bit 15..0)    QImage::Format_RGB555
//   bf16bit  2 bytes: RRRRRGGG GGGBBBBB (bit 15..0)    QImage::Format_RGB16
//   bf24bit  3 bytes: blue, green, red                 QImage::Format_BGR888
//   bf32bit  4 bytes: blue, green, red, fourth byte    QImage::Format_RGB32
//            (the fourth byte is padding for a screen picture; paint with
//            Format_RGB32, which keeps every pixel opaque)
//
// Painting from an application, without copying the pixels:
//
//   void OnVideoInputHook(void* Sender, PHookInfo AInfo) {
//     TBitmap& bitmap = *AInfo->Bitmap;
//     std::lock_guard<std::recursive_mutex> canvas(bitmap.CanvasLock());
//     QImage image(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.RowBytes(),
//                  QImage::Format_RGB32);   // the format of bitmap.Format()
//     QPainter painter(&image);
//     painter.drawText(...);
//     // painter and image go before the lock; AInfo->Update stays true so
//     // that the drawing is written back into the frame.
//   }
//
// The canvas lock: the engine holds CanvasLock() while it fills the bitmap and
// while a hook handler runs, so a handler owns the pixels for its whole call
// (taking the lock again inside the handler is allowed: it is recursive). Code
// on another thread that reads or paints a bitmap it was handed (a preview
// bitmap kept for later, say) takes CanvasLock() first. The lock does not
// protect the size: only the owner of the bitmap resizes it, between hook
// calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace vexa {

// The pixel layouts of a bitmap; the value is the bit depth.
enum class TBitmapFormat : int { bf8bit = 8, bf15bit = 15, bf16bit = 16, bf24bit = 24, bf32bit = 32 };

class TBitmap {
 public:
  // An empty 32-bit bitmap.
  TBitmap();
  ~TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return Width_; }
  int Height() const { return Height_; }
  // Bytes from one row to the next: Width() x BitsPerPixel() rounded up to
  // whole 32-bit words.
  int RowBytes() const { return RowBytes_; }
  TBitmapFormat Format() const { return Format_; }
  // The depth of Format() (8, 15, 16, 24 or 32).
  int BitsPixel() const { return static_cast<int>(Format_); }
  // The bits each pixel occupies in memory (15-bit pixels take 16).
  int BitsPerPixel() const;
  // Bytes of all rows: RowBytes() x Height().
  size_t SizeInBytes() const { return static_cast<size_t>(RowBytes_) * static_cast<size_t>(Height_); }
  bool Empty() const { return Width_ == 0 || Height_ == 0; }

  // The first byte of the top row (nullptr for an empty bitmap).
  uint8_t* Bits() { return Empty() ? nullptr : (External_ ? External_ : Pixels_.get()); }
  const uint8_t* Bits() const { return Empty() ? nullptr : (External_ ? External_ : Pixels_.get()); }
  // Row `ARow` from the top, 0 <= ARow < Height().
  uint8_t* ScanLine(int ARow) { return Bits() + static_cast<ptrdiff_t>(ARow) * RowBytes_; }
  const uint8_t* ScanLine(int ARow) const { return Bits() + static_cast<ptrdiff_t>(ARow) * RowBytes_; }

  // The colours of the 8-bit indices as 0xffRRGGBB (QImage's QRgb), for
  // every format; meaningful for bf8bit.
  static const std::array<uint32_t, 256>& Palette();

  // Held by the engine while it fills the bitmap and while a hook runs.
  std::recursive_mutex& CanvasLock() const { return Canvas_; }

  // --- the owner's side
  // Changes the layout; the pixels are undefined afterwards.
  void SetFormat(TBitmapFormat AFormat);
  // Sizes the bitmap (0 x 0 empties it). The memory grows when needed and is
  // kept when the bitmap shrinks; the pixels are undefined afterwards unless
  // the size and format are unchanged. Negative sizes count as 0.
  void SetSize(int AWidth, int AHeight);
  // Lets the rows lie in `APixels` (at least RowBytes() x Height() bytes for
  // every size set meanwhile; the caller keeps that memory alive) until
  // called with nullptr, which returns to the bitmap's own memory (pixels
  // undefined).
  void UsePixels(uint8_t* APixels);
  // Row length of a bitmap of `AWidth` pixels in `AFormat`.
  static int RowBytesFor(TBitmapFormat AFormat, int AWidth);

 private:
  struct TFree {
    void operator()(uint8_t* p) const;
  };
  void Reserve(size_t ASize);  // own memory of at least ASize bytes

  int Width_ = 0;
  int Height_ = 0;
  int RowBytes_ = 0;
  TBitmapFormat Format_ = TBitmapFormat::bf32bit;
  std::unique_ptr<uint8_t, TFree> Pixels_;
  size_t Capacity_ = 0;
  uint8_t* External_ = nullptr;
  mutable std::recursive_mutex Canvas_;
};

}  // namespace vexa
