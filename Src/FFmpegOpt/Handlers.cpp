// Option handlers: rows of the option table that call a method.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "FFmpegOpt/OptionText.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/mem.h>
#include <libavutil/time.h>
}

namespace vexa {

namespace {

int Fail(const void* sender, TLogLevel level, const std::string& message, int code = AVERROR(EINVAL)) {
  SetOptionErrorText(message);
  Log(sender, level, message);
  return code;
}

// The text after the first ":" of a typed name, with the ":" ("" when none).
std::string SpecifierSuffix(const std::string& opt) {
  const std::string::size_type colon = opt.find(':');
  return colon == std::string::npos ? std::string() : opt.substr(colon);
}

// The row a forwarding row hands its argument to, by the row name (the typed
// name up to its first ":"; a specifier typed there is not passed on).
const char* ForwardTarget(const std::string& opt) {
  static const char* const targets[][2] = {
      {"acodec", "codec:a"},   {"vcodec", "codec:v"},   {"scodec", "codec:s"},  {"dcodec", "codec:d"},
      {"vframes", "frames:v"}, {"aframes", "frames:a"}, {"dframes", "frames:d"}, {"vf", "filter:v"},
      {"af", "filter:a"},      {"aq", "q:a"},           {"TimeStart", "ss_microsecond"},
      {"timestart", "ss_microsecond"}, {"TimeLength", "t_microsecond"}, {"timelength", "t_microsecond"},
  };
  const std::string row = opt.substr(0, opt.find(':'));
  for (const auto& target : targets)
    if (row == target[0]) return target[1];
  throw std::logic_error("option \"" + opt + "\" has no forwarding target");
}

}  // namespace

int TCustomFFmpegOpt::SetFileCodecOption(TFileOptions* o, const std::string& key, const std::string& value) {
  TOptionGroupDicts* group = o && o->Group ? o->Group : &FFOptions.FinishedGroup;
  return group->CodecOptions.Set(key.c_str(), value.c_str());
}

int TCustomFFmpegOpt::SetFileFormatOption(TFileOptions* o, const std::string& key, const std::string& value) {
  TOptionGroupDicts* group = o && o->Group ? o->Group : &FFOptions.FinishedGroup;
  return group->FormatOptions.Set(key.c_str(), value.c_str());
}

int TCustomFFmpegOpt::OptIgnored(TFileOptions*, const std::string& opt, const std::string&) {
  LogFmt(this, llWarning, "options \"%s\" not supported, ignore", opt.c_str());
  return 0;
}

int TCustomFFmpegOpt::OptUnsupported(TFileOptions*, const std::string& opt, const std::string&) {
  return Fail(this, llError, StrFormat("options \"%s\" not supported", opt.c_str()));
}

int TCustomFFmpegOpt::OptRemoved(TFileOptions*, const std::string& opt, const std::string&) {
  return Fail(this, llWarning,
              StrFormat("Option \"%s\" was removed. If you are looking for an option to preserve the quality "
                        "(which is not what -%s was for), use -qscale 0 or an equivalent quality factor option.",
                        opt.c_str(), opt.c_str()));
}

int TCustomFFmpegOpt::OptSwitch(TFileOptions*, const std::string&, const std::string&) { return 0; }

int TCustomFFmpegOpt::OptLogLevel(TFileOptions*, const std::string&, const std::string& arg) {
  return SetLogLevelOption(arg);
}

int TCustomFFmpegOpt::OptMaxAlloc(TFileOptions*, const std::string&, const std::string& arg) {
  const char* text = arg.c_str();
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  const bool negative = arg.find('-') != std::string::npos;
  if (arg.empty() || *end != '\0' || negative || errno == ERANGE || end == text)
    return Fail(this, llFatal, StrFormat("Invalid max_alloc \"%s\".", arg.c_str()));
  av_max_alloc(static_cast<size_t>(value));
  return 0;
}

// Flags the processor lacks are not forced: code paths selected by them would
// stop the process with an illegal instruction.
int TCustomFFmpegOpt::OptCpuFlags(TFileOptions*, const std::string&, const std::string& arg) {
  unsigned flags = static_cast<unsigned>(av_get_cpu_flags());
  const int ret = av_parse_cpu_caps(&flags, arg.c_str());
  if (ret < 0)
    return Fail(this, llFatal, StrFormat("Failed to parse cpu flags \"%s\": ", arg.c_str()) + ErrorText(ret), ret);
  const int current = av_get_cpu_flags();
  av_force_cpu_flags(-1);
  const unsigned detected = static_cast<unsigned>(av_get_cpu_flags());
  av_force_cpu_flags(current);
  const unsigned usable = flags & (detected | static_cast<unsigned>(AV_CPU_FLAG_FORCE));
  if (usable != flags)
    LogFmt(this, llWarning, "cpu flags 0x%x are not supported by this processor and are not forced",
           flags & ~usable);
  av_force_cpu_flags(static_cast<int>(usable));
  return 0;
}

int TCustomFFmpegOpt::OptTimestamp(TFileOptions* o, const std::string& opt, const std::string& arg) {
  const int64_t us = ParseTime(opt, arg, false);
  const int64_t seconds = us / 1000000;
  const std::string text = "creation_time=" + DateTimeText(UnixToLocal(seconds)) + " " + TimeZoneText();
  const int ret = ParseOption(o, "metadata", text);
  LogFmt(this, llWarning, "%s is deprecated, set the \"creation_time\" metadata tag instead.", opt.c_str());
  return ret < 0 ? ret : 0;
}

int TCustomFFmpegOpt::OpenProgressOutput(const std::string& url) {
  LastWriteTime = av_gettime();
  const AVIOInterruptCB callback = WriteInterruptCallback();
  AVIOContext* io = nullptr;
  const int ret = avio_open2(&io, url.c_str(), AVIO_FLAG_WRITE, &callback, nullptr);
  if (ret < 0) return ret;
  ProgressOutput.reset(io);
  return 0;
}

int TCustomFFmpegOpt::OptProgress(TFileOptions*, const std::string&, const std::string& arg) {
  const std::string url = arg == "-" ? "pipe:" : arg;
  const int ret = OpenProgressOutput(url);
  if (ret < 0)
    return Fail(this, llError, StrFormat("Failed to open progress URL \"%s\": %s", url.c_str(), ErrorText(ret).c_str()),
                ret);
  return 0;
}

int TCustomFFmpegOpt::OptVSync(TFileOptions*, const std::string&, const std::string& arg) {
  if (SameText(arg, "cfr"))
    VideoSyncMethod = 1;
  else if (SameText(arg, "vfr"))
    VideoSyncMethod = 2;
  else if (SameText(arg, "passthrough"))
    VideoSyncMethod = 0;
  else if (SameText(arg, "drop"))
    VideoSyncMethod = 255;
  else if (VideoSyncMethod == -1) {
    int value = 0;
    if (!TextToInt(arg, value) || (value != -1 && value != 0 && value != 1 && value != 2 && value != 255))
      return Fail(this, llError, StrFormat("The value for \"%s\" was \"%s\" which is invalid", "vsync", arg.c_str()));
    VideoSyncMethod = value;
  }
  return 0;
}

int TCustomFFmpegOpt::OptQScale(TFileOptions* o, const std::string& opt, const std::string& arg) {
  if (opt == "qscale") {
    Log(this, llWarning, "Please use -q:a or -q:v, -qscale is ambiguous");
    return ParseOption(o, "q:v", arg);
  }
  return ParseOption(o, "q" + opt.substr(6), arg);
}

int TCustomFFmpegOpt::OptProfile(TFileOptions* o, const std::string& opt, const std::string& arg) {
  if (opt == "profile") {
    Log(this, llWarning, "Please use -profile:a or -profile:v, -profile is ambiguous");
    return SetFileCodecOption(o, "profile:v", arg);
  }
  return SetFileCodecOption(o, opt, arg);
}

int TCustomFFmpegOpt::OptBitrate(TFileOptions* o, const std::string& opt, const std::string& arg) {
  if (opt == "b") {
    Log(this, llWarning, "Please use -b:a or -b:v, -b is ambiguous");
    return SetFileCodecOption(o, "b:v", arg);
  }
  return SetFileCodecOption(o, opt, arg);
}

int TCustomFFmpegOpt::OptForward(TFileOptions* o, const std::string& opt, const std::string& arg) {
  return ParseOption(o, ForwardTarget(opt), arg);
}

// vtag -> tag:v, atag -> tag:a, stag -> tag:s, absf -> bsf:a, vbsf -> bsf:v.
int TCustomFFmpegOpt::OptOldTypedName(TFileOptions* o, const std::string& opt, const std::string& arg) {
  return ParseOption(o, opt.substr(1) + ":" + opt.substr(0, 1), arg);
}

int TCustomFFmpegOpt::OptTimecode(TFileOptions* o, const std::string&, const std::string& arg) {
  const int ret = ParseOption(o, "metadata:g", "timecode=" + arg);
  if (ret >= 0) SetFileCodecOption(o, "gop_timecode", arg);
  return ret < 0 ? ret : 0;
}

int TCustomFFmpegOpt::OptChannelLayout(TFileOptions* o, const std::string& opt, const std::string& arg) {
  AVChannelLayout layout{};
  const int found = av_channel_layout_from_string(&layout, arg.c_str());
  const bool native = found >= 0 && layout.order == AV_CHANNEL_ORDER_NATIVE && layout.u.mask != 0;
  const uint64_t mask = native ? layout.u.mask : 0;
  const int channels = native ? layout.nb_channels : 0;
  av_channel_layout_uninit(&layout);
  if (!native) return Fail(this, llError, StrFormat("Unknown channel layout: %s", arg.c_str()));
  const int ret = OfferFileOption(opt, StrFormat("%llu", static_cast<unsigned long long>(mask)));
  if (ret < 0) return ret;
  return ParseOption(o, "ac" + SpecifierSuffix(opt), StrFormat("%d", channels));
}

int TCustomFFmpegOpt::OptDeinterlace(TFileOptions*, const std::string& opt, const std::string&) {
  LogFmt(this, llWarning, "-%s is deprecated, use -filter:v yadif instead", opt.c_str());
  DoDeinterlace = 1;
  return 0;
}

int TCustomFFmpegOpt::OptVStats(TFileOptions*, const std::string&, const std::string&) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  VstatsFileName = StrFormat("vstats_%02d%02d%02d.log", local.tm_hour, local.tm_min, local.tm_sec);
  return 0;
}

