#include "GDICapture/CaptureFormat.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
}

#include "GDICapture/CaptureContext.h"
#include "GDICapture/FrameForm.h"
#include "GDICapture/ScreenSource.h"
#include "GDICapture/ScreenThread.h"
#include "GDICapture/WaveInput.h"

namespace vexa {

namespace {

constexpr int kDec = AV_OPT_FLAG_DECODING_PARAM;
constexpr int kMaxDeviceSpec = 1024;  // what the library keeps of an input name
constexpr auto kReadWait = std::chrono::milliseconds(1000);

#define VEXA_OPT(field) offsetof(TCaptureOptions, field)

const AVOption kCaptureOptions[] = {
    {"video_size", "A string describing frame size, such as 640x480 or hd720.", VEXA_OPT(video_size),
     AV_OPT_TYPE_STRING, {.str = nullptr}, 0, 0, kDec, nullptr},
    {"framerate", "", VEXA_OPT(framerate), AV_OPT_TYPE_STRING, {.str = "ntsc"}, 0, 0, kDec, nullptr},
    {"capture_offset", "%d,%d: offset on x and y against the final source window", VEXA_OPT(capture_offset),
     AV_OPT_TYPE_STRING, {.str = nullptr}, 0, 0, kDec, nullptr},
    {"capture_flags", "", VEXA_OPT(capture_flags), AV_OPT_TYPE_FLAGS, {.i64 = 7}, INT_MIN, INT_MAX, kDec,
     "capture_flags"},
    {"showframe", "show frame", 0, AV_OPT_TYPE_CONST, {.i64 = cfShowFrame}, INT_MIN, INT_MAX, kDec,
     "capture_flags"},
    {"client", "capture client dc instead of window dc", 0, AV_OPT_TYPE_CONST, {.i64 = cfClient}, INT_MIN,
     INT_MAX, kDec, "capture_flags"},
    {"cursor", "capture cursor", 0, AV_OPT_TYPE_CONST, {.i64 = cfCursor}, INT_MIN, INT_MAX, kDec,
     "capture_flags"},
    {"sample_rate", "set audio sampling rate (in Hz)", VEXA_OPT(sample_rate), AV_OPT_TYPE_INT, {.i64 = 44100}, 0,
     INT_MAX, kDec, nullptr},
    {"channels", "set number of audio channels", VEXA_OPT(channels), AV_OPT_TYPE_INT, {.i64 = 2}, 0, INT_MAX, kDec,
     nullptr},
    {"sample_fmt", "set sample format", VEXA_OPT(sample_fmt), AV_OPT_TYPE_STRING, {.str = "s16"}, 0, 0, kDec,
     nullptr},
    {"wavebufsize", "waveIn buffer size", VEXA_OPT(wavebufsize), AV_OPT_TYPE_INT, {.i64 = 65536}, 0, INT_MAX,
     kDec, nullptr},
    // An address: 64 bits wide, so that a pointer of this platform fits.
    {"pause_pointer", "integer value of pause flag pointer", VEXA_OPT(pause_pointer), AV_OPT_TYPE_INT64,
     {.i64 = 0}, static_cast<double>(INT64_MIN), static_cast<double>(INT64_MAX), kDec, nullptr},
    {nullptr, nullptr, 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 0, 0, nullptr},
};

#undef VEXA_OPT

AVClass MakeCaptureClass() {
  AVClass c{};
  c.class_name = "ScreenCaptureFormat";
  c.item_name = av_default_item_name;
  c.option = kCaptureOptions;
  c.version = LIBAVUTIL_VERSION_INT;
  c.category = AV_CLASS_CATEGORY_DEVICE_INPUT;
  return c;
}
const AVClass kCaptureClass = MakeCaptureClass();

int CaptureReadHeader(AVFormatContext* s);
int CaptureReadPacket(AVFormatContext* s, AVPacket* pkt);
int CaptureReadClose(AVFormatContext* s);
void CaptureFinish(AVFormatContext* s);
std::string CaptureFailureText(AVFormatContext* s);

const TProgramInputFormat kCaptureFormat = [] {
  TProgramInputFormat f;
  f.Name = "gdicapture";
  f.LongName = "GDI(Screen/Wave) capture";
  f.Flags = AVFMT_NOFILE;
  f.CaptureTimestamps = true;
  f.PrivClass = &kCaptureClass;
  f.PrivDataSize = sizeof(TCaptureOptions);
  f.ReadHeader = CaptureReadHeader;
  f.ReadPacket = CaptureReadPacket;
  f.ReadClose = CaptureReadClose;
  f.Finish = CaptureFinish;
  f.FailureText = CaptureFailureText;
  return f;
}();

TCaptureOptions* OptionsOf(AVFormatContext* s) { return static_cast<TCaptureOptions*>(s->priv_data); }

const char* Text(const char* s) { return s ? s : ""; }

// "x,y": base-10 integers, nothing else.
bool ParseOffset(const char* text, int& x, int& y) {
  const char* comma = std::strchr(text, ',');
  if (!comma || comma == text) return false;
  errno = 0;
  char* end = nullptr;
  const long vx = std::strtol(text, &end, 10);
  if (end != comma || errno) return false;
  const char* ytext = comma + 1;
  if (!*ytext) return false;
  const long vy = std::strtol(ytext, &end, 10);
  if (*end || errno || end == ytext) return false;
  if (vx < INT_MIN || vx > INT_MAX || vy < INT_MIN || vy > INT_MAX) return false;
  x = static_cast<int>(vx);
  y = static_cast<int>(vy);
  return true;
}

int ParseVideoOptions(TCaptureContext& c, TCaptureOptions& o) {
  AVRational rate{0, 0};
  if (av_parse_video_rate(&rate, Text(o.framerate)) < 0) {
    c.Log(llError, "Could not parse framerate \"%s\".\n", Text(o.framerate));
    return AVERROR(EINVAL);
  }
  if (rate.num == 0 || rate.den == 0) {
    c.Log(llError, "Invalid frame rate \"%s\".\n", Text(o.framerate));
    return AVERROR(EINVAL);
  }
  c.FrameRate = rate;
  if (o.video_size && *o.video_size) {
    int w = 0, h = 0;
    if (av_parse_video_size(&w, &h, o.video_size) < 0) {
      c.Log(llError, "Could not parse video size \"%s\".\n", o.video_size);
      return AVERROR(EINVAL);
    }
    if (w <= 0 || h <= 0) {
      c.Log(llError, "Invalid frame size \"%s\".\n", o.video_size);
      return AVERROR(EINVAL);
    }
    c.RequestedWidth = w;
    c.RequestedHeight = h;
  }
  if (o.capture_offset && *o.capture_offset) {
    if (!ParseOffset(o.capture_offset, c.OffsetX, c.OffsetY)) {
      c.Log(llError, "Could not parse capture-offset \"%s\".\n", o.capture_offset);
      return AVERROR(EINVAL);
    }
  }
  c.ShowFrame = (o.capture_flags & cfShowFrame) != 0;
  c.ClientArea = (o.capture_flags & cfClient) != 0;
  c.DrawCursor.store((o.capture_flags & cfCursor) != 0);
  return 0;
}

// Packets of both streams carry microseconds since the start time, the first
// at 0; they are complete as queued, so nothing is parsed or probed.
void TimeStreamInMicroseconds(AVFormatContext* s, AVStream* st) {
  st->time_base = AVRational{1, 1000000};
  st->pts_wrap_bits = 64;
  st->start_time = 0;
  s->flags |= AVFMT_FLAG_NOPARSE;
  s->probesize = 0;
}

int AddVideoStream(AVFormatContext* s, TCaptureContext& c) {
  AVStream* st = avformat_new_stream(s, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->id = 0;
  c.VideoStreamIndex = st->index;
  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_RAWVIDEO;
  par->width = c.Width;
  par->height = c.Height;
  par->format = c.PixelFormat;
  par->bits_per_coded_sample = c.BitsPerPixel;
  par->bit_rate = std::llrint(static_cast<double>(c.FrameBytes) * c.FrameRate.num / c.FrameRate.den * 8.0);
  s->bit_rate += par->bit_rate;
  st->r_frame_rate = c.FrameRate;
  st->avg_frame_rate = c.FrameRate;
  TimeStreamInMicroseconds(s, st);
  return 0;
}

int OpenVideo(AVFormatContext* s, TCaptureContext& c, TCaptureOptions& o) {
  int ret = ParseVideoOptions(c, o);
  if (ret < 0) return ret;
  c.Screen = std::make_unique<TScreenSource>();
  ret = c.Screen->Open(c);
  if (ret < 0) return ret;
  c.ScreenThread = std::make_unique<TScreenThread>(c);
  ret = AddVideoStream(s, c);
  if (ret < 0) return ret;
  if (c.ShowFrame) c.FrameForm = std::make_unique<TFrameForm>(c);
  c.Log(llInfo, "ready for screen capturing %ix%ix%i at (%i,%i)\n", c.Width, c.Height, c.BitsPerPixel,
        c.OffsetX, c.OffsetY);
  return 0;
}

int ParseAudioOptions(TCaptureContext& c, TCaptureOptions& o) {
  const char* name = o.sample_fmt && *o.sample_fmt ? o.sample_fmt : "s16";
  const AVSampleFormat fmt = av_get_sample_fmt(name);
  if (fmt == AV_SAMPLE_FMT_U8) {
    c.BitsPerSample = 8;
    c.SampleFormat = AV_SAMPLE_FMT_U8;
    c.AudioCodec = AV_CODEC_ID_PCM_U8;
  } else if (fmt == AV_SAMPLE_FMT_S16) {
    c.BitsPerSample = 16;
    c.SampleFormat = AV_SAMPLE_FMT_S16;
    c.AudioCodec = AV_CODEC_ID_PCM_S16LE;
  } else {
    c.Log(llError, "Invalid sample format: \"%s\", it should be u8 or s16\n", Text(o.sample_fmt));
    return AVERROR(EINVAL);
  }
  c.WaveBufSize = o.wavebufsize < 1 ? 65536 : o.wavebufsize;
  if (o.sample_rate <= 0) {
    c.Log(llError, "Invalid sample rate %d\n", o.sample_rate);
    return AVERROR(EINVAL);
  }
  if (o.channels <= 0) {
    c.Log(llError, "Invalid channels %d\n", o.channels);
    return AVERROR(EINVAL);
  }
  c.SampleRate = o.sample_rate;
  c.Channels = o.channels;
  return 0;
}

int AddAudioStream(AVFormatContext* s, TCaptureContext& c) {
  AVStream* st = avformat_new_stream(s, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->id = 1;
  c.AudioStreamIndex = st->index;
  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = c.AudioCodec;
  av_channel_layout_default(&par->ch_layout, c.Channels);
  par->sample_rate = c.SampleRate;
  par->block_align = c.Wave->Format().BlockAlign;
  par->format = c.SampleFormat;
  par->bits_per_coded_sample = c.BitsPerSample;
  par->bit_rate = static_cast<int64_t>(c.SampleRate) * c.Channels * c.BitsPerSample;
  s->bit_rate += par->bit_rate;
  TimeStreamInMicroseconds(s, st);
  return 0;
}

int OpenAudio(AVFormatContext* s, TCaptureContext& c, TCaptureOptions& o) {
  int ret = ParseAudioOptions(c, o);
  if (ret < 0) return ret;
  c.Wave = std::make_unique<TWaveInput>(c);
  if (!c.Wave->Open()) return AVERROR(EIO);
  ret = AddAudioStream(s, c);
  if (ret < 0) return ret;
  c.Log(llInfo, "ready for wave recording...\n");
  return 0;
}

void LogObjectCounts(const TCaptureContext& c) {
  c.Log(llDebug, "Count of GDI objects: %d, Count of USER objects: %d\n", LiveCaptureImages().load(),
        LiveCaptureWindows().load());
}

// Stops every producer and frees the context; also the clean-up of a failed
// open.
void ReleaseCapture(TCaptureOptions& o) {
  std::unique_ptr<TCaptureContext> owner(o.Context);
  o.Context = nullptr;
  if (!owner) return;
  TCaptureContext& c = *owner;
  c.Stopped.store(true);
  // The grabber goes before the screen source it reads from.
  c.ScreenThread.reset();
  c.Screen.reset();
  c.FrameForm.reset();
  if (c.Wave) c.Wave->Close();
  c.Wave.reset();
  c.Queue.Clear();
}

int CaptureReadHeader(AVFormatContext* s) {
  TCaptureOptions& o = *OptionsOf(s);
  auto owner = std::make_unique<TCaptureContext>();
  TCaptureContext& c = *owner;
  o.Context = owner.release();
  c.FormatContext = s;
  c.PauseFlag = reinterpret_cast<const int32_t*>(static_cast<intptr_t>(o.pause_pointer));
  const unsigned limit = s->max_picture_buffer;
  s->max_picture_buffer = limit > UINT_MAX / 10 ? UINT_MAX : limit * 10;

  const TDeviceSpec spec = ParseDeviceSpec(Text(s->url));
  int ret = 0;
  if (!spec.Valid) {
    if (!spec.ConvertError.empty())
      c.Log(llError, "Failed to parse \"%s\": %s\n", Text(s->url), spec.ConvertError.c_str());
    c.Log(llError, "Invalid parameters, it should be \"video=hwnd:audio=device_id\"\n");
    ret = AVERROR(EINVAL);
  } else {
    c.VideoEnabled = spec.VideoEnabled;
    c.SourceWindow = static_cast<unsigned long>(spec.Window);
    c.AudioEnabled = spec.AudioEnabled;
    c.WaveDevice = spec.WaveDevice;
  }
  if (ret >= 0 && c.VideoEnabled) ret = OpenVideo(s, c, o);
  if (ret >= 0 && c.AudioEnabled) ret = OpenAudio(s, c, o);
  if (ret < 0) ReleaseCapture(o);
  return ret;
}

int StoppedResult(const TCaptureContext& c) {
  const int error = c.ErrorCode.load();
  return error < 0 ? error : AVERROR_EOF;
}

// Ends the producers once (on the reader's thread): the grabber stops after
// its current frame, the sound input hands over the sound recorded up to now
// (its last, partly filled buffer included). Then nothing more is queued.
void FinishProducers(TCaptureContext& c) {
  if (c.ProducersFinished.exchange(true)) return;
  const int64_t end = CaptureClock();
  if (c.ScreenThread) {
    c.ScreenThread->Terminate();
    c.ScreenThread->WaitFor();
  }
  if (c.Wave) c.Wave->Finish(end);
  c.Stopped.store(true);
}

int CaptureReadPacket(AVFormatContext* s, AVPacket* pkt) {
  TCaptureContext* context = OptionsOf(s)->Context;
  if (!context) return AVERROR(EINVAL);
  TCaptureContext& c = *context;
  if (!c.Started.exchange(true)) LogObjectCounts(c);
  for (;;) {
    // After a stop or a producer's failure, what was captured before it is
    // still handed over; then the read ends with the failure or the end.
    const bool stopped = c.Stopped.load();
    if (stopped) FinishProducers(c);
    bool timedOut = false;
    {
      auto lock = c.Queue.Lock();
      TPacketPtr packet = c.Queue.TakeOldest(lock);
      if (packet) {
        lock.unlock();
        av_packet_move_ref(pkt, packet.get());
        return pkt->size;
      }
      if (stopped) return StoppedResult(c);
      if (!(s->flags & AVFMT_FLAG_NONBLOCK)) timedOut = !c.Queue.WaitEvent(lock, kReadWait);
    }
    if (s->flags & AVFMT_FLAG_NONBLOCK) {
      c.Log(llDebug, "non-block, need read again\n");
      return AVERROR(EAGAIN);
    }
    if (timedOut) {
      c.Log(llDebug, "wait timeout, need read again\n");
      return AVERROR(EAGAIN);
    }
  }
}

void CaptureFinish(AVFormatContext* s) {
  if (TCaptureContext* c = OptionsOf(s)->Context) FinishProducers(*c);
}

std::string CaptureFailureText(AVFormatContext* s) {
  const TCaptureContext* c = OptionsOf(s)->Context;
  return c ? c->FailureText() : std::string();
}

int CaptureReadClose(AVFormatContext* s) {
  TCaptureOptions& o = *OptionsOf(s);
  if (o.Context) LogObjectCounts(*o.Context);
  ReleaseCapture(o);
  return 0;
}

}  // namespace

bool TextToInteger(const std::string& text, long long minValue, long long maxValue, long long& value,
                   std::string& error) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  unsigned long long v = 0;
  bool digits = false, overflow = false;
  for (; i < text.size(); ++i) {
    const char ch = text[i];
    int d = -1;
    if (ch >= '0' && ch <= '9') d = ch - '0';
    else if (base == 16 && ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
    else if (base == 16 && ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
    if (d < 0) break;
    digits = true;
    if (v > (ULLONG_MAX - d) / base) overflow = true;
    else v = v * base + d;
  }
  const bool ok = digits && !overflow && i == text.size() && v <= static_cast<unsigned long long>(LLONG_MAX);
  long long result = ok ? (negative ? -static_cast<long long>(v) : static_cast<long long>(v)) : 0;
  if (!ok || result < minValue || result > maxValue) {
    error = "'" + text + "' is not a valid integer value";
    return false;
  }
  value = result;
  return true;
}

TDeviceSpec ParseDeviceSpec(const std::string& fullSpec) {
  TDeviceSpec r;
  const std::string spec = fullSpec.substr(0, kMaxDeviceSpec);
  const bool videoFirst = spec.rfind("video=", 0) == 0;
  const bool audioFirst = spec.rfind("audio=", 0) == 0;
  if (!videoFirst && !audioFirst) return r;
  const std::string separator = videoFirst ? ":audio=" : ":video=";
  const size_t sep = spec.find(separator, 1);
  std::string first = spec.substr(6, sep == std::string::npos ? std::string::npos : sep - 6);
  std::string second;
  const bool both = sep != std::string::npos;
  if (both) second = spec.substr(sep + separator.size());
  std::string videoText = videoFirst ? first : second;
  std::string audioText = videoFirst ? second : first;
  r.VideoEnabled = videoFirst || both;
  r.AudioEnabled = audioFirst || both;

  if (r.VideoEnabled) {
    if (videoText.empty()) videoText = "0";
    long long v = 0;
    if (!TextToInteger(videoText, 0, 0xFFFFFFFFLL, v, r.ConvertError)) return r;
    r.Window = v;
  }
  if (r.AudioEnabled) {
    if (audioText.empty()) audioText = "-1";
    long long a = 0;
    if (!TextToInteger(audioText, INT_MIN, INT_MAX, a, r.ConvertError)) return r;
    r.WaveDevice = static_cast<int>(a);
  }
  r.Valid = true;
  return r;
}

void RegisterCaptureInput() { RegisterProgramInputFormat(&kCaptureFormat); }

const TProgramInputFormat* CaptureInputFormat() { return &kCaptureFormat; }

}  // namespace vexa
