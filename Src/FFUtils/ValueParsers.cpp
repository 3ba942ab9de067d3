#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "FFLog/FFLog.h"
#include "FFUtils/FFUtils.h"
#include "FFUtils/UtilLog.h"

extern "C" {
#include <libavutil/parseutils.h>
}

namespace vexa {

using utils_detail::FormatText;

namespace {

std::atomic<char> DecimalSeparatorValue{'.'};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A separator that cannot be mistaken for a part of the number syntax.
bool UsableSeparator(char separator) {
  const unsigned char c = static_cast<unsigned char>(separator);
  return c > ' ' && c < 0x7f && !IsDigit(separator) && separator != '+' && separator != '-' &&
         separator != 'e' && separator != 'E';
}

// Strict whole-text decimal integer: [+|-]digits.
template <typename T>
bool ReadInteger(const std::string& text, T& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first == last) return false;
  // from_chars takes a '-' itself but no '+'; a digit must follow either sign.
  if (*first == '+') ++first;
  const char* digits = (first != last && *first == '-' && first == text.data()) ? first + 1 : first;
  if (digits == last || !IsDigit(*digits)) return false;
  const std::from_chars_result r = std::from_chars(first, last, value, 10);
  return r.ec == std::errc() && r.ptr == last;
}

// Strict whole-text decimal number with the given decimal separator:
// [+|-] digits [sep digits] [(e|E) [+|-] digits], at least one mantissa digit.
bool ReadDouble(const std::string& text, char separator, double& value) {
  std::string normal;
  normal.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') normal += '-';
    ++i;
  }
  size_t mantissaDigits = 0;
  while (i < n && IsDigit(text[i])) normal += text[i++], ++mantissaDigits;
  if (i < n && text[i] == separator) {
    normal += '.';
    ++i;
    while (i < n && IsDigit(text[i])) normal += text[i++], ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) normal += text[i++];
    size_t expDigits = 0;
    while (i < n && IsDigit(text[i])) normal += text[i++], ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != n) return false;
  const char* last = normal.data() + normal.size();
  const std::from_chars_result r =
      std::from_chars(normal.data(), last, value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == last && std::isfinite(value);
}

[[noreturn]] void Expected(const char* kind, const std::string& optionName,
                           const std::string& text) {
  throw FFmpegException(FormatText("Expected %s for \"%s\" but found \"%s\"", kind,
                                   optionName.c_str(), text.c_str()));
}

}  // namespace

void SetDecimalSeparator(char separator) {
  if (!UsableSeparator(separator))
    throw std::invalid_argument("SetDecimalSeparator: unusable decimal separator");
  DecimalSeparatorValue.store(separator);
}

char DecimalSeparator() { return DecimalSeparatorValue.load(); }

char UserDecimalSeparator() {
  locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (!user) return '.';
  const char* point = nl_langinfo_l(RADIXCHAR, user);
  const char separator = point && std::strlen(point) == 1 ? point[0] : '.';
  freelocale(user);
  return UsableSeparator(separator) ? separator : '.';
}

int ParseInt(const std::string& optionName, const std::string& text) {
  int value = 0;
  if (!ReadInteger(text, value)) Expected("integer", optionName, text);
  return value;
}

int64_t ParseInt64(const std::string& optionName, const std::string& text) {
  int64_t value = 0;
  if (!ReadInteger(text, value)) Expected("int64", optionName, text);
  return value;
}

float ParseFloat(const std::string& optionName, const std::string& text) {
  double value = 0;
  if (!ReadDouble(text, DecimalSeparator(), value) || std::fabs(value) > 3.4028234663852886e38)
    Expected("float", optionName, text);
  return static_cast<float>(value);
}

double ParseDouble(const std::string& optionName, const std::string& text) {
  double value = 0;
  if (!ReadDouble(text, DecimalSeparator(), value)) Expected("double", optionName, text);
  return value;
}

const char* const InvalidTimeFormat = "Invalid %s spe" "cification for \"%s\": \"%s\"";

int64_t ParseTime(const std::string& optionName, const std::string& text, bool isDuration) {
  int64_t us = 0;
  if (av_parse_time(&us, text.c_str(), isDuration ? 1 : 0) < 0)
    throw FFmpegException(FormatText(InvalidTimeFormat, isDuration ? "duration" : "date",
                                     optionName.c_str(), text.c_str()));
  return us;
}

// ---------------------------------------------------------------------------
// Log-level option

namespace {

struct TLevelName {
  const char* Name;
  int Level;
};

constexpr TLevelName LevelNames[] = {
    {"quiet", -8},   {"panic", 0},    {"fatal", 8},    {"error", 16},
    {"warning", 24}, {"info", 32},    {"verbose", 40}, {"debug", 48},
};

}  // namespace

int SetLogLevelOption(const std::string& text) {
  for (const TLevelName& l : LevelNames) {
    if (text == l.Name) {
      GetFFLogger().SetLogLevel(MediaToLogLevel(l.Level));
      return 0;
    }
  }

  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(start, &end, 10);
  if (end != start && *end == '\0' && text.find('\0') == std::string::npos) {
    const long clamped = number < INT_MIN ? INT_MIN : (number > INT_MAX ? INT_MAX : number);
    GetFFLogger().SetLogLevel(MediaToLogLevel(static_cast<int>(clamped)));
    return 0;
  }

  std::string message =
      FormatText("Invalid loglevel \"%s\". Possible levels are numbers or:\r\n", text.c_str());
  for (const TLevelName& l : LevelNames) message += FormatText("\"%s\"\r\n", l.Name);
  SetOptionErrorText(message);

  std::string logged;
  logged.reserve(message.size());
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
    logged += message[i];
  }
  utils_detail::LogLine(llError, logged);
  return AVERROR(EINVAL);
}

}  // namespace vexa
