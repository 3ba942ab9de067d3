// -target: fixed recipes for VCD, SVCD, DVD and DV outputs in PAL, NTSC or film norm.
#include <cmath>

#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "FFmpegOpt/OptionText.h"

namespace vexa {

namespace {

enum class TNorm { Unknown, PAL, NTSC, FILM };

bool HasPrefix(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool Valid(AVRational r) { return r.num > 0 && r.den > 0; }

// The frame rate of a video input stream, in thousandths of a frame per
// second: the decoder context's time base (inverted) or frame rate, else the
// rates the demuxer found for the stream.
long RateMilli(const TInputStream& stream) {
  AVRational rate{0, 0};
  if (const AVCodecContext* c = stream.CodecContext.get()) {
    if (Valid(c->time_base))
      rate = AVRational{c->time_base.den, c->time_base.num};
    else if (Valid(c->framerate))
      rate = c->framerate;
  }
  if (!Valid(rate) && stream.Stream) {
    if (Valid(stream.Stream->r_frame_rate))
      rate = stream.Stream->r_frame_rate;
    else if (Valid(stream.Stream->avg_frame_rate))
      rate = stream.Stream->avg_frame_rate;
  }
  if (!Valid(rate)) return 0;
  return std::lround(static_cast<double>(rate.num) * 1000.0 / rate.den);
}

}  // namespace

int TCustomFFmpegOpt::OptTarget(TFileOptions* o, const std::string&, const std::string& arg) {
  if (!o) return AVERROR(EINVAL);
  TNorm norm = TNorm::Unknown;
  std::string name = arg;
  if (HasPrefix(name, "pal-")) {
    norm = TNorm::PAL;
    name.erase(0, 4);
  } else if (HasPrefix(name, "ntsc-")) {
    norm = TNorm::NTSC;
    name.erase(0, 5);
  } else if (HasPrefix(name, "film-")) {
    norm = TNorm::FILM;
    name.erase(0, 5);
  } else {
    for (const auto& file : InputFiles) {
      for (int j = 0; j < file->StreamCount && norm == TNorm::Unknown; ++j) {
        const std::size_t index = static_cast<std::size_t>(file->FirstStreamIndex) + static_cast<std::size_t>(j);
        if (index >= InputStreams.size()) break;
        const TInputStream& stream = *InputStreams[index];
        if (stream.MediaType() != AVMEDIA_TYPE_VIDEO) continue;
        const long rate = RateMilli(stream);
        if (rate == 25000)
          norm = TNorm::PAL;
        else if (rate == 29970 || rate == 23976)
          norm = TNorm::NTSC;
      }
      if (norm != TNorm::Unknown) break;
    }
    if (norm != TNorm::Unknown) LogFmt(this, llInfo, "Assuming %s for target.", norm == TNorm::PAL ? "PAL" : "NTSC");
  }
  if (norm == TNorm::Unknown)
    AbortWithError(
        "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\r\n"
        "Please prefix target with \"pal-\", \"ntsc-\" or \"film-\",\r\n"
        "or set a framerate with \"-r xxx\".");

  const bool pal = norm == TNorm::PAL;
  const char* rate = pal ? "25" : norm == TNorm::NTSC ? "30000/1001" : "24000/1001";
  const char* gop = pal ? "15" : "18";

  int result = 0;
  auto set = [&](const char* option, const std::string& value) {
    const int ret = ParseOption(o, option, value);
    if (ret < 0 && result >= 0) result = ret;
  };
  auto codec = [&](const char* key, const char* value) {
    const int ret = SetFileCodecOption(o, key, value);
    if (ret < 0 && result >= 0) result = ret;
  };
  auto format = [&](const char* key, const char* value) {
    const int ret = SetFileFormatOption(o, key, value);
    if (ret < 0 && result >= 0) result = ret;
  };

  if (name == "vcd") {
    set("c:v", "mpeg1video");
    set("c:a", "mp2");
    set("f", "vcd");
    set("s", pal ? "352x288" : "352x240");
    set("r", rate);
    codec("g", gop);
    codec("b:v", "1150000");
    codec("maxrate", "1150000");
    codec("minrate", "1150000");
    codec("bufsize", "327680");
    codec("b:a", "224000");
    set("ar", "44100");
    set("ac", "2");
    format("packetsize", "2324");
    format("muxrate", "1411200");
    o->MuxPreload = 0.44f;
  } else if (name == "svcd") {
    set("c:v", "mpeg2video");
    set("c:a", "mp2");
    set("f", "svcd");
    set("s", pal ? "480x576" : "480x480");
    set("r", rate);
    set("pix_fmt", "yuv420p");
    codec("g", gop);
    codec("b:v", "2040000");
    codec("maxrate", "2516000");
    codec("minrate", "0");
    codec("bufsize", "1835008");
    codec("scan_offset", "1");
    codec("b:a", "224000");
    set("ar", "44100");
    format("packetsize", "2324");
  } else if (name == "dvd") {
    set("c:v", "mpeg2video");
    set("c:a", "ac3");
    set("f", "dvd");
    set("s", pal ? "720x576" : "720x480");
    set("r", rate);
    set("pix_fmt", "yuv420p");
    codec("g", gop);
    codec("b:v", "6000000");
    codec("maxrate", "9000000");
    codec("minrate", "0");
    codec("bufsize", "1835008");
    format("packetsize", "2048");
    format("muxrate", "10080000");
    codec("b:a", "448000");
    set("ar", "48000");
  } else if (HasPrefix(name, "dv")) {
    set("f", "dv");
    set("s", pal ? "720x576" : "720x480");
    set("pix_fmt", HasPrefix(name, "dv50") ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    set("r", rate);
    set("ar", "48000");
    set("ac", "2");
  } else {
    const std::string message = StrFormat("Unknown target: %s", name.c_str());
    SetOptionErrorText(message);
    Log(this, llError, message);
    return AVERROR(EINVAL);
  }
  return result;
}

}  // namespace vexa
