#include "Support/MediaFixtures.h"
#include "Support/MediaOpen.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
}

namespace vexa::test {

namespace {

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, buf, sizeof(buf));
  return buf;
}

void Check(int ret, const std::string& what) {
  if (ret < 0) throw std::runtime_error(what + ": " + AvError(ret));
}


struct TEncodedStream {
  AVStream* Stream = nullptr;
  TCodecPtr Codec;
  int64_t NextPts = 0;  // in the codec time base
};

void SetMetadata(AVDictionary** dict, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values) av_dict_set(dict, key.c_str(), value.c_str(), 0);
}

// Sends `frame` (nullptr: flush) and writes every packet that comes out.
void EncodeAndWrite(AVFormatContext* oc, TEncodedStream& s, AVFrame* frame, AVPacket* pkt, int64_t offsetPts) {
  Check(avcodec_send_frame(s.Codec.get(), frame), "avcodec_send_frame");
  for (;;) {
    int ret = avcodec_receive_packet(s.Codec.get(), pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
    Check(ret, "avcodec_receive_packet");
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offsetPts;
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offsetPts;
    av_packet_rescale_ts(pkt, s.Codec->time_base, s.Stream->time_base);
    pkt->stream_index = s.Stream->index;
    Check(av_interleaved_write_frame(oc, pkt), "av_interleaved_write_frame");
  }
}

void FillPicture(AVFrame* f, int index) {
  for (int y = 0; y < f->height; ++y)
    for (int x = 0; x < f->width; ++x) f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(x + y + index * 3);
  for (int y = 0; y < f->height / 2; ++y)
    for (int x = 0; x < f->width / 2; ++x) {
      f->data[1][y * f->linesize[1] + x] = static_cast<uint8_t>(128 + y + index * 2);
      f->data[2][y * f->linesize[2] + x] = static_cast<uint8_t>(64 + x + index * 5);
    }
}

// One PNG picture as a packet: every pixel `rgba` (0xRRGGBBAA), or an opaque
// pattern when `rgba` is nullptr.
void EncodePicture(int width, int height, const uint32_t* rgba, AVPacket* out) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!codec) throw std::runtime_error("no png encoder");
  TCodecPtr c(avcodec_alloc_context3(codec));
  c->width = width;
  c->height = height;
  c->pix_fmt = AV_PIX_FMT_RGBA;
  c->time_base = AVRational{1, 25};
  Check(avcodec_open2(c.get(), codec, nullptr), "avcodec_open2 png");
  TFramePtr f(av_frame_alloc());
  f->width = width;
  f->height = height;
  f->format = AV_PIX_FMT_RGBA;
  Check(av_frame_get_buffer(f.get(), 0), "av_frame_get_buffer");
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = f->data[0] + y * f->linesize[0] + 4 * x;
      const uint32_t colour = rgba ? *rgba : (static_cast<uint32_t>(static_cast<uint8_t>(x ^ y)) << 24) | 0xFF;
      for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(colour >> (24 - 8 * i));
    }
  f->pts = 0;
  Check(avcodec_send_frame(c.get(), f.get()), "png send");
  Check(avcodec_send_frame(c.get(), nullptr), "png flush");
  Check(avcodec_receive_packet(c.get(), out), "png receive");
}

std::map<std::string, std::string> ReadDict(const AVDictionary* d) {
  std::map<std::string, std::string> m;
  const AVDictionaryEntry* e = nullptr;
  while ((e = av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX))) m[e->key] = e->value;
  return m;
}

}  // namespace

TMediaSpec VideoOnlySpec(int width, int height) {
  TMediaSpec s;
  s.Videos.push_back(TVideoSpec{width, height, 25});
  return s;
}

TMediaSpec VideoAudioSpec(int channels) {
  TMediaSpec s = VideoOnlySpec();
  s.Audios.push_back(TAudioSpec{44100, channels});
  return s;
}

