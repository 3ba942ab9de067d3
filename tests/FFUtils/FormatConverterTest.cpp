// The format converter: pictures that already have the bitmap's layout are
// copied straight, others go through the scaler and back; the buffer grows
// and is reused; a wrong depth is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "Base/FFmpegException.h"
#include "FFUtils/FormatConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

namespace vexa {
namespace {

struct TFrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// A picture with rows of exactly width x pixel size bytes, filled with one
// byte value per plane.
class TPicture {
 public:
  TPicture(AVPixelFormat format, int width, int height, std::initializer_list<int> fill = {})
      : Frame_(av_frame_alloc()), Format_(format) {
    Frame_->format = format;
    Frame_->width = width;
    Frame_->height = height;
    if (av_frame_get_buffer(Frame_.get(), 1) < 0) throw std::runtime_error("picture");
    int plane = 0;
    for (int value : fill) {
      const int h = plane == 0 ? height : (height + 1) / 2;
      memset(Frame_->data[plane], value, static_cast<size_t>(Frame_->linesize[plane]) * h);
      ++plane;
    }
    for (int i = 0; i < 8; ++i) {
      Picture.Data[i] = Frame_->data[i];
      Picture.LineSize[i] = Frame_->linesize[i];
    }
  }
  uint8_t* Pixel(int x, int y, int bytes) { return Picture.Data[0] + y * Picture.LineSize[0] + x * bytes; }
  int Format() const { return Format_; }
  TAVPicture Picture;

 private:
  std::unique_ptr<AVFrame, TFrameFree> Frame_;
  int Format_;
};

void FillRect(TBitmap& bitmap, int x0, int y0, int w, int h, const uint8_t* pixel, int bytes) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) memcpy(bitmap.ScanLine(y) + x * bytes, pixel, static_cast<size_t>(bytes));
}

TEST(FormatConverterTest, PictureInTheBitmapLayoutNeedsNoConversion) {
  for (AVPixelFormat format : {AV_PIX_FMT_BGRA, AV_PIX_FMT_BGR0}) {
    TFormatConverter converter;
    TPicture picture(format, 640, 480, {0x10});
    ASSERT_EQ(picture.Picture.LineSize[0], 2560);
    *picture.Pixel(0, 0, 4) = 0x77;  // top-left blue byte
    ASSERT_TRUE(converter.FrameToBitmap(picture.Picture, format, true, 480, 640));
    EXPECT_FALSE(converter.Converted());
    EXPECT_EQ(converter.BufferSize(), 0u);
    TBitmap& bitmap = converter.Bitmap();
    EXPECT_EQ(bitmap.Width(), 640);
    EXPECT_EQ(bitmap.Height(), 480);
    EXPECT_EQ(bitmap.Format(), TBitmapFormat::bf32bit);
    EXPECT_EQ(bitmap.ScanLine(0)[0], 0x77);  // the top row stays on top
    EXPECT_EQ(bitmap.ScanLine(479)[0], 0x10);
    const TBitmapDescription& d = converter.Description();
    EXPECT_EQ(d.Width, 640);
    EXPECT_EQ(d.Height, 480);
    EXPECT_EQ(d.WidthBytes, 2560);
    EXPECT_EQ(d.Planes, 1);
    EXPECT_EQ(d.BitsPixel, 32);
    EXPECT_EQ(d.Bits, picture.Picture.Data[0]);

    const uint8_t red[4] = {0, 0, 255, 255};
    FillRect(bitmap, 100, 50, 20, 10, red, 4);
    converter.CopyFromBitmap();
    EXPECT_EQ(memcmp(picture.Pixel(110, 55, 4), red, 3), 0);
    EXPECT_EQ(*picture.Pixel(99, 55, 4), 0x10);
  }
}

TEST(FormatConverterTest, OddWidthIsConvertedAndWrittenBack) {
  TFormatConverter converter;
  TPicture picture(AV_PIX_FMT_BGRA, 641, 480, {0x20});
  ASSERT_TRUE(converter.FrameToBitmap(picture.Picture, AV_PIX_FMT_BGRA, true, 480, 641));
  EXPECT_TRUE(converter.Converted());
  EXPECT_NE(converter.Description().Bits, picture.Picture.Data[0]);
  const uint8_t green[4] = {0, 255, 0, 255};
  FillRect(converter.Bitmap(), 600, 400, 41, 80, green, 4);
  converter.CopyFromBitmap();
  EXPECT_EQ(*picture.Pixel(640, 479, 4), 0x20);  // not yet in the picture
  ASSERT_TRUE(converter.BitmapToFrame(picture.Picture, AV_PIX_FMT_BGRA, 480, 641));
  EXPECT_EQ(memcmp(picture.Pixel(640, 479, 4), green, 3), 0);
  EXPECT_EQ(*picture.Pixel(599, 400, 4), 0x20);
}

