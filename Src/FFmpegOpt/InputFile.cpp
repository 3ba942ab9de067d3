#include "FFmpegOpt/InputFile.h"

#include "Base/ProgramFormats.h"

namespace vexa {

AVMediaType TInputStream::MediaType() const {
  if (CodecContext && CodecContext->codec_type != AVMEDIA_TYPE_UNKNOWN) return CodecContext->codec_type;
  if (Stream && Stream->codecpar) return Stream->codecpar->codec_type;
  return AVMEDIA_TYPE_UNKNOWN;
}

int TInputStream::Channels() const {
  if (CodecContext && CodecContext->ch_layout.nb_channels > 0) return CodecContext->ch_layout.nb_channels;
  if (Stream && Stream->codecpar) return Stream->codecpar->ch_layout.nb_channels;
  return 0;
}

TInputFile::~TInputFile() {
  if (!FormatContext) return;
  if (ProgramFormat) {
    CloseProgramInput(&FormatContext, ProgramFormat);
  } else if (FormatContext->iformat) {
    avformat_close_input(&FormatContext);
  } else {
    avformat_free_context(FormatContext);  // allocated, never opened
    FormatContext = nullptr;
  }
}

}  // namespace vexa