TMediaSpec TwoVideosSpec(int w1, int h1, int w2, int h2) {
  TMediaSpec s;
  s.Videos.push_back(TVideoSpec{w1, h1, 25});
  s.Videos.push_back(TVideoSpec{w2, h2, 25});
  return s;
}

TMediaSpec SubtitlesSpec() {
  TMediaSpec s = VideoOnlySpec();
  s.Subtitles = 1;
  return s;
}

TMediaSpec ChaptersSpec() {
  TMediaSpec s = VideoAudioSpec();
  s.Seconds = 2.0;
  s.Metadata = {{"title", "Fixture Title"}, {"artist", "Vexa Tests"}};
  s.StreamMetadata = {{"language", "eng"}};
  s.Chapters = {{0.0, 1.0, "Chapter One"}, {1.0, 2.0, "Chapter Two"}};
  return s;
}

TMediaSpec AttachedPictureSpec() {
  TMediaSpec s = VideoAudioSpec();
  s.AttachedPicture = true;
  s.PictureWidth = 640;
  s.PictureHeight = 480;
  return s;
}

std::string WriteMediaFile(const std::string& path, const TMediaSpec& layout) {
  AVFormatContext* oc = nullptr;
  Check(avformat_alloc_output_context2(&oc, nullptr, nullptr, path.c_str()), "output context " + path);
  TOutputPtr out(oc);
  SetMetadata(&oc->metadata, layout.Metadata);

  std::vector<TEncodedStream> videos, audios;
  for (const TVideoSpec& v : layout.Videos) {
    TEncodedStream s;
    s.Stream = avformat_new_stream(oc, nullptr);
    s.Codec = OpenEncoder(
        AV_CODEC_ID_MPEG4,
        [&](AVCodecContext* c) {
          c->width = v.Width;
          c->height = v.Height;
          c->pix_fmt = AV_PIX_FMT_YUV420P;
          c->time_base = AVRational{1, v.Fps};
          c->framerate = AVRational{v.Fps, 1};
          c->gop_size = 12;
          c->bit_rate = 400000;
        },
        oc);
    Check(avcodec_parameters_from_context(s.Stream->codecpar, s.Codec.get()), "parameters");
    s.Stream->time_base = s.Codec->time_base;
    s.Stream->avg_frame_rate = AVRational{v.Fps, 1};
    SetMetadata(&s.Stream->metadata, layout.StreamMetadata);
    videos.push_back(std::move(s));
  }
  for (const TAudioSpec& a : layout.Audios) {
    TEncodedStream s;
    s.Stream = avformat_new_stream(oc, nullptr);
    s.Codec = OpenEncoder(
        AV_CODEC_ID_PCM_S16LE,
        [&](AVCodecContext* c) {
          c->sample_rate = a.SampleRate;
          c->sample_fmt = AV_SAMPLE_FMT_S16;
          av_channel_layout_default(&c->ch_layout, a.Channels);
          c->time_base = AVRational{1, a.SampleRate};
        },
        oc);
    Check(avcodec_parameters_from_context(s.Stream->codecpar, s.Codec.get()), "parameters");
    s.Stream->time_base = s.Codec->time_base;
    SetMetadata(&s.Stream->metadata, layout.StreamMetadata);
    audios.push_back(std::move(s));
  }
  std::vector<AVStream*> subtitles;
  for (int i = 0; i < layout.Subtitles; ++i) {
    AVStream* st = avformat_new_stream(oc, nullptr);
    st->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    st->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
    st->time_base = AVRational{1, 1000};
    SetMetadata(&st->metadata, layout.StreamMetadata);
    subtitles.push_back(st);
  }
  // Matroska stores cover art as an image attachment, which its demuxer
  // presents as a video stream with the attached-picture disposition.
  if (layout.AttachedPicture) {
    TPacketPtr png(av_packet_alloc());
    EncodePicture(layout.PictureWidth, layout.PictureHeight, nullptr, png.get());
    AVStream* st = avformat_new_stream(oc, nullptr);
    st->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    st->codecpar->codec_id = AV_CODEC_ID_PNG;
    st->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(png->size + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(st->codecpar->extradata, png->data, png->size);
    st->codecpar->extradata_size = png->size;
    av_dict_set(&st->metadata, "filename", "cover.png", 0);
    av_dict_set(&st->metadata, "mimetype", "image/png", 0);
  }
  if (!layout.AttachmentName.empty()) {
    AVStream* st = avformat_new_stream(oc, nullptr);
    st->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    st->codecpar->codec_id = AV_CODEC_ID_TTF;
    const std::string& data = layout.AttachmentData;
    st->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(data.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(st->codecpar->extradata, data.data(), data.size());
    st->codecpar->extradata_size = static_cast<int>(data.size());
    av_dict_set(&st->metadata, "filename", layout.AttachmentName.c_str(), 0);
    av_dict_set(&st->metadata, "mimetype", "application/x-truetype-font", 0);
  }

  if (!layout.Chapters.empty()) {
    oc->chapters = static_cast<AVChapter**>(av_calloc(layout.Chapters.size(), sizeof(AVChapter*)));
    for (std::size_t i = 0; i < layout.Chapters.size(); ++i) {
      AVChapter* ch = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
      oc->chapters[i] = ch;
      oc->nb_chapters = static_cast<unsigned>(i + 1);
      ch->id = static_cast<int64_t>(i + 1);
      ch->time_base = AVRational{1, 1000};
      ch->start = static_cast<int64_t>(std::llround(layout.Chapters[i].Start * 1000));
      ch->end = static_cast<int64_t>(std::llround(layout.Chapters[i].End * 1000));
      if (!layout.Chapters[i].Title.empty()) av_dict_set(&ch->metadata, "title", layout.Chapters[i].Title.c_str(), 0);
    }
  }

  Check(avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open " + path);
  Check(avformat_write_header(oc, nullptr), "avformat_write_header");

  TPacketPtr pkt(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  // Video and audio in steps of 1/25 s, subtitles once a second.
  const int steps = static_cast<int>(std::lround(layout.Seconds * 25));
  for (int step = 0; step < steps; ++step) {
    for (std::size_t i = 0; i < videos.size(); ++i) {
      TEncodedStream& s = videos[i];
      const int fps = layout.Videos[i].Fps;
      const int64_t until = av_rescale(step + 1, fps, 25);
      while (s.NextPts < until) {
        av_frame_unref(frame.get());
        frame->width = s.Codec->width;
        frame->height = s.Codec->height;
        frame->format = s.Codec->pix_fmt;
        Check(av_frame_get_buffer(frame.get(), 0), "av_frame_get_buffer");
        FillPicture(frame.get(), static_cast<int>(s.NextPts));
        frame->pts = s.NextPts++;
        EncodeAndWrite(oc, s, frame.get(), pkt.get(), av_rescale(std::llround(layout.StartOffset * 1000), fps, 1000));
      }
    }
    for (std::size_t i = 0; i < audios.size(); ++i) {
      TEncodedStream& s = audios[i];
      const int rate = layout.Audios[i].SampleRate;
      const int64_t until = av_rescale(step + 1, rate, 25);
      const int n = static_cast<int>(until - s.NextPts);
      av_frame_unref(frame.get());
      frame->nb_samples = n;
      frame->format = AV_SAMPLE_FMT_S16;
      frame->sample_rate = rate;
      Check(av_channel_layout_copy(&frame->ch_layout, &s.Codec->ch_layout), "layout");
      Check(av_frame_get_buffer(frame.get(), 0), "audio buffer");
      int16_t* samples = reinterpret_cast<int16_t*>(frame->data[0]);
      const int channels = frame->ch_layout.nb_channels;
      for (int k = 0; k < n; ++k)
        for (int c = 0; c < channels; ++c)
          samples[k * channels + c] =
              static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * (c + 1) * double(s.NextPts + k) / rate));
      frame->pts = s.NextPts;
      s.NextPts += n;
      EncodeAndWrite(oc, s, frame.get(), pkt.get(), av_rescale(std::llround(layout.StartOffset * 1000), rate, 1000));
    }
    if (step % 25 == 0) {
      for (AVStream* st : subtitles) {
        const std::string text = "Cue " + std::to_string(step / 25 + 1);
        av_packet_unref(pkt.get());
        Check(av_new_packet(pkt.get(), static_cast<int>(text.size())), "subtitle packet");
        std::memcpy(pkt->data, text.data(), text.size());
        pkt->pts = pkt->dts = step * 40 + std::llround(layout.StartOffset * 1000);
        pkt->duration = 500;
        pkt->flags |= AV_PKT_FLAG_KEY;
        pkt->stream_index = st->index;
        pkt->time_base = AVRational{1, 1000};
        av_packet_rescale_ts(pkt.get(), AVRational{1, 1000}, st->time_base);
        Check(av_interleaved_write_frame(oc, pkt.get()), "subtitle write");
      }
    }
  }
  for (TEncodedStream& s : videos)
    EncodeAndWrite(oc, s, nullptr, pkt.get(), av_rescale(std::llround(layout.StartOffset * 1000), s.Codec->time_base.den, 1000));
  for (TEncodedStream& s : audios)
    EncodeAndWrite(oc, s, nullptr, pkt.get(), av_rescale(std::llround(layout.StartOffset * 1000), s.Codec->time_base.den, 1000));
  Check(av_write_trailer(oc), "av_write_trailer");
  return path;
}

void WritePicture(const std::string& path, int width, int height, uint32_t rgba) {
  TPacketPtr png(av_packet_alloc());
  if (!png) throw std::runtime_error("av_packet_alloc");
  EncodePicture(width, height, &rgba, png.get());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(png->data), png->size);
  if (!out) throw std::runtime_error("cannot write " + path);
}

TStreamInfo DescribeStream(const AVStream* st) {
  TStreamInfo s;
  s.Type = st->codecpar->codec_type;
  s.Codec = avcodec_get_name(st->codecpar->codec_id);
  s.Width = st->codecpar->width;
  s.Height = st->codecpar->height;
  s.SampleRate = st->codecpar->sample_rate;
  s.Channels = st->codecpar->ch_layout.nb_channels;
  s.AttachedPicture = (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
  s.Metadata = ReadDict(st->metadata);
  return s;
}

TMediaInfo ProbeMedia(const std::string& path) {
  AVFormatContext* raw = nullptr;
  Check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "open " + path);
  TInputPtr input(raw);
  AVFormatContext* ic = input.get();
  Check(avformat_find_stream_info(ic, nullptr), "find_stream_info " + path);
  TMediaInfo info;
  info.FormatName = ic->iformat->name;
  if (ic->duration != AV_NOPTS_VALUE) info.Duration = ic->duration / double(AV_TIME_BASE);
  if (ic->start_time != AV_NOPTS_VALUE) info.StartTime = ic->start_time / double(AV_TIME_BASE);
  info.Metadata = ReadDict(ic->metadata);
  for (unsigned i = 0; i < ic->nb_streams; ++i) info.Streams.push_back(DescribeStream(ic->streams[i]));
  for (unsigned i = 0; i < ic->nb_chapters; ++i) {
    const AVChapter* ch = ic->chapters[i];
    TChapterInfo c;
    c.Start = ch->start * av_q2d(ch->time_base);
    c.End = ch->end * av_q2d(ch->time_base);
    c.Metadata = ReadDict(ch->metadata);
    info.Chapters.push_back(std::move(c));
  }
  return info;
}

TTempDir::TTempDir() {
  char pattern[] = "/tmp/vexa-media.XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir) throw std::runtime_error("mkdtemp failed");
  Root_ = dir;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(Root_, ec);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

int64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

}  // namespace vexa::test