TEST(FormatConverterTest, TwentyFourBitHookOnThirtyTwoBitPictureConvertsBothWays) {
  TFormatConverter converter;
  converter.SetBitsPixel(24);
  TPicture picture(AV_PIX_FMT_BGRA, 64, 48, {0});
  uint8_t* p = picture.Pixel(3, 2, 4);
  p[0] = 200, p[1] = 100, p[2] = 50;
  ASSERT_TRUE(converter.FrameToBitmap(picture.Picture, AV_PIX_FMT_BGRA, true, 48, 64));
  EXPECT_TRUE(converter.Converted());
  TBitmap& bitmap = converter.Bitmap();
  EXPECT_EQ(bitmap.Format(), TBitmapFormat::bf24bit);
  EXPECT_EQ(bitmap.ScanLine(2)[9], 200);
  EXPECT_EQ(bitmap.ScanLine(2)[10], 100);
  EXPECT_EQ(bitmap.ScanLine(2)[11], 50);
  const uint8_t red[3] = {0, 0, 255};
  FillRect(bitmap, 10, 10, 4, 4, red, 3);
  converter.CopyFromBitmap();
  ASSERT_TRUE(converter.BitmapToFrame(picture.Picture, AV_PIX_FMT_BGRA, 48, 64));
  EXPECT_EQ(memcmp(picture.Pixel(11, 11, 4), red, 3), 0);
  EXPECT_EQ(picture.Pixel(3, 2, 4)[0], 200);
}

// White is every bit set in each layout; a grey yuv420p picture becomes the
// same grey in the bitmap.
TEST(FormatConverterTest, Yuv420pWorksAtEveryDepth) {
  for (int bits : {8, 15, 16, 24, 32}) {
    TFormatConverter converter;
    converter.SetBitsPixel(bits);
    TPicture picture(AV_PIX_FMT_YUV420P, 32, 16, {16, 128, 128});  // black
    ASSERT_TRUE(converter.FrameToBitmap(picture.Picture, AV_PIX_FMT_YUV420P, true, 16, 32)) << bits;
    EXPECT_TRUE(converter.Converted());
    TBitmap& bitmap = converter.Bitmap();
    EXPECT_EQ(bitmap.BitsPixel(), bits);
    const int bytes = bitmap.BitsPerPixel() / 8;
    const int colourBytes = bits == 32 ? 3 : bytes;  // not the fourth byte
    for (int b = 0; b < colourBytes; ++b) EXPECT_LE(bitmap.ScanLine(5)[5 * bytes + b] & 0x7f, 8) << bits;
    const uint8_t white[4] = {0xff, 0xff, 0xff, 0xff};
    FillRect(bitmap, 0, 0, 16, 8, white, bytes);
    converter.CopyFromBitmap();
    ASSERT_TRUE(converter.BitmapToFrame(picture.Picture, AV_PIX_FMT_YUV420P, 16, 32));
    EXPECT_GT(picture.Picture.Data[0][2 * picture.Picture.LineSize[0] + 2], 225) << bits;
    EXPECT_LT(picture.Picture.Data[0][12 * picture.Picture.LineSize[0] + 28], 30) << bits;
  }
}

TEST(FormatConverterTest, InvalidDepthRaisesAndKeepsTheFormat) {
  TFormatConverter converter;
  converter.SetBitsPixel(16);
  try {
    converter.SetBitsPixel(12);
    FAIL() << "no exception";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Invalid BitsPixel 12");
  }
  EXPECT_EQ(converter.BitsPixel(), 16);
  EXPECT_EQ(converter.MediaPixelFormat(), AV_PIX_FMT_RGB565LE);
  EXPECT_EQ(converter.Bitmap().Format(), TBitmapFormat::bf16bit);
}

TEST(FormatConverterTest, SmallerSecondPictureReusesTheBuffer) {
  TFormatConverter converter;
  TPicture large(AV_PIX_FMT_YUV420P, 320, 240, {16, 128, 128});
  ASSERT_TRUE(converter.FrameToBitmap(large.Picture, AV_PIX_FMT_YUV420P, true, 240, 320));
  const uint8_t* buffer = converter.Buffer();
  const size_t size = converter.BufferSize();
  EXPECT_EQ(size, 320u * 240u * 4u);
  TPicture small(AV_PIX_FMT_YUV420P, 160, 120, {16, 128, 128});
  ASSERT_TRUE(converter.FrameToBitmap(small.Picture, AV_PIX_FMT_YUV420P, true, 120, 160));
  EXPECT_EQ(converter.Buffer(), buffer);
  EXPECT_EQ(converter.BufferSize(), size);
  EXPECT_EQ(converter.Bitmap().Width(), 160);
}

TEST(FormatConverterTest, UnconvertiblePictureFailsWithTheMessage) {
  TFormatConverter converter;
  TPicture picture(AV_PIX_FMT_YUV420P, 32, 16, {16, 128, 128});
  ASSERT_TRUE(converter.FrameToBitmap(picture.Picture, AV_PIX_FMT_YUV420P, true, 16, 32));
  EXPECT_FALSE(converter.FrameToBitmap(picture.Picture, AV_PIX_FMT_VAAPI, true, 16, 32));
  EXPECT_EQ(converter.LastError(), "Cannot initialize the toRGB conversion context");
  EXPECT_FALSE(converter.HasCurrentPicture());
  EXPECT_THROW(converter.CopyFromBitmap(), FFmpegException);
}

}  // namespace
}  // namespace vexa
