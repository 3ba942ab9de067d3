#include "Support/TestProgramFormat.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Base/ProgramFormats.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
}

namespace vexa::test {

namespace {

struct TTestContext {
  const AVClass* Class;
  char* VideoSize;
  char* FrameRate;
  int SampleRate;
  int Channels;
  char* CaptureOffset;
  int Width;
  int Height;
  int Packets;
};

std::mutex StateLock;
TTestFormatOpen LastOpen;
int Opens = 0;
int Closes = 0;

#define OFF(field) offsetof(TTestContext, field)
const AVOption FullOptions[] = {
    {"video_size", "frame size", OFF(VideoSize), AV_OPT_TYPE_STRING, {.str = "160x120"}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"framerate", "frame rate", OFF(FrameRate), AV_OPT_TYPE_STRING, {.str = "25"}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"sample_rate", "sample rate", OFF(SampleRate), AV_OPT_TYPE_INT, {.i64 = 44100}, 1, 192000, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"channels", "channels", OFF(Channels), AV_OPT_TYPE_INT, {.i64 = 0}, 0, 8, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"capture_offset", "offset", OFF(CaptureOffset), AV_OPT_TYPE_STRING, {.str = "0,0"}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {nullptr, nullptr, 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 0, 0, nullptr}};
const AVOption PlainOptions[] = {
    {"video_size", "frame size", OFF(VideoSize), AV_OPT_TYPE_STRING, {.str = "160x120"}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"sample_rate", "sample rate", OFF(SampleRate), AV_OPT_TYPE_INT, {.i64 = 44100}, 1, 192000, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {nullptr, nullptr, 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 0, 0, nullptr}};
#undef OFF

const AVClass FullClass = TestOptionClass("TestCaptureFormat", FullOptions, AV_CLASS_CATEGORY_DEVICE_VIDEO_INPUT);
const AVClass PlainClass = TestOptionClass("TestPlainFormat", PlainOptions, AV_CLASS_CATEGORY_DEVICE_VIDEO_INPUT);

int ReadHeader(AVFormatContext* s) {
  TTestContext* ctx = static_cast<TTestContext*>(s->priv_data);
  const bool full = ctx->Class == &FullClass;
  if (av_parse_video_size(&ctx->Width, &ctx->Height, ctx->VideoSize) < 0) return AVERROR(EINVAL);
  AVRational rate{25, 1};
  if (full && av_parse_video_rate(&rate, ctx->FrameRate) < 0) return AVERROR(EINVAL);

  AVStream* v = avformat_new_stream(s, nullptr);
  if (!v) return AVERROR(ENOMEM);
  v->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  v->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  v->codecpar->format = AV_PIX_FMT_BGRA;
  v->codecpar->width = ctx->Width;
  v->codecpar->height = ctx->Height;
  v->time_base = av_inv_q(rate);
  v->avg_frame_rate = rate;
  v->r_frame_rate = rate;
  if (full && ctx->Channels > 0) {
    AVStream* a = avformat_new_stream(s, nullptr);
    if (!a) return AVERROR(ENOMEM);
    a->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    a->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    a->codecpar->format = AV_SAMPLE_FMT_S16;
    a->codecpar->sample_rate = ctx->SampleRate;
    av_channel_layout_default(&a->codecpar->ch_layout, ctx->Channels);
    a->time_base = AVRational{1, ctx->SampleRate};
  }

  std::lock_guard<std::mutex> guard(StateLock);
  ++Opens;
  LastOpen = TTestFormatOpen();
  LastOpen.Format = full ? "vexatest" : "vexatest_plain";
  LastOpen.Url = s->url ? s->url : "";
  LastOpen.VideoSize = ctx->VideoSize ? ctx->VideoSize : "";
  if (full) LastOpen.FrameRate = ctx->FrameRate ? ctx->FrameRate : "";
  LastOpen.SampleRate = ctx->SampleRate;
  LastOpen.Channels = full ? ctx->Channels : 0;
  if (full) LastOpen.CaptureOffset = ctx->CaptureOffset ? ctx->CaptureOffset : "";
  return 0;
}

int ReadPacket(AVFormatContext* s, AVPacket* pkt) {
  TTestContext* ctx = static_cast<TTestContext*>(s->priv_data);
  const int streams = static_cast<int>(s->nb_streams);
  if (ctx->Packets >= FramesPerInput * streams) return AVERROR_EOF;
  const int index = ctx->Packets % streams;
  const int frame = ctx->Packets / streams;
  ++ctx->Packets;
  AVStream* st = s->streams[index];
  int size = 0;
  if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    size = ctx->Width * ctx->Height * 4;
  } else {
    size = st->codecpar->sample_rate / 25 * st->codecpar->ch_layout.nb_channels * 2;
  }
  int ret = av_new_packet(pkt, size);
  if (ret < 0) return ret;
  std::memset(pkt->data, frame * 16, size);
  pkt->stream_index = index;
  pkt->pts = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? frame : int64_t(frame) * st->codecpar->sample_rate / 25;
  pkt->flags |= AV_PKT_FLAG_KEY;
  return size;
}

int ReadClose(AVFormatContext*) {
  std::lock_guard<std::mutex> guard(StateLock);
  ++Closes;
  return 0;
}

TProgramInputFormat MakeFormat(const char* name, const AVClass* cls) {
  TProgramInputFormat f;
  f.Name = name;
  f.LongName = "Vexa test input";
  f.Flags = AVFMT_NOFILE;
  f.PrivClass = cls;
  f.PrivDataSize = sizeof(TTestContext);
  f.ReadHeader = ReadHeader;
  f.ReadPacket = ReadPacket;
  f.ReadClose = ReadClose;
  return f;
}

const TProgramInputFormat FullFormat = MakeFormat("vexatest", &FullClass);
const TProgramInputFormat PlainFormat = MakeFormat("vexatest_plain", &PlainClass);

}  // namespace

void RegisterTestProgramFormats() {
  RegisterProgramInputFormat(&FullFormat);
  RegisterProgramInputFormat(&PlainFormat);
}

TTestFormatOpen LastTestFormatOpen() {
  std::lock_guard<std::mutex> guard(StateLock);
  return LastOpen;
}

int TestFormatOpenCount() {
  std::lock_guard<std::mutex> guard(StateLock);
  return Opens;
}

int TestFormatCloseCount() {
  std::lock_guard<std::mutex> guard(StateLock);
  return Closes;
}

}  // namespace vexa::test
