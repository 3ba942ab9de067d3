#include "Support/MediaOpen.h"

#include <stdexcept>

namespace vexa::test {

TInputPtr OpenMediaInput(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return nullptr;
  TInputPtr input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return nullptr;
  return input;
}

TCodecPtr OpenDecoder(const AVStream* st) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return nullptr;
  TCodecPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) return nullptr;
  ctx->pkt_timebase = st->time_base;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
  return ctx;
}

TCodecPtr OpenEncoder(AVCodecID id, const std::function<void(AVCodecContext*)>& setup, const AVFormatContext* oc) {
  const AVCodec* codec = avcodec_find_encoder(id);
  if (!codec) throw std::runtime_error(std::string("no encoder for ") + avcodec_get_name(id));
  TCodecPtr c(avcodec_alloc_context3(codec));
  if (!c) throw std::runtime_error("avcodec_alloc_context3");
  setup(c.get());
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int ret = avcodec_open2(c.get(), codec, nullptr);
  if (ret < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(ret, text, sizeof(text));
    throw std::runtime_error(std::string("avcodec_open2 ") + codec->name + ": " + text);
  }
  return c;
}

}  // namespace vexa::test
