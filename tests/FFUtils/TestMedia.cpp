#include "TestMedia.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace vexa::test {
namespace {

struct TCodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TOutputFree {
  void operator()(AVFormatContext* s) const {
    if (s->pb) avio_closep(&s->pb);
    avformat_free_context(s);
  }
};

using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;

// Sends `frame` (nullptr flushes) and writes every packet it yields.
int EncodeAndWrite(AVFormatContext* s, AVCodecContext* c, AVStream* st, AVFrame* frame) {
  int err = avcodec_send_frame(c, frame);
  if (err < 0) return err;
  std::unique_ptr<AVPacket, TPacketFree> pkt(av_packet_alloc());
  if (!pkt) return AVERROR(ENOMEM);
  for (;;) {
    err = avcodec_receive_packet(c, pkt.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return 0;
    if (err < 0) return err;
    av_packet_rescale_ts(pkt.get(), c->time_base, st->time_base);
    pkt->stream_index = st->index;
    err = av_interleaved_write_frame(s, pkt.get());
    if (err < 0) return err;
  }
}

int OpenEncoder(AVFormatContext* s, const AVCodec* codec, TCodecPtr& c, AVStream*& st) {
  if (!codec) return AVERROR_ENCODER_NOT_FOUND;
  st = avformat_new_stream(s, nullptr);
  if (!st) return AVERROR(ENOMEM);
  if (s->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int err = avcodec_open2(c.get(), codec, nullptr);
  if (err < 0) return err;
  st->time_base = c->time_base;
  return avcodec_parameters_from_context(st->codecpar, c.get());
}

}  // namespace

int WriteVideoAudioFile(const std::string& path) {
  AVFormatContext* raw = nullptr;
  int err = avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str());
  if (err < 0) return err;
  std::unique_ptr<AVFormatContext, TOutputFree> s(raw);

  const AVCodec* videoCodec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  TCodecPtr video(avcodec_alloc_context3(videoCodec));
  if (!video) return AVERROR(ENOMEM);
  video->width = 64;
  video->height = 48;
  video->pix_fmt = AV_PIX_FMT_YUV420P;
  video->time_base = AVRational{1, 10};
  video->framerate = AVRational{10, 1};
  AVStream* videoStream = nullptr;
  if ((err = OpenEncoder(s.get(), videoCodec, video, videoStream)) < 0) return err;

  const AVCodec* audioCodec = avcodec_find_encoder(AV_CODEC_ID_MP2);
  TCodecPtr audio(avcodec_alloc_context3(audioCodec));
  if (!audio) return AVERROR(ENOMEM);
  audio->sample_rate = 44100;
  audio->sample_fmt = AV_SAMPLE_FMT_S16;
  audio->bit_rate = 128000;
  audio->time_base = AVRational{1, 44100};
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  if ((err = av_channel_layout_copy(&audio->ch_layout, &stereo)) < 0) return err;
  AVStream* audioStream = nullptr;
  if ((err = OpenEncoder(s.get(), audioCodec, audio, audioStream)) < 0) return err;

  if ((err = avio_open(&s->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) return err;
  if ((err = avformat_write_header(s.get(), nullptr)) < 0) return err;

  TFramePtr frame(av_frame_alloc());
  if (!frame) return AVERROR(ENOMEM);
  for (int i = 0; i < 10; ++i) {
    frame->format = video->pix_fmt;
    frame->width = video->width;
    frame->height = video->height;
    if ((err = av_frame_get_buffer(frame.get(), 0)) < 0) return err;
    for (int p = 0; p < 3; ++p) {
      const int h = p ? video->height / 2 : video->height;
      const int w = p ? video->width / 2 : video->width;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          frame->data[p][y * frame->linesize[p] + x] = static_cast<uint8_t>(x * 3 + y + i * 7 + p);
    }
    frame->pts = i;
    if ((err = EncodeAndWrite(s.get(), video.get(), videoStream, frame.get())) < 0) return err;
    av_frame_unref(frame.get());
  }
  if ((err = EncodeAndWrite(s.get(), video.get(), videoStream, nullptr)) < 0) return err;

  int64_t samples = 0;
  while (samples < 44100) {
    frame->format = audio->sample_fmt;
    frame->nb_samples = audio->frame_size;
    frame->sample_rate = audio->sample_rate;
    if ((err = av_channel_layout_copy(&frame->ch_layout, &audio->ch_layout)) < 0) return err;
    if ((err = av_frame_get_buffer(frame.get(), 0)) < 0) return err;
    int16_t* data = reinterpret_cast<int16_t*>(frame->data[0]);
    for (int n = 0; n < frame->nb_samples * 2; ++n)
      data[n] = static_cast<int16_t>(((samples + n / 2) % 100) * 300 - 15000);
    frame->pts = samples;
    samples += frame->nb_samples;
    if ((err = EncodeAndWrite(s.get(), audio.get(), audioStream, frame.get())) < 0) return err;
    av_frame_unref(frame.get());
  }
  if ((err = EncodeAndWrite(s.get(), audio.get(), audioStream, nullptr)) < 0) return err;
  return av_write_trailer(s.get());
}

}  // namespace vexa::test
