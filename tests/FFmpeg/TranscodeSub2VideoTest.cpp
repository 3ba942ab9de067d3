// A bitmap subtitle stream fed into a video filter graph is drawn onto its
// canvas for its display time and cleared afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "Support/MediaOpen.h"
#include "TranscodeTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vexa::test {
namespace {

constexpr int kW = 160;
constexpr int kH = 120;
constexpr int kFps = 25;
constexpr int kFrames = 50;
// The subtitle: a red square shown from 0.4 s to 1.2 s.
constexpr int kBoxX = 20, kBoxY = 20, kBox = 40;
constexpr int kShowMs = 400, kHideMs = 1200;

// Writes a Matroska file: grey MPEG-4 video and a DVD subtitle stream.
void WriteVideoWithSubtitle(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str()) < 0) throw std::runtime_error("mux");
  TOutputPtr out(raw);
  TCodecPtr venc = OpenEncoder(AV_CODEC_ID_MPEG4, [](AVCodecContext* c) {
    c->width = kW;
    c->height = kH;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, kFps};
    c->framerate = AVRational{kFps, 1};
    c->gop_size = 10;
  }, out.get());
  TCodecPtr senc = OpenEncoder(AV_CODEC_ID_DVD_SUBTITLE, [](AVCodecContext* c) {
    c->width = kW;
    c->height = kH;
    c->time_base = AVRational{1, 1000};
  }, out.get());
  AVStream* vs = avformat_new_stream(out.get(), nullptr);
  AVStream* ss = avformat_new_stream(out.get(), nullptr);
  if (!vs || !ss || avcodec_parameters_from_context(vs->codecpar, venc.get()) < 0 ||
      avcodec_parameters_from_context(ss->codecpar, senc.get()) < 0)
    throw std::runtime_error("streams");
  vs->time_base = venc->time_base;
  ss->time_base = senc->time_base;
  if (avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) throw std::runtime_error("open " + path);
  if (avformat_write_header(out.get(), nullptr) < 0) throw std::runtime_error("header");

  TPacketPtr pkt(av_packet_alloc());
  auto writeVideo = [&](const AVFrame* frame) {
    if (avcodec_send_frame(venc.get(), frame) < 0) throw std::runtime_error("send frame");
    while (avcodec_receive_packet(venc.get(), pkt.get()) == 0) {
      av_packet_rescale_ts(pkt.get(), venc->time_base, vs->time_base);
      pkt->stream_index = vs->index;
      if (av_interleaved_write_frame(out.get(), pkt.get()) < 0) throw std::runtime_error("write video");
    }
  };

  TFramePtr frame(av_frame_alloc());
  frame->width = kW;
  frame->height = kH;
  frame->format = AV_PIX_FMT_YUV420P;
  if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::runtime_error("frame");
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < (plane ? kH / 2 : kH); ++y)
      memset(frame->data[plane] + y * frame->linesize[plane], 128, plane ? kW / 2 : kW);

  for (int n = 0; n < kFrames; ++n) {
    frame->pts = n;
    writeVideo(frame.get());
    if (n * 1000 / kFps != kShowMs) continue;
    // The subtitle, encoded with its display time relative to its pts.
    std::vector<uint8_t> indices(kBox * kBox, 1);
    uint32_t palette[4] = {0x00000000u, 0xffff0000u, 0xff000000u, 0xffffffffu};
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_BITMAP;
    rect.x = kBoxX;
    rect.y = kBoxY;
    rect.w = kBox;
    rect.h = kBox;
    rect.nb_colors = 4;
    rect.data[0] = indices.data();
    rect.linesize[0] = kBox;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette);
    rect.linesize[1] = 4 * 4;
    AVSubtitleRect* rects[1] = {&rect};
    AVSubtitle sub{};
    sub.start_display_time = 0;
    sub.end_display_time = kHideMs - kShowMs;
    sub.num_rects = 1;
    sub.rects = rects;
    sub.pts = static_cast<int64_t>(kShowMs) * 1000;
    std::vector<uint8_t> buffer(1 << 16);
    const int size = avcodec_encode_subtitle(senc.get(), buffer.data(), static_cast<int>(buffer.size()), &sub);
    if (size <= 0) throw std::runtime_error("subtitle encode");
    TPacketPtr spkt(av_packet_alloc());
    if (av_new_packet(spkt.get(), size) < 0) throw std::runtime_error("packet");
    memcpy(spkt->data, buffer.data(), size);
    spkt->stream_index = ss->index;
    spkt->pts = spkt->dts = av_rescale_q(kShowMs, AVRational{1, 1000}, ss->time_base);
    spkt->duration = av_rescale_q(kHideMs - kShowMs, AVRational{1, 1000}, ss->time_base);
    spkt->flags |= AV_PKT_FLAG_KEY;
    if (av_interleaved_write_frame(out.get(), spkt.get()) < 0) throw std::runtime_error("write subtitle");
  }
  writeVideo(nullptr);
  if (av_write_trailer(out.get()) < 0) throw std::runtime_error("trailer");
}

bool Near(const TRgb& a, const TRgb& b) {
  return std::abs(a.R - b.R) <= 40 && std::abs(a.G - b.G) <= 40 && std::abs(a.B - b.B) <= 40;
}

TEST(TranscodeSub2VideoTest, SubtitleIsDrawnForItsDisplayTime) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string source = dir.Path("source.mkv");
  WriteVideoWithSubtitle(source);
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(source, ""));
    ASSERT_GE(task.AddOutput(out, "-filter_complex \"[0:v][0:s]overlay[v]\" -map \"[v]\" -c:v mpeg4 -qscale 2"), 0)
        << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
  }
  EXPECT_TRUE(log.Contains("sub2video: using 160x120 canvas")) << log.Text();
  const TDecodedFile file = DecodeFile(out);
  ASSERT_EQ(file.Streams.size(), 1u);
  EXPECT_EQ(file.Streams[0].Frames, kFrames);
  EXPECT_EQ(file.Streams[0].DecodeErrors, 0);

  const TRgb grey{128, 128, 128};
  const TRgb red{255, 0, 0};
  const int inBox = kBoxX + kBox / 2;
  struct TCase {
    int Frame;
    bool Shown;
  };
  for (const TCase c : {TCase{2, false}, TCase{15, true}, TCase{25, true}, TCase{40, false}, TCase{49, false}}) {
    const TRgb box = PixelAt(out, c.Frame, inBox, inBox);
    EXPECT_TRUE(Near(box, c.Shown ? red : grey))
        << "frame " << c.Frame << ": " << box.R << "," << box.G << "," << box.B;
    EXPECT_TRUE(Near(PixelAt(out, c.Frame, kW - 20, kH - 20), grey)) << "frame " << c.Frame;
  }
}

}  // namespace
}  // namespace vexa::test
