#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "FFUtils/YuvConverter.h"
#include "Support/MediaOwners.h"

namespace vexa {
namespace {

using test::TFramePtr;

// A picture with smooth areas, hard edges and noise, in a wider buffer so
// that the picture can start at any pixel of a row (an offset capture).
struct TSourcePicture {
  TSourcePicture(int width, int height, int offset, bool smooth = false) : Width(width), Height(height) {
    Stride = (width + offset) * 4 + 12;  // rows not aligned to anything
    Bytes.resize(static_cast<size_t>(Stride) * height + 64);
    unsigned seed = 7u * static_cast<unsigned>(width) + static_cast<unsigned>(height);
    for (size_t i = 0; i < Bytes.size(); ++i) Bytes[i] = static_cast<uint8_t>(i * 31);
    Origin = Bytes.data() + offset * 4;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t* p = Origin + static_cast<size_t>(y) * Stride + x * 4;
        seed = seed * 1103515245u + 12345u;
        const bool edge = !smooth && (x / 5 + y / 3) % 2 == 0;
        p[0] = static_cast<uint8_t>(edge ? 250 : x * 255 / width);  // blue
        p[1] = static_cast<uint8_t>(y * 255 / height);               // green
        p[2] = static_cast<uint8_t>(smooth ? (x + y) * 255 / (width + height) : ((x ^ y) & 0x40 ? 200 : 30) + (seed >> 28));
        p[3] = static_cast<uint8_t>(seed >> 24);  // padding or alpha: never part of the colour
      }
  }
  // A frame that refers to the picture (no copy).
  TFramePtr Frame(AVPixelFormat format) const {
    TFramePtr f(av_frame_alloc());
    f->format = format;
    f->width = Width;
    f->height = Height;
    f->data[0] = Origin;
    f->linesize[0] = Stride;
    f->pts = 1234;
    return f;
  }
  int Width, Height, Stride;
  std::vector<uint8_t> Bytes;
  uint8_t* Origin;
};

// The same conversion by swscale, as the filter graph's scaler does it.
TFramePtr SwscaleConvert(const AVFrame* src) {
  TFramePtr out(av_frame_alloc());
  out->format = AV_PIX_FMT_YUV420P;
  out->width = src->width;
  out->height = src->height;
  EXPECT_GE(av_frame_get_buffer(out.get(), 0), 0);
  SwsContext* sws = sws_getContext(src->width, src->height, static_cast<AVPixelFormat>(src->format), src->width,
                                   src->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
  EXPECT_NE(sws, nullptr);
  sws_scale(sws, src->data, src->linesize, 0, src->height, out->data, out->linesize);
  sws_freeContext(sws);
  return out;
}

struct TDifference {
  int Max = 0;
  double Mean = 0;
};

TDifference Compare(const AVFrame* a, const AVFrame* b, int plane) {
  const int w = plane ? (a->width + 1) / 2 : a->width;
  const int h = plane ? (a->height + 1) / 2 : a->height;
  TDifference d;
  long sum = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int diff = std::abs(a->data[plane][y * a->linesize[plane] + x] - b->data[plane][y * b->linesize[plane] + x]);
      d.Max = std::max(d.Max, diff);
      sum += diff;
    }
  d.Mean = static_cast<double>(sum) / (static_cast<double>(w) * h);
  return d;
}

struct TSizeCase {
  int Width, Height, Offset;
};

// Even sizes, the ones the engine converts this way: a picture with edges and
// noise agrees within the rounding of two fixed-point implementations.
// (Chroma is a 2x2 average in one and a filtered one in the other: a hard
// edge may differ by a few steps, the picture as a whole by well under one.)

class YuvConverterSizes : public ::testing::TestWithParam<TSizeCase> {};

TEST_P(YuvConverterSizes, MatchesSwscaleWithinRounding) {
  const TSizeCase c = GetParam();
  ASSERT_TRUE(c.Width % 2 == 0 && c.Height % 2 == 0);
  const TSourcePicture picture(c.Width, c.Height, c.Offset);
  TYuvConverter converter;
  for (AVPixelFormat format : {AV_PIX_FMT_BGRA, AV_PIX_FMT_BGR0}) {
    SCOPED_TRACE(format == AV_PIX_FMT_BGRA ? "bgra" : "bgr0");
    const TFramePtr src = picture.Frame(format);
    TFramePtr fast(av_frame_alloc());
    ASSERT_EQ(converter.Convert(src.get(), fast.get()), 0);
    EXPECT_EQ(fast->format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(fast->width, c.Width);
    EXPECT_EQ(fast->height, c.Height);
    EXPECT_EQ(fast->pts, 1234);  // the source's properties come along
    const TFramePtr reference = SwscaleConvert(src.get());
    const TDifference luma = Compare(fast.get(), reference.get(), 0);
    EXPECT_LE(luma.Max, 2);
    EXPECT_LT(luma.Mean, 0.6);
    for (int plane : {1, 2}) {
      SCOPED_TRACE(plane == 1 ? "U" : "V");
      const TDifference chroma = Compare(fast.get(), reference.get(), plane);
      EXPECT_LE(chroma.Max, 12);
      EXPECT_LT(chroma.Mean, 1.5);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EvenSizesAndOffsets, YuvConverterSizes,
                         ::testing::Values(TSizeCase{64, 48, 0}, TSizeCase{320, 240, 3}, TSizeCase{6, 4, 1},
                                           TSizeCase{34, 18, 5}, TSizeCase{1916, 1076, 2}, TSizeCase{1920, 1080, 0}));

// Odd sizes: every pixel is converted; the chroma of a 2x2 block is that of
// its average colour, and the last column and row average what they have.
// (swscale resamples the chroma of an odd size to the rounded-up half, so its
// samples drift across the picture; the engine keeps swscale for odd sizes.)
TEST(YuvConverter, OddSizesConvertEveryPixel) {
  for (const TSizeCase c : {TSizeCase{321, 241, 0}, TSizeCase{33, 17, 5}, TSizeCase{1, 1, 0}, TSizeCase{3, 2, 1}}) {
    SCOPED_TRACE(std::to_string(c.Width) + "x" + std::to_string(c.Height));
    const TSourcePicture picture(c.Width, c.Height, c.Offset);
    const TFramePtr src = picture.Frame(AV_PIX_FMT_BGR0);
    TYuvConverter converter;
    TFramePtr fast(av_frame_alloc());
    ASSERT_EQ(converter.Convert(src.get(), fast.get()), 0);
    const TFramePtr reference = SwscaleConvert(src.get());
    EXPECT_LE(Compare(fast.get(), reference.get(), 0).Max, 2);
    int worst = 0;
    for (int cy = 0; cy < (c.Height + 1) / 2; ++cy)
      for (int cx = 0; cx < (c.Width + 1) / 2; ++cx) {
        double r = 0, g = 0, b = 0;
        int n = 0;
        for (int y = 2 * cy; y < std::min(2 * cy + 2, c.Height); ++y)
          for (int x = 2 * cx; x < std::min(2 * cx + 2, c.Width); ++x, ++n) {
            const uint8_t* p = picture.Origin + static_cast<size_t>(y) * picture.Stride + x * 4;
            b += p[0];
            g += p[1];
            r += p[2];
          }
        r /= n, g /= n, b /= n;
        const double u = 128 + (-38 * r - 74 * g + 112 * b) / 256;
        const double v = 128 + (112 * r - 94 * g - 18 * b) / 256;
        worst = std::max(worst, static_cast<int>(std::abs(fast->data[1][cy * fast->linesize[1] + cx] - u) + 0.5));
        worst = std::max(worst, static_cast<int>(std::abs(fast->data[2][cy * fast->linesize[2] + cx] - v) + 0.5));
      }
    EXPECT_LE(worst, 2);
  }
}

TEST(YuvConverter, SolidColoursMatchSwscaleExactlyOrByOne) {
  // Flat areas are where a difference would show: no filter taps matter there.
  TSourcePicture picture(48, 32, 0);
  const uint8_t colours[][3] = {{0, 0, 0}, {255, 255, 255}, {64, 128, 32}, {0x40, 0x30, 0x20}, {10, 240, 130}};
  TYuvConverter converter;
  for (const auto& colour : colours) {
    for (int y = 0; y < picture.Height; ++y)
      for (int x = 0; x < picture.Width; ++x) std::memcpy(picture.Origin + y * picture.Stride + x * 4, colour, 3);
    const TFramePtr src = picture.Frame(AV_PIX_FMT_BGR0);
    TFramePtr fast(av_frame_alloc());
    ASSERT_EQ(converter.Convert(src.get(), fast.get()), 0);
    const TFramePtr reference = SwscaleConvert(src.get());
    for (int plane = 0; plane < 3; ++plane) EXPECT_LE(Compare(fast.get(), reference.get(), plane).Max, 1);
  }
}

TEST(YuvConverter, ReusesItsBuffersAndOutlivesNothing) {
  const TSourcePicture picture(640, 360, 0);
  const TFramePtr src = picture.Frame(AV_PIX_FMT_BGRA);
  TFramePtr frame(av_frame_alloc());
  const uint8_t* first = nullptr;
  {
    TYuvConverter converter;
    ASSERT_EQ(converter.Convert(src.get(), frame.get()), 0);
    first = frame->buf[0]->data;
    av_frame_unref(frame.get());
    // A returned buffer is the next picture's: no allocation per frame.
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(converter.Convert(src.get(), frame.get()), 0);
      EXPECT_EQ(frame->buf[0]->data, first);
      av_frame_unref(frame.get());
    }
    // Two pictures alive at once need two buffers.
    TFramePtr second(av_frame_alloc());
    ASSERT_EQ(converter.Convert(src.get(), frame.get()), 0);
    ASSERT_EQ(converter.Convert(src.get(), second.get()), 0);
    EXPECT_NE(frame->buf[0]->data, second->buf[0]->data);
    // A picture of another size gets buffers of its own size.
    const TSourcePicture small(64, 64, 0);
    TFramePtr other(av_frame_alloc());
    ASSERT_EQ(converter.Convert(small.Frame(AV_PIX_FMT_BGRA).get(), other.get()), 0);
    EXPECT_EQ(other->width, 64);
    EXPECT_GE(other->buf[0]->size, static_cast<size_t>(64 * 64 * 3 / 2));
  }
  // The converter is gone; the picture it made is still whole (the sanitizer
  // build sees a use after free otherwise).
  const TFramePtr reference = SwscaleConvert(src.get());
  EXPECT_LE(Compare(frame.get(), reference.get(), 0).Max, 2);
}

TEST(YuvConverter, TakesOnlyThirtyTwoBitRgbLayouts) {
  EXPECT_TRUE(YuvConverterAccepts(AV_PIX_FMT_BGRA));
  EXPECT_TRUE(YuvConverterAccepts(AV_PIX_FMT_BGR0));
  EXPECT_TRUE(YuvConverterAccepts(AV_PIX_FMT_RGBA));
  EXPECT_FALSE(YuvConverterAccepts(AV_PIX_FMT_BGR24));
  EXPECT_FALSE(YuvConverterAccepts(AV_PIX_FMT_RGB565LE));
  EXPECT_FALSE(YuvConverterAccepts(AV_PIX_FMT_YUV420P));

  const TSourcePicture picture(16, 16, 0);
  TFramePtr out(av_frame_alloc());
  TYuvConverter converter;
  EXPECT_EQ(converter.Convert(picture.Frame(AV_PIX_FMT_BGR24).get(), out.get()), AVERROR(EINVAL));
  EXPECT_EQ(out->buf[0], nullptr);
  const TFramePtr empty = picture.Frame(AV_PIX_FMT_BGRA);
  empty->width = 0;
  EXPECT_EQ(converter.Convert(empty.get(), out.get()), AVERROR(EINVAL));
}

TEST(YuvConverter, RgbOrderVariantsGiveTheSamePicture) {
  // The same colours in the four byte orders convert alike.
  const TSourcePicture picture(40, 30, 1);
  TYuvConverter converter;
  TFramePtr expected(av_frame_alloc());
  ASSERT_EQ(converter.Convert(picture.Frame(AV_PIX_FMT_BGRA).get(), expected.get()), 0);
  struct TOrder {
    AVPixelFormat Format;
    int B, G, R;  // byte positions
  };
  for (const TOrder o : {TOrder{AV_PIX_FMT_RGBA, 2, 1, 0}, TOrder{AV_PIX_FMT_ARGB, 3, 2, 1},
                         TOrder{AV_PIX_FMT_ABGR, 1, 2, 3}, TOrder{AV_PIX_FMT_0RGB, 3, 2, 1}}) {
    TSourcePicture reordered(40, 30, 1);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const uint8_t* s = picture.Origin + y * picture.Stride + x * 4;
        uint8_t* d = reordered.Origin + y * reordered.Stride + x * 4;
        d[o.B] = s[0];
        d[o.G] = s[1];
        d[o.R] = s[2];
      }
    TFramePtr out(av_frame_alloc());
    ASSERT_EQ(converter.Convert(reordered.Frame(o.Format).get(), out.get()), 0);
    for (int plane = 0; plane < 3; ++plane) EXPECT_EQ(Compare(out.get(), expected.get(), plane).Max, 0);
  }
}

}  // namespace
}  // namespace vexa
