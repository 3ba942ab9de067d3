#include "App/RecordingTestSupport.h"

#include <cstdlib>

#include "Support/MediaOpen.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace vexa::test {

TDecodedVideo DecodeVideo(const QString& APath, const std::function<bool(int)>& AKeep) {
  TDecodedVideo result;
  TInputPtr input = OpenMediaInput(APath.toStdString());
  if (!input) return result;
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return result;
  const AVStream* stream = input->streams[index];
  TCodecPtr decoder = OpenDecoder(stream);
  if (!decoder) return result;
  result.Opened = true;
  TPacketPtr packet(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  auto drain = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      const int64_t pts = frame->best_effort_timestamp;
      result.Times.push_back(pts == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(pts) * av_q2d(stream->time_base));
      if (AKeep && AKeep(result.Frames)) {
        QImage image(frame->width, frame->height, QImage::Format_RGB32);
        SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                         frame->width, frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr,
                                         nullptr);
        uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
        sws_freeContext(sws);
        result.Images.push_back(image);
        result.ImageIndexes.push_back(result.Frames);
      }
      ++result.Frames;
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == index) {
      avcodec_send_packet(decoder.get(), packet.get());
      drain();
    }
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(decoder.get(), nullptr);
  drain();
  return result;
}

TFileStreams ProbeStreams(const QString& APath) {
  TFileStreams result;
  TInputPtr input = OpenMediaInput(APath.toStdString());
  if (!input) return result;
  result.Opened = true;
  std::vector<bool> seen;
  std::vector<TStreamSpan> spans;
  TPacketPtr packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const size_t index = static_cast<size_t>(packet->stream_index);
    if (spans.size() <= index) {
      spans.resize(index + 1);
      seen.resize(index + 1, false);
    }
    const AVStream* st = input->streams[index];
    if (packet->pts != AV_NOPTS_VALUE) {
      const double start = static_cast<double>(packet->pts) * av_q2d(st->time_base);
      const double end = static_cast<double>(packet->pts + packet->duration) * av_q2d(st->time_base);
      if (!seen[index] || start < spans[index].Start) spans[index].Start = start;
      if (!seen[index] || end > spans[index].End) spans[index].End = end;
      seen[index] = true;
    }
    av_packet_unref(packet.get());
  }
  result.StreamCount = static_cast<int>(input->nb_streams);
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVCodecParameters* par = input->streams[i]->codecpar;
    TStreamSpan span = i < spans.size() ? spans[i] : TStreamSpan();
    span.Codec = avcodec_get_name(par->codec_id);
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) result.Video = span;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) result.Audio = span;
  }
  return result;
}

bool Near(unsigned AColor, unsigned AExpected, int ATolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int a = static_cast<int>((AColor >> shift) & 0xFF);
    const int b = static_cast<int>((AExpected >> shift) & 0xFF);
    if (std::abs(a - b) > ATolerance) return false;
  }
  return true;
}

}  // namespace vexa::test