int TCustomFFmpegOpt::OptVStatsFile(TFileOptions*, const std::string&, const std::string& arg) {
  VstatsFileName = arg;
  return 0;
}

int TCustomFFmpegOpt::OptVideoChannel(TFileOptions*, const std::string&, const std::string& arg) {
  Log(this, llWarning, "This option is deprecated, use -channel.");
  return OfferFileOption("channel", arg);
}

int TCustomFFmpegOpt::OptVideoStandard(TFileOptions*, const std::string&, const std::string& arg) {
  Log(this, llWarning, "This option is deprecated, use -standard.");
  return OfferFileOption("standard", arg);
}

int TCustomFFmpegOpt::OptVHook(TFileOptions*, const std::string& opt, const std::string&) {
  return Fail(this, llError, StrFormat("Option \"%s\" needs the video hooks of the transcoding task", opt.c_str()));
}

int TCustomFFmpegOpt::OptVideoHookBitsPixel(TFileOptions*, const std::string& opt, const std::string&) {
  return Fail(this, llError, StrFormat("Option \"%s\" needs the video hooks of the transcoding task", opt.c_str()));
}

// Seconds in the user's number format, forwarded in microseconds.
int TCustomFFmpegOpt::OptSeconds(TFileOptions* o, const std::string& opt, const std::string& arg) {
  double seconds = 0.0;
  try {
    seconds = ParseDouble(opt, arg);
  } catch (const FFmpegException& e) {
    return Fail(this, llError, e.what());
  }
  const double us = std::round(seconds * 1000000.0);
  if (!std::isfinite(us) || us >= 9.2e18 || us <= -9.2e18)
    return Fail(this, llError, StrFormat("\"%s\" is not a valid number of seconds", arg.c_str()));
  return ParseOption(o, ForwardTarget(opt), StrFormat("%lld", static_cast<long long>(us)));
}

}  // namespace vexa
