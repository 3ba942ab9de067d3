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
// An output context: closes the file it opened, then frees the context.
struct TOutputClose {
  void operator()(AVFormatContext* s) const {
    if (s->pb && !(s->oformat->flags & AVFMT_NOFILE)) avio_closep(&s->pb);
    avformat_free_context(s);
  }
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
using TOutputPtr = std::unique_ptr<AVFormatContext, TOutputClose>;
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

}  // namespace vexa::test
