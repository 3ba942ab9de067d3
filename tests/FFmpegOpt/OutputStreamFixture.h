// Fixture of the output stream and filter graph tests: real inputs opened
// from media files the test writes, an output context made for a file name,
// and output lines parsed into the file options.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "OptFixtures.h"
#include "Support/MediaFixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

namespace vexa::test {

struct TOutputContextFree {
  void operator()(AVFormatContext* s) const { avformat_free_context(s); }
};
using TOutputContextPtr = std::unique_ptr<AVFormatContext, TOutputContextFree>;

class OutputStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearOptionErrorText();
    Engine.InitFileOptions(O);
  }
  void TearDown() override { Engine.FreeFileOptions(O); }

  // Writes a media file from `media` and opens it as the next input.
  void OpenInput(const TMediaSpec& media, const std::string& line = "", const std::string& name = "") {
    const std::string fileName = name.empty() ? "in" + std::to_string(Engine.InputFiles.size()) + ".mkv" : name;
    const std::string path = WriteMediaFile(Dir.Path(fileName), media);
    Engine.FreeFileOptions(O);
    Engine.InitFileOptions(O);
    ASSERT_GE(Engine.OpenInputFile(O, line, path), 0) << Engine.LastErrorText;
  }

  // Parses an output line into fresh file options.
  int ParseOutput(const std::string& line) {
    Engine.FreeFileOptions(O);
    Engine.InitFileOptions(O);
    return Engine.ParseOptions(O, line, "output file");
  }

  // The output context for a file name (the muxer follows its extension).
  AVFormatContext* Output(const std::string& name = "out.mkv") {
    AVFormatContext* s = nullptr;
    const int ret = avformat_alloc_output_context2(&s, nullptr, nullptr, Dir.Path(name).c_str());
    Oc.reset(s);
    EXPECT_GE(ret, 0);
    return s;
  }

  // Parses `line` and creates a video (or audio) output stream from input
  // stream `source` in a fresh output context.
  TOutputStream* Video(const std::string& line, int source = 0, const std::string& name = "out.mkv") {
    EXPECT_GE(ParseOutput(line), 0) << Engine.LastErrorText;
    return Engine.NewVideoStream(O, Output(name), source);
  }
  TOutputStream* Audio(const std::string& line, int source, const std::string& name = "out.mkv") {
    EXPECT_GE(ParseOutput(line), 0) << Engine.LastErrorText;
    return Engine.NewAudioStream(O, Output(name), source);
  }

  // The message of the FFmpegException `f` raises ("<no abort>" otherwise).
  template <typename F>
  static std::string AbortText(F&& f) {
    try {
      f();
    } catch (const FFmpegException& e) {
      return e.what();
    }
    return "<no abort>";
  }

  TLogRecorder Recorder;
  TTestEngine Engine;
  TFileOptions O;
  TTempDir Dir;
  TOutputContextPtr Oc;
};

// Writes a PNG picture of w x h pixels, every pixel the RGBA colour given.
inline void WritePng(const std::string& path, int w, int h, uint32_t rgba) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  ASSERT_NE(codec, nullptr);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> ctx(avcodec_alloc_context3(codec),
                                                                 [](AVCodecContext* c) { avcodec_free_context(&c); });
  ctx->width = w;
  ctx->height = h;
  ctx->pix_fmt = AV_PIX_FMT_RGBA;
  ctx->time_base = AVRational{1, 1};
  ASSERT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0);
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
  frame->format = AV_PIX_FMT_RGBA;
  frame->width = w;
  frame->height = h;
  ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = frame->data[0] + y * frame->linesize[0] + 4 * x;
      p[0] = static_cast<uint8_t>(rgba >> 24);
      p[1] = static_cast<uint8_t>(rgba >> 16);
      p[2] = static_cast<uint8_t>(rgba >> 8);
      p[3] = static_cast<uint8_t>(rgba);
    }
  ASSERT_EQ(avcodec_send_frame(ctx.get(), frame.get()), 0);
  ASSERT_EQ(avcodec_send_frame(ctx.get(), nullptr), 0);
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> pkt(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
  ASSERT_EQ(avcodec_receive_packet(ctx.get(), pkt.get()), 0);
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(pkt->data, 1, static_cast<size_t>(pkt->size), f), static_cast<size_t>(pkt->size));
  std::fclose(f);
}

}  // namespace vexa::test
