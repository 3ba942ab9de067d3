// Owners of the library objects that test helpers open and decode with.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vexa::test {

struct TInputClose {
  void operator()(AVFormatContext* s) const { avformat_close_input(&s); }
};
struct TCodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using TInputPtr = std::unique_ptr<AVFormatContext, TInputClose>;
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

}  // namespace vexa::test
