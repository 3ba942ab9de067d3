// The engine's one exception class. Raised by AbortWithError and by the typed
// option parsers; caught by the task, which reports it through its events.
#pragma once

#include <stdexcept>
#include <string>

namespace vexa {

class FFmpegException : public std::runtime_error {
 public:
  explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vexa
