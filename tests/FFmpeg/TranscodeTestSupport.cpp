#include "TranscodeTestSupport.h"
#include "Support/MediaOpen.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "FFLoad/FFLoad.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace vexa::test {

namespace {

TInputPtr OpenMedia(const std::string& path) {
  TInputPtr s = OpenMediaInput(path);
  if (!s) throw std::runtime_error("cannot open and probe " + path);
  return s;
}

}  // namespace

std::string LavfiVideo(int width, int height, int fps, double seconds) {
  char text[256];
  snprintf(text, sizeof(text), "testsrc=size=%dx%d:rate=%d:duration=%g", width, height, fps, seconds);
  return text;
}

std::string LavfiAudio(int sampleRate, int channels, double seconds) {
  char text[256];
  snprintf(text, sizeof(text), "sine=frequency=440:sample_rate=%d:duration=%g,aformat=channel_layouts=%s",
           sampleRate, seconds, channels == 1 ? "mono" : "stereo");
  return text;
}

// --- task

static bool LoadOnce() {
  static const bool loaded = [] {
    avdevice_register_all();
    return FFLoader().LoadLibs(EncoderLibs);
  }();
  return loaded;
}

static const bool kLoaded = LoadOnce();

TTestTask::TTestTask() { BuildOptionTable(); }

bool TTestTask::AddInput(const std::string& name, const std::string& line) {
  TFileOptions o;
  InitFileOptions(o);
  int ret;
  try {
    ret = OpenInputFile(o, line, name);
  } catch (const std::exception& e) {
    FreeFileOptions(o);
    ADD_FAILURE() << "input raised: " << e.what();
    return false;
  }
  FreeFileOptions(o);
  EXPECT_GE(ret, 0) << LastErrorText;
  return ret >= 0;
}

bool TTestTask::AddLavfi(int width, int height, int fps, double seconds, int sampleRate, int channels) {
  if (!AddInput(LavfiVideo(width, height, fps, seconds), "-f lavfi")) return false;
  return sampleRate <= 0 || AddInput(LavfiAudio(sampleRate, channels, seconds), "-f lavfi");
}

int TTestTask::AddOutput(const std::string& file, const std::string& line, bool join) {
  TFileOptions o;
  InitFileOptions(o);
  int ret;
  try {
    ret = OpenOutputFile(o, line, join, file);
  } catch (const std::exception& e) {
    ret = -1;
    LastErrorText = e.what();
  }
  FreeFileOptions(o);
  return ret;
}

void TTestTask::RunInline() {
  (void)kLoaded;
  Start(false);
}

// --- decoding the result

const TDecodedStream* TDecodedFile::First(int type) const {
  for (const TDecodedStream& s : Streams)
    if (s.Type == type) return &s;
  return nullptr;
}

