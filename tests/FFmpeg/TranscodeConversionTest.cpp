// The engine's own conversion of captured pictures to yuv420p before the
// filter graph: when it is used, that the encoder gets the same pictures as
// through the graph's scaler, and that the input hooks still see (and change)
// the decoded picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "Support/MediaOpen.h"
#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

const char kConverted[] = "pictures are converted to yuv420p before the graph";

// Every video frame of the file, decoded.
std::vector<TFramePtr> DecodeFrames(const std::string& path) {
  std::vector<TFramePtr> frames;
  TInputPtr in = OpenMediaInput(path);
  if (!in) return frames;
  const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return frames;
  TCodecPtr dec = OpenDecoder(in->streams[index]);
  TPacketPtr pkt(av_packet_alloc());
  auto receive = [&] {
    for (;;) {
      TFramePtr f(av_frame_alloc());
      if (avcodec_receive_frame(dec.get(), f.get()) < 0) return;
      frames.push_back(std::move(f));
    }
  };
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == index) avcodec_send_packet(dec.get(), pkt.get());
    av_packet_unref(pkt.get());
    receive();
  }
  avcodec_send_packet(dec.get(), nullptr);
  receive();
  return frames;
}

// Frame n of a raw 32-bit file, converted by swscale as the graph's scaler does.
TFramePtr SwscaleFrame(const std::string& raw, AVPixelFormat format, int width, int height, int n) {
  std::vector<uint8_t> bytes(static_cast<size_t>(width) * height * 4);
  FILE* f = std::fopen(raw.c_str(), "rb");
  EXPECT_NE(f, nullptr);
  std::fseek(f, static_cast<long>(bytes.size()) * n, SEEK_SET);
  EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
  TFramePtr out(av_frame_alloc());
  out->format = AV_PIX_FMT_YUV420P;
  out->width = width;
  out->height = height;
  EXPECT_GE(av_frame_get_buffer(out.get(), 0), 0);
  SwsContext* sws = sws_getContext(width, height, format, width, height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                   nullptr, nullptr);
  const uint8_t* src[4] = {bytes.data()};
  const int stride[4] = {width * 4};
  sws_scale(sws, src, stride, 0, height, out->data, out->linesize);
  sws_freeContext(sws);
  return out;
}

int MaxDifference(const AVFrame* a, const AVFrame* b, int plane) {
  const int w = plane ? a->width / 2 : a->width, h = plane ? a->height / 2 : a->height;
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      worst = std::max(worst, std::abs(a->data[plane][y * a->linesize[plane] + x] -
                                       b->data[plane][y * b->linesize[plane] + x]));
  return worst;
}

struct TCase {
  const char* Format;  // of the raw input
  AVPixelFormat PixFmt;
  int Width, Height;
  const char* OutputSize;  // -s of the output, or ""
  bool Converted;          // the engine converts before the graph
};

class TranscodeConversion : public ::testing::TestWithParam<TCase> {};

