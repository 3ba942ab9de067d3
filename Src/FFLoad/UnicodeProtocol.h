// File names handed to the media libraries.
//
// Linux file names are UTF-8 and the libraries' file protocol opens them as
// they are, so both conversions keep the name unchanged and the "unicode"
// protocol is not registered (the libraries offer no public way to add a
// protocol). The conversions return their result by value, so threads never
// share a buffer.
#pragma once

#include <string>

namespace vexa {

// Run by the loader each time avformat is bound; records that the "unicode"
// protocol is not available.
void RegisterUnicodeProtocol();
bool UnicodeProtocolAvailable();

// True when the name's extension (after the last ".", any case) is one the
// libraries read as a still image (png, jpg, bmp, ...).
bool IsImageName(const std::string& FileName);

// The name as the libraries take it (UTF-8).
std::string ToMediaFileName(const std::string& FileName);
// A name from the libraries as the engine's text (UTF-8).
std::string FromMediaFileName(const std::string& MediaName);

}  // namespace vexa