TDecodedFile DecodeFile(const std::string& path) {
  TInputPtr s = OpenMedia(path);
  TDecodedFile file;
  file.Format = s->iformat->name;
  file.Size = FileSizeOf(path);
  std::vector<TCodecPtr> decoders;
  for (unsigned i = 0; i < s->nb_streams; ++i) {
    const AVStream* st = s->streams[i];
    file.Streams.emplace_back(DescribeStream(st));
    decoders.push_back(OpenDecoder(st));
    if (!decoders.back()) file.Streams.back().DecodeErrors++;
  }
  TPacketPtr pkt(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  auto drain = [&](unsigned index) {
    AVCodecContext* dec = decoders[index].get();
    TDecodedStream& info = file.Streams[index];
    const AVRational tb = s->streams[index]->time_base;
    for (;;) {
      const int ret = avcodec_receive_frame(dec, frame.get());
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
      if (ret < 0) {
        info.DecodeErrors++;
        break;
      }
      const int64_t ts = frame->best_effort_timestamp;
      const double t = ts == AV_NOPTS_VALUE ? -1 : ts * av_q2d(tb);
      if (info.FirstPts < 0) info.FirstPts = t;
      info.LastPts = t;
      if (info.Type == AVMEDIA_TYPE_VIDEO) {
        if (frame->key_frame) info.KeyFrames.push_back(static_cast<int>(info.Frames));
        info.FramePts.push_back(t);
      }
      info.Frames++;
      info.Samples += frame->nb_samples;
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(s.get(), pkt.get()) >= 0) {
    const unsigned index = static_cast<unsigned>(pkt->stream_index);
    if (index < decoders.size()) {
      TDecodedStream& info = file.Streams[index];
      info.Packets++;
      const AVRational tb = s->streams[index]->time_base;
      const int64_t start = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
      if (start != AV_NOPTS_VALUE) info.PacketEnd = std::max(info.PacketEnd, (start + pkt->duration) * av_q2d(tb));
      if (decoders[index] && info.Type == AVMEDIA_TYPE_SUBTITLE) {
        AVSubtitle sub{};
        int got = 0;
        if (avcodec_decode_subtitle2(decoders[index].get(), &sub, &got, pkt.get()) < 0) info.DecodeErrors++;
        if (got) {
          info.Frames++;
          avsubtitle_free(&sub);
        }
      } else if (decoders[index]) {
        if (avcodec_send_packet(decoders[index].get(), pkt.get()) < 0) info.DecodeErrors++;
        drain(index);
      }
    }
    av_packet_unref(pkt.get());
  }
  for (unsigned i = 0; i < decoders.size(); ++i) {
    if (!decoders[i] || file.Streams[i].Type == AVMEDIA_TYPE_SUBTITLE) continue;
    avcodec_send_packet(decoders[i].get(), nullptr);
    drain(i);
  }
  return file;
}

TRgb PixelAt(const std::string& path, int index, int x, int y) {
  TInputPtr s = OpenMedia(path);
  const int videoIndex = av_find_best_stream(s.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (videoIndex < 0) throw std::runtime_error("no video in " + path);
  TCodecPtr dec = OpenDecoder(s->streams[videoIndex]);
  if (!dec) throw std::runtime_error("no decoder for " + path);
  TPacketPtr pkt(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  int count = 0;
  bool flushing = false;
  for (;;) {
    int ret = avcodec_receive_frame(dec.get(), frame.get());
    if (ret == 0) {
      if (count++ == index) {
        SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                         frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr,
                                         nullptr, nullptr);
        std::vector<uint8_t> rgb(static_cast<size_t>(frame->width) * frame->height * 3);
        uint8_t* dst[4] = {rgb.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {frame->width * 3, 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
        sws_freeContext(sws);
        const uint8_t* p = rgb.data() + (static_cast<size_t>(y) * frame->width + x) * 3;
        return TRgb{p[0], p[1], p[2]};
      }
      av_frame_unref(frame.get());
      continue;
    }
    if (ret == AVERROR_EOF || flushing) break;
    for (;;) {
      ret = av_read_frame(s.get(), pkt.get());
      if (ret < 0) {
        avcodec_send_packet(dec.get(), nullptr);
        flushing = true;
        break;
      }
      if (pkt->stream_index == videoIndex) {
        avcodec_send_packet(dec.get(), pkt.get());
        av_packet_unref(pkt.get());
        break;
      }
      av_packet_unref(pkt.get());
    }
  }
  throw std::runtime_error("frame not found in " + path);
}

void WritePng(const std::string& path, int width, int height, TRgb colour) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  TCodecPtr enc(avcodec_alloc_context3(codec));
  enc->width = width;
  enc->height = height;
  enc->pix_fmt = AV_PIX_FMT_RGB24;
  enc->time_base = AVRational{1, 25};
  if (avcodec_open2(enc.get(), codec, nullptr) < 0) throw std::runtime_error("png encoder");
  TFramePtr frame(av_frame_alloc());
  frame->width = width;
  frame->height = height;
  frame->format = AV_PIX_FMT_RGB24;
  av_frame_get_buffer(frame.get(), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = frame->data[0] + y * frame->linesize[0] + x * 3;
      p[0] = static_cast<uint8_t>(colour.R);
      p[1] = static_cast<uint8_t>(colour.G);
      p[2] = static_cast<uint8_t>(colour.B);
    }
  frame->pts = 0;
  TPacketPtr pkt(av_packet_alloc());
  avcodec_send_frame(enc.get(), frame.get());
  avcodec_send_frame(enc.get(), nullptr);
  if (avcodec_receive_packet(enc.get(), pkt.get()) < 0) throw std::runtime_error("png encode");
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  fwrite(pkt->data, 1, pkt->size, f);
  fclose(f);
}

void WriteRawBgra(const std::string& path, int width, int height, int frames) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
  for (int n = 0; n < frames; ++n)
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        row[x * 4 + 0] = static_cast<uint8_t>(x + n * 3);
        row[x * 4 + 1] = static_cast<uint8_t>(y + n);
        row[x * 4 + 2] = static_cast<uint8_t>((x ^ y) + n * 5);
        row[x * 4 + 3] = 255;
      }
      fwrite(row.data(), 1, row.size(), f);
    }
  fclose(f);
}

}  // namespace vexa::test
