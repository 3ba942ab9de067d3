#include "FFmpeg/TaskDecoder.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vexa {

int TFFDecoder::StreamCount() const { return Context_ ? static_cast<int>(Context_->nb_streams) : 0; }

int64_t TFFDecoder::Duration() const {
  if (!Context_ || Context_->duration == AV_NOPTS_VALUE) return -1;
  return Context_->duration;
}

std::string TFFDecoder::FormatName() const {
  return Context_ && Context_->iformat && Context_->iformat->name ? Context_->iformat->name : "";
}

std::string TFFDecoder::FileName() const { return Context_ && Context_->url ? Context_->url : ""; }

}  // namespace vexa
