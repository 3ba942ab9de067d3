// The decoder component: one per input of a task, bound to the input's
// opened format context so that the input can be inspected (format, duration,
// streams) without touching the transcoding records. It never owns or
// changes the context; the task that opened the input closes it.
#pragma once

#include <cstdint>
#include <string>

#include "Base/FFBaseComponent.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vexa {

struct TStreamDescription {
  int Index = 0;
  AVMediaType MediaType = AVMEDIA_TYPE_UNKNOWN;
  std::string CodecName;  // "" when the codec id is none
  int Width = 0, Height = 0;
  AVRational FrameRate{0, 1};  // average frame rate (video)
  int SampleRate = 0, Channels = 0;
  int64_t BitRate = 0;
  bool AttachedPicture = false;
};

class TFFDecoder : public TFFBaseComponent {
 public:
  TFFDecoder() = default;
  ~TFFDecoder() override = default;

  // Binds to `context` (nullptr unbinds). The context must outlive the binding.
  void Bind(AVFormatContext* context) { Context_ = context; }
  bool Bound() const { return Context_ != nullptr; }
  AVFormatContext* FormatContext() const { return Context_; }

  // "" when unbound. The demuxer name; program input formats have none.
  std::string FileName() const;
  std::string FormatName() const;
  // Microseconds; -1 when unknown or unbound.
  int64_t Duration() const;
  int64_t StartTime() const;
  int StreamCount() const;
  // The description of stream `index`; a default record for an invalid index.
  TStreamDescription Stream(int index) const;
  // The value of a global metadata key, "" when absent.
  std::string Metadata(const std::string& key) const;

 private:
  AVFormatContext* Context_ = nullptr;
};

}  // namespace vexa
