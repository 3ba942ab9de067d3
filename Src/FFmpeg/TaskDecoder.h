// The library's decoder object: bound to an opened input's format context
// for inspection. The encoder component owns one and each task one per input.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;

namespace vexa {

class TFFDecoder {
 public:
  TFFDecoder() = default;
  TFFDecoder(const TFFDecoder&) = delete;
  TFFDecoder& operator=(const TFFDecoder&) = delete;

  // Binds to a context owned elsewhere (nullptr unbinds).
  void Bind(AVFormatContext* AContext) { Context_ = AContext; }
  AVFormatContext* FormatContext() const { return Context_; }
  bool Bound() const { return Context_ != nullptr; }

  // Inspection of the bound input; neutral values when unbound.
  int StreamCount() const;
  int64_t Duration() const;  // microseconds; -1 unknown
  std::string FormatName() const;
  std::string FileName() const;

 private:
  AVFormatContext* Context_ = nullptr;
};

}  // namespace vexa
