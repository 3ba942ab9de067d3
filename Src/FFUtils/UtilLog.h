// Logging helpers shared by the option helper sources.
#pragma once

#include <string>

#include "FFLog/FFLog.h"

namespace vexa {
namespace utils_detail {

// Logs one message through the engine's logger; a single trailing line feed
// (the media-library message style) is dropped, the logger delivers lines.
void LogLine(TLogLevel level, std::string text);
void LogLineFmt(TLogLevel level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// printf-style formatting into a std::string.
std::string FormatText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace utils_detail
}  // namespace vexa
