// Internal steps of OpenOutputFile shared by OutputFiles.cpp,
// StreamMapping.cpp and Metadata.cpp. Each returns 0 or a negative code with
// the engine's LastErrorText set; fatal conditions abort.
#pragma once

#include <string>

#include "FFmpegOpt/FFmpegOpt.h"

namespace vexa::output_detail {

// Binds the unlabeled, still unbound outputs of complex graphs to `oc` and
// disables automatic selection of their media types.
void BindUnlabeledGraphOutputs(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc);

// Index (into InputStreams) of the best video, audio and subtitle stream among
// the streams [first, last) for the automatic selection, or -1.
int BestVideoStream(TCustomFFmpegOpt& e, const AVOutputFormat* format, std::size_t first, std::size_t last);
int BestAudioStream(TCustomFFmpegOpt& e, std::size_t first, std::size_t last);
int FirstSubtitleStream(TCustomFFmpegOpt& e, std::size_t first, std::size_t last);
// Whether subtitles are selected automatically for this format and line.
bool SubtitlesWanted(const TFileOptions& o, const AVOutputFormat* format);
// Whether a stream of this media type is excluded by -vn/-an/-sn/-dn.
bool TypeDisabled(const TFileOptions& o, AVMediaType type);

int AutoSelectStreams(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, bool joinMode);
int MapStreams(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, bool joinMode);
int AddAttachments(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, AVIOInterruptCB readCallback);

// Metadata specifiers and copies.
struct TMetadataSpecifier {
  char Type = 'g';       // 'g', 's', 'c' or 'p'
  bool Empty = true;     // the text was empty
  std::string Stream;    // 's': the stream specifier
  int Index = 0;         // 'c', 'p'
};
int ParseMetadataSpecifier(TCustomFFmpegOpt& e, const std::string& text, TMetadataSpecifier& result);
int CopyMetadata(TCustomFFmpegOpt& e, const std::string& outSpec, const std::string& inSpec,
                 AVFormatContext* oc, AVFormatContext* ic, TFileOptions& o);
int ApplyMetadataMaps(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc);
int CopyChapters(const TInputFile& ifile, const TOutputFile& ofile, AVFormatContext* oc, bool copyMetadata);
int MapChapters(TCustomFFmpegOpt& e, TFileOptions& o, const TOutputFile& ofile, AVFormatContext* oc);
void CopyAutomaticMetadata(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, int fileIndex);
int ApplyMetadataOptions(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc);

}  // namespace vexa::output_detail
