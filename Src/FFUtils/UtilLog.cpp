#include "FFUtils/UtilLog.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace vexa {
namespace utils_detail {

void LogLine(TLogLevel level, std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  Log(nullptr, level, text);
}

namespace {

std::string FormatV(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    text.assign(buf.data(), static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

std::string FormatText(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  return text;
}

void LogLineFmt(TLogLevel level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  LogLine(level, std::move(text));
}

}  // namespace utils_detail
}  // namespace vexa
