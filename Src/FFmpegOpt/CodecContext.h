// Owner of an AVCodecContext for the engine's stream records.
#pragma once

#include <cstdio>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/eval.h>
}

namespace vexa {

struct TCodecContextFree {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;

// Owners of frames and packets held by the stream records at run time.
struct TAVFrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using TAVFramePtr = std::unique_ptr<AVFrame, TAVFrameFree>;

struct TAVPacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using TAVPacketPtr = std::unique_ptr<AVPacket, TAVPacketFree>;

struct TAVExprFree {
  void operator()(AVExpr* expr) const { av_expr_free(expr); }
};
using TAVExprPtr = std::unique_ptr<AVExpr, TAVExprFree>;

struct TStdFileClose {
  void operator()(FILE* file) const { fclose(file); }
};
using TStdFilePtr = std::unique_ptr<FILE, TStdFileClose>;

// A decoded subtitle and its rectangles (avsubtitle_free on Reset).
struct TSubtitleHolder {
  AVSubtitle Sub{};
  bool Valid = false;
  TSubtitleHolder() = default;
  ~TSubtitleHolder() { Reset(); }
  TSubtitleHolder(const TSubtitleHolder&) = delete;
  TSubtitleHolder& operator=(const TSubtitleHolder&) = delete;
  void Reset() {
    if (Valid) avsubtitle_free(&Sub);
    Sub = AVSubtitle{};
    Valid = false;
  }
};

}  // namespace vexa
