// Small text helpers of option processing.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace vexa {

// printf-style formatting into a std::string.
std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same with the arguments as a va_list (left untouched for the caller's va_end).
std::string StrFormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Removes leading and trailing characters up to and including the blank.
std::string TrimText(const std::string& text);

// ASCII case-insensitive equality.
bool SameText(const std::string& a, const std::string& b);

// Strict decimal integer: optional sign, digits, nothing else; within int.
bool TextToInt(const std::string& text, int& value);

// strtol with base 0 (decimal, 0x hexadecimal, leading 0 octal) from the start
// of `text`; the value is clamped to the int range; `end` receives the index
// after the digits read (0 when none were read).
int LeadingInt(const std::string& text, std::size_t& end);

// A -tag value: an integer with its base from the prefix, or, when characters
// are left over, the text's first four bytes as a little-endian value.
uint32_t CodecTagValue(const std::string& text);

// Writes `message` to the media library's error log (a line of its own).
void MediaErrorLog(const std::string& message);

}  // namespace vexa
