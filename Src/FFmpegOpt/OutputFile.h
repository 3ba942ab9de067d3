// Records of outputs: one TOutputFile per output file, one TOutputStream per
// stream of it, kept in the engine's output lists.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FFUtils/FFUtils.h"
#include "FFmpegOpt/CodecContext.h"
#include "FFmpegOpt/FileOptions.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

namespace vexa {

struct TInputStream;
struct TOutputFilter;

struct TBsfContextFree {
  void operator()(AVBSFContext* ctx) const { av_bsf_free(&ctx); }
};
using TBsfContextPtr = std::unique_ptr<AVBSFContext, TBsfContextFree>;

struct TOutputFile {
  // Shared by all output files of a join group; closed and freed by the
  // engine's clean-up.
  AVFormatContext* FormatContext = nullptr;
  TDictionary Options;       // muxer options
  int FirstStreamIndex = 0;  // index of its first stream in the engine's output stream list
  int64_t RecordingTime = NoLimit;
  int64_t StartTime = 0;
  int64_t LimitFileSize = NoLimit;
  int Shortest = 0;
};

struct TOutputStream {
  int FileIndex = 0;    // the output file's index
  int Index = 0;        // index of the library stream in the output context
  int SourceIndex = -1; // feeding input stream, or -1
  AVStream* Stream = nullptr;  // owned by the output context
  TCodecContextPtr CodecContext;  // the encoder context of the stream
  TInputStream* SyncInput = nullptr;
  std::vector<TBsfContextPtr> BitstreamFilters;
  const AVCodec* Encoder = nullptr;
  int64_t MaxFrames = NoLimit;
  AVRational FrameRate{0, 0};
  int ForceFps = 0;
  int TopFieldFirst = -1;
  float FrameAspectRatio = 0.0f;
  std::string ForcedKeyFrames;
  std::array<int, 32> AudioChannelsMap{};
  int AudioChannelsMapped = 0;
  std::string LogFilePrefix;
  TOutputFilter* Filter = nullptr;  // owned by its filter graph
  std::string FilterDescription;
  int64_t SwsFlags = 0;
  TDictionary EncoderOptions;
  TDictionary SwrOptions;
  TDictionary ResampleOptions;
  int Finished = 0;
  int StreamCopy = 0;
  std::string AttachmentFileName;
  int CopyInitialNonKeyframes = 0;
  int CopyPriorStart = -1;
  int KeepPixFmt = 0;

  // --- run state (transcoding task)
  int EncodingNeeded = 0;
  bool EncoderOpened = false;
  bool EncoderClosed = false;
  int64_t FrameNumber = 0;      // frames handed to the muxer (encoded or copied)
  // From the packets' quality side data: last frame's quantiser (lambda
  // units), picture type, per-plane squared errors, and their sums.
  int Quality = -1;             // -1: no coded frame yet
  int PictType = 0;
  std::array<uint64_t, 4> Error{};
  std::array<uint64_t, 4> ErrorSum{};
  int64_t EndPts = AV_NOPTS_VALUE;  // end of the last written packet, stream time base
  bool JoinSegmentDone = false;

  // --- loop state of transcode initialisation, the loop and encoding
  int64_t SyncOpts = 0;                     // next output timestamp, encoder time base
  TAVFramePtr PreviousFrame;                // last video frame encoded, before hooks; fills gaps
  int64_t FirstPts = 0;                     // first output timestamp, encoder time base
  bool Unavailable = false;                 // its inputs answered EAGAIN
  bool Flushed = false;                     // the encoder was drained
  int64_t LastWrittenPts = AV_NOPTS_VALUE;  // stream time base
  int64_t LastWrittenDts = AV_NOPTS_VALUE;  // stream time base
  int64_t LastMuxDts = AV_NOPTS_VALUE;      // dts of the last packet muxed, stream time base
  int64_t CopiedFrames = 0;                 // packets copied so far (stream copy)
  int64_t LastFrameSize = 0;                // bytes of the last encoded video packet
  std::vector<int64_t> ForcedKfPts;         // encoder time base, ascending
  size_t ForcedKfIndex = 0;
  TAVExprPtr ForcedKfExpr;
  std::array<double, 5> ForcedKfExprValues{};  // n, n_forced, prev_forced_n, prev_forced_t, t
  TStdFilePtr LogFile;                      // two-pass log of pass 1
  TAVFramePtr FilteredFrame;
  // Join mode: what the encoder is re-opened with for every segment.
  AVCodecID SavedCodecId = AV_CODEC_ID_NONE;
  TDictionary SavedOptions;
  int SavedMaxBFrames = 0;
  TCodecContextPtr SavedSettings;           // unopened copy of the encoder settings
};

}  // namespace vexa
