// Records of opened inputs: one TInputFile per input, one TInputStream per
// stream of it, kept in the engine's input lists.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "FFUtils/FFUtils.h"
#include "FFmpegOpt/CodecContext.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/rational.h>
}

namespace vexa {

struct TProgramInputFormat;
struct TInputFilter;

struct TInputStream {
  int FileIndex = 0;           // index of its TInputFile
  AVStream* Stream = nullptr;  // owned by the file's format context
  // The decoder context of the stream (filled from the stream's parameters).
  TCodecContextPtr CodecContext;
  int Discard = 1;             // 1: not used by any output yet
  int DecodingNeeded = 0;      // outputs and filter inputs that need decoded frames
  const AVCodec* Decoder = nullptr;
  int64_t FilterInRescaleDeltaLast = AV_NOPTS_VALUE;
  double TsScale = 1.0;
  TDictionary DecoderOptions;
  AVRational FrameRate{0, 0};  // forced input frame rate (video)
  int TopFieldFirst = -1;
  int GuessLayoutMax = INT_MAX;
  int ResampleHeight = 0;
  int ResampleWidth = 0;
  int ResamplePixFmt = 0;
  int ResampleSampleFmt = 0;
  int ResampleSampleRate = 0;
  int ResampleChannels = 0;
  int64_t ResampleChannelLayout = 0;
  int FixSubDuration = 0;
  std::vector<TInputFilter*> Filters;  // owned by their filter graphs
  int ReinitFilters = -1;
  bool DecoderClosed = false;  // run state: the decoder was opened and closed again

  // --- run state of the transcoding loop (times in microseconds)
  TAVFramePtr DecodeFrame;
  int64_t Start = 0;                 // wall clock when rate emulation began
  int64_t Dts = 0;                   // current decode time
  int64_t NextDts = AV_NOPTS_VALUE;  // next decode time
  int64_t Pts = 0;                   // current presentation time
  int64_t NextPts = AV_NOPTS_VALUE;  // next presentation time
  bool IsStart = true;
  bool WrapCorrectionDone = false;
  bool SawFirstTs = false;
  bool ShowedMultiPacketWarning = false;
  bool DecoderOpened = false;        // in the task's OpenDecoders
  bool GotOutput = false;            // the last decode call produced a frame
  int HookFrameNumber = 0;           // frames handed to the input hooks
  // Join mode: the stream's input segment has ended.
  bool DecoderFlushed = false;
  bool Released = false;
  // Subtitle bitmaps drawn on a BGRA canvas that feeds a video filter input.
  TAVFramePtr Sub2VideoFrame;        // the canvas; none when the stream has no canvas
  int Sub2VideoW = 0;
  int Sub2VideoH = 0;
  int64_t Sub2VideoLastPts = AV_NOPTS_VALUE;  // stream time base
  int64_t Sub2VideoEndPts = INT64_MAX;        // stream time base
  TSubtitleHolder PrevSub;           // pending subtitle of fix_sub_duration

  // The stream's media type (from the decoder context when there is one).
  AVMediaType MediaType() const;
  // Channel count (decoder context first, then the stream's parameters).
  int Channels() const;
};

// Owns its format context and closes it on destruction (through the program
// format's close when it was opened through the program format registry).
class TInputFile {
 public:
  TInputFile() = default;
  ~TInputFile();
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;

  AVFormatContext* FormatContext = nullptr;
  const TProgramInputFormat* ProgramFormat = nullptr;  // nullptr: a library demuxer
  int EofReached = 0;
  int TryAgain = 0;
  int FirstStreamIndex = 0;  // index of its first stream in the engine's input stream list
  int64_t TsOffset = 0;      // microseconds
  int StreamCount = 0;
  int StreamCountWarned = 0;
  int RateEmulation = 0;
  int Reserved = 0;  // used by the transcoding loop
};

}  // namespace vexa