TEST_P(TranscodeConversion, GivesTheGraphsPictures) {
  const TCase c = GetParam();
  TTempDir dir;
  TTranscodeLog log;
  const std::string raw = dir.Path("in.raw");
  WriteRawBgra(raw, c.Width, c.Height, 3);  // bgr0 has the same bytes
  const std::string out = dir.Path("out.nut");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(raw, std::string(" -f rawvideo -pix_fmt ") + c.Format + " -s " +
                                       std::to_string(c.Width) + "x" + std::to_string(c.Height) + " -r 25"));
    ASSERT_GE(task.AddOutput(out, std::string(" -c:v rawvideo -pix_fmt yuv420p ") + c.OutputSize), 0)
        << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
  }
  EXPECT_EQ(log.Contains(kConverted), c.Converted) << log.Text();
  const std::vector<TFramePtr> frames = DecodeFrames(out);
  if (c.PixFmt == AV_PIX_FMT_RGB24) {
    EXPECT_EQ(frames.size(), 4u);  // the same bytes, three to a pixel
    return;
  }
  ASSERT_EQ(frames.size(), 3u);
  if (*c.OutputSize) return;  // scaled: the graph's own business
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    ASSERT_EQ(frames[n]->format, AV_PIX_FMT_YUV420P);
    const TFramePtr expected = SwscaleFrame(raw, c.PixFmt, c.Width, c.Height, n);
    EXPECT_LE(MaxDifference(frames[n].get(), expected.get(), 0), c.Converted ? 2 : 0);
    // Chroma at the pattern's hard edges differs by the two ways of
    // averaging it (a 2x2 box and swscale's filter); flat parts agree.
    EXPECT_LE(MaxDifference(frames[n].get(), expected.get(), 1), c.Converted ? 20 : 0);
    EXPECT_LE(MaxDifference(frames[n].get(), expected.get(), 2), c.Converted ? 20 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TranscodeConversion,
    ::testing::Values(TCase{"bgra", AV_PIX_FMT_BGRA, 320, 240, "", true},
                      TCase{"bgr0", AV_PIX_FMT_BGR0, 320, 240, "", true},
                      TCase{"bgr0", AV_PIX_FMT_BGR0, 320, 240, "-s 320x240", true},
                      // Scaled, odd-sized or not 32-bit: swscale in the graph.
                      TCase{"bgr0", AV_PIX_FMT_BGR0, 320, 240, "-s 160x120", false},
                      TCase{"bgra", AV_PIX_FMT_BGRA, 321, 241, "", false},
                      TCase{"rgb24", AV_PIX_FMT_RGB24, 320, 240, "", false}));

TEST(TranscodeConversionTest, InputHookSeesAndChangesTheDecodedPicture) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string raw = dir.Path("in.raw");
  WriteRawBgra(raw, 64, 48, 2);
  const std::string out = dir.Path("out.nut");
  std::vector<int> formats;
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(raw, " -f rawvideo -pix_fmt bgr0 -s 64x48 -r 25"));
    task.FrameInputHook = [&](TCustomFFmpeg*, TAVPicture* picture, int64_t, int height, int width, int, int format) {
      formats.push_back(format);
      // A white block in the top-left corner.
      for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x)
          for (int b = 0; b < 3; ++b) picture->Data[0][y * picture->LineSize[0] + x * 4 + b] = 255;
    };
    ASSERT_GE(task.AddOutput(out, " -c:v rawvideo -pix_fmt yuv420p "), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  EXPECT_TRUE(log.Contains(kConverted));
  EXPECT_EQ(formats, (std::vector<int>{AV_PIX_FMT_BGR0, AV_PIX_FMT_BGR0}));
  const std::vector<TFramePtr> frames = DecodeFrames(out);
  ASSERT_EQ(frames.size(), 2u);
  for (const TFramePtr& f : frames) {
    EXPECT_NEAR(f->data[0][5 * f->linesize[0] + 5], 235, 2);      // white, limited range
    EXPECT_NEAR(f->data[1][3 * f->linesize[1] + 3], 128, 2);
    EXPECT_LT(f->data[0][40 * f->linesize[0] + 60], 200);          // the pattern
  }
}

TEST(TranscodeConversionTest, WatermarkGraphGetsConvertedPictures) {
  // The recorder's watermark: the overlay works on yuv420p, so the graph
  // would convert first anyway.
  TTempDir dir;
  TTranscodeLog log;
  const std::string raw = dir.Path("in.raw");
  WriteRawBgra(raw, 320, 240, 2);
  const std::string logo = dir.Path("logo.png");
  WritePng(logo, 32, 32, TRgb{255, 0, 0});
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(raw, " -f rawvideo -pix_fmt bgr0 -s 320x240 -r 25"));
    const std::string line = " -c:v mpeg4 -qscale 2 -vf \"movie=" + logo +
                             " [watermark]; [in] [watermark] overlay=main_w-overlay_w-5:main_h-overlay_h-5 [out]\"";
    ASSERT_GE(task.AddOutput(out, line), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
  }
  EXPECT_TRUE(log.Contains(kConverted)) << log.Text();
  const TRgb logoPixel = PixelAt(out, 1, 320 - 5 - 16, 240 - 5 - 16);
  EXPECT_GT(logoPixel.R, 200);
  EXPECT_LT(logoPixel.G, 60);
}

}  // namespace
}  // namespace vexa::test
