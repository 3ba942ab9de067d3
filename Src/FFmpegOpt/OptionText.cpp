#include "FFmpegOpt/OptionText.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

namespace vexa {

uint32_t CodecTagValue(const std::string& text) {
  char* tail = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &tail, 0);
  if (!text.empty() && tail && *tail == '\0') return static_cast<uint32_t>(value);
  uint32_t tag = 0;
  for (std::size_t i = 0; i < 4 && i < text.size(); ++i)
    tag |= static_cast<uint32_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  return tag;
}

std::string StrFormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (n > 0) {
    result.resize(static_cast<std::size_t>(n) + 1);
    va_copy(copy, args);
    std::vsnprintf(result.data(), result.size(), format, copy);
    va_end(copy);
    result.resize(static_cast<std::size_t>(n));
  }
  return result;
}

std::string StrFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = StrFormatV(format, args);
  va_end(args);
  return result;
}

std::string TrimText(const std::string& text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool TextToInt(const std::string& text, int& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

int LeadingInt(const std::string& text, std::size_t& end) {
  const char* begin = text.c_str();
  char* stop = nullptr;
  errno = 0;
  const long v = std::strtol(begin, &stop, 0);
  end = static_cast<std::size_t>(stop - begin);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

void MediaErrorLog(const std::string& message) { av_log(nullptr, AV_LOG_ERROR, "%s\n", message.c_str()); }

}  // namespace vexa
