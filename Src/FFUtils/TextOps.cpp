#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "FFUtils/FFUtils.h"
#include "FFUtils/UtilLog.h"

namespace vexa {

using utils_detail::FormatText;

std::string TsText(int64_t ts) {
  if (ts == AV_NOPTS_VALUE) return "NOPTS";
  return std::to_string(ts);
}

std::string TsTimeText(int64_t ts, AVRational timeBase) {
  if (ts == AV_NOPTS_VALUE) return "NOPTS";
  const double value = static_cast<double>(ts) * timeBase.num / timeBase.den;
  char buf[64];
  const std::to_chars_result r =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  return std::string(buf, r.ptr);
}

std::string TimeText(int64_t microseconds) {
  if (microseconds == AV_NOPTS_VALUE) return "N/A";
  // Negative times keep their sign in front of the magnitude's text.
  const bool negative = microseconds < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(microseconds)
                                      : static_cast<uint64_t>(microseconds);
  const uint64_t t = magnitude + 5000;
  const uint64_t seconds = t / 1000000;
  const unsigned ms = static_cast<unsigned>((t % 1000000) / 1000);
  return FormatText("%s%.2llu:%.2u:%.2u.%.3u", negative ? "-" : "",
                    static_cast<unsigned long long>(seconds / 3600),
                    static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60),
                    ms);
}

int TimeZoneBias() {
  tzset();
  return static_cast<int>(timezone / 60);
}

std::string TimeZoneText() { return TimeZoneText(TimeZoneBias()); }

std::string TimeZoneText(int biasMinutes) {
  if (biasMinutes == 0) return "UTC";
  // The bias is what local time needs to reach UTC: zones east of Greenwich
  // have a negative bias and are written "UTC+hh:mm".
  const long long seconds = std::llabs(static_cast<long long>(biasMinutes)) * 60;
  return FormatText("%s%s%.2lld:%.2lld", "UTC", biasMinutes < 0 ? "+" : "-", seconds / 3600,
                    seconds % 3600 / 60);
}

double UnixToLocal(int64_t unixSeconds) { return UnixToLocal(unixSeconds, TimeZoneBias()); }

double UnixToLocal(int64_t unixSeconds, int biasMinutes) {
  return static_cast<double>(unixSeconds) / 86400.0 + 25569.0 - biasMinutes / 1440.0;
}

std::string DateTimeText(double dateTime) {
  const double seconds = std::round((dateTime - 25569.0) * 86400.0);
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) return std::string();
  const time_t t = static_cast<time_t>(seconds);
  struct tm parts {};
  if (!gmtime_r(&t, &parts)) return std::string();
  return FormatText("%.4d-%.2d-%.2d %.2d:%.2d:%.2d", parts.tm_year + 1900, parts.tm_mon + 1,
                    parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
}

int64_t FrameDuration(int num, int den) {
  if (num == 0 || den == 0) return 1000000 / 25;
  return static_cast<int64_t>(1000000) * den / num;
}

std::string MediaTypeName(int mediaType) {
  switch (mediaType) {
    case AVMEDIA_TYPE_VIDEO: return "Video";
    case AVMEDIA_TYPE_AUDIO: return "Audio";
    case AVMEDIA_TYPE_DATA: return "Data";
    case AVMEDIA_TYPE_SUBTITLE: return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT: return "Attachment";
    default: return "Unknown";
  }
}

std::string SplitFirst(std::string& text, const std::string& delimiter, bool remove) {
  const std::string::size_type pos = delimiter.empty() ? std::string::npos : text.find(delimiter);
  if (pos == std::string::npos) {
    std::string first = text;
    if (remove) text.clear();
    return first;
  }
  std::string first = text.substr(0, pos);
  if (remove) text.erase(0, pos + delimiter.size());
  return first;
}

}  // namespace vexa
