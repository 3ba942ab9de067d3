// The engine bitmap: row lengths of the five layouts, top-down rows, memory
// kept when it shrinks, the 8-bit palette and the recursive canvas lock.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Base/Bitmap.h"

namespace vexa {
namespace {

struct TRowCase {
  TBitmapFormat Format;
  int Width;
  int RowBytes;
  int BitsPerPixel;
};

TEST(BitmapTest, RowsAreWholeWordsOfThePixelSize) {
  const TRowCase cases[] = {
      {TBitmapFormat::bf8bit, 641, 644, 8},     {TBitmapFormat::bf15bit, 641, 1284, 16},
      {TBitmapFormat::bf16bit, 640, 1280, 16},  {TBitmapFormat::bf24bit, 641, 1924, 24},
      {TBitmapFormat::bf24bit, 640, 1920, 24},  {TBitmapFormat::bf32bit, 640, 2560, 32},
      {TBitmapFormat::bf32bit, 1, 4, 32},
  };
  for (const TRowCase& c : cases) {
    TBitmap bitmap;
    bitmap.SetFormat(c.Format);
    bitmap.SetSize(c.Width, 3);
    EXPECT_EQ(bitmap.RowBytes(), c.RowBytes) << static_cast<int>(c.Format) << " " << c.Width;
    EXPECT_EQ(bitmap.BitsPerPixel(), c.BitsPerPixel);
    EXPECT_EQ(bitmap.SizeInBytes(), static_cast<size_t>(c.RowBytes) * 3);
    EXPECT_EQ(bitmap.ScanLine(2) - bitmap.ScanLine(0), 2 * c.RowBytes);
  }
}

TEST(BitmapTest, KeepsItsMemoryWhenItShrinksAndIsEmptyAtZero) {
  TBitmap bitmap;
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.Bits(), nullptr);
  bitmap.SetSize(320, 240);
  uint8_t* first = bitmap.Bits();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 64, 0u);
  bitmap.SetSize(100, 100);
  EXPECT_EQ(bitmap.Bits(), first);
  EXPECT_EQ(bitmap.Width(), 100);
  EXPECT_EQ(bitmap.RowBytes(), 400);
  bitmap.SetSize(-5, 10);
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.Bits(), nullptr);
}

TEST(BitmapTest, PaletteFollowsTheEightBitLayout) {
  const auto& palette = TBitmap::Palette();
  EXPECT_EQ(palette[0], 0xff000000u);
  EXPECT_EQ(palette[0xff], 0xffffffffu);
  EXPECT_EQ(palette[0x07], 0xffff0000u);  // red: the low three bits
  EXPECT_EQ(palette[0x38], 0xff00ff00u);  // green: the middle three
  EXPECT_EQ(palette[0xc0], 0xff0000ffu);  // blue: the high two
}

TEST(BitmapTest, CanvasLockIsRecursiveAndExcludesOtherThreads) {
  TBitmap bitmap;
  std::lock_guard<std::recursive_mutex> outer(bitmap.CanvasLock());
  {
    std::lock_guard<std::recursive_mutex> inner(bitmap.CanvasLock());
  }
  bool otherGotIt = true;
  std::thread other([&] { otherGotIt = bitmap.CanvasLock().try_lock(); });
  other.join();
  EXPECT_FALSE(otherGotIt);
}

}  // namespace
}  // namespace vexa

namespace vexa {
namespace {

TEST(BitmapTest, RowsCanLieInMemoryOfTheOwner) {
  TBitmap bitmap;
  bitmap.SetSize(8, 2);
  uint8_t* own = bitmap.Bits();
  std::vector<uint8_t> outside(8 * 4 * 2, 0);
  bitmap.UsePixels(outside.data());
  EXPECT_EQ(bitmap.Bits(), outside.data());
  bitmap.ScanLine(1)[0] = 7;
  EXPECT_EQ(outside[32], 7);
  bitmap.UsePixels(nullptr);
  EXPECT_EQ(bitmap.Bits(), own);
  EXPECT_EQ(bitmap.RowBytes(), 32);
}

}  // namespace
}  // namespace vexa
