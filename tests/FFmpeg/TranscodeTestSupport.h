// Helpers of the transcoding tests: a task whose inputs and outputs are opened
// from option lines, runs inline, and a decoder that reads the result back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"
#include "Support/LogRecorder.h"
#include "Support/MediaFixtures.h"

namespace vexa::test {

// lavfi input texts: a test pattern, and a sine tone, `seconds` long. (Each
// input has one stream: lavfi leaks buffered frames of multi-output graphs
// closed before their end.)
std::string LavfiVideo(int width, int height, int fps, double seconds);
std::string LavfiAudio(int sampleRate, int channels, double seconds);

// Records the logger's lines, the media library's included, while it exists.
class TTranscodeLog {
 public:
  bool Contains(const std::string& part) const { return Recorder_.ContainsText(part); }
  int Count(const std::string& part) const { return Recorder_.CountContaining(part); }
  std::string Text() const { return Recorder_.Text(); }

 private:
  TLogRecorder Recorder_{llDebug, TMediaLog::Hook};
};

class TTestTask : public TCustomFFmpeg {
 public:
  TTestTask();
  // Opens an input; fails the test (returns false) when it cannot.
  bool AddInput(const std::string& name, const std::string& line);
  // A lavfi video input and, with sampleRate > 0, a lavfi audio input.
  bool AddLavfi(int width, int height, int fps, double seconds, int sampleRate = 0, int channels = 2);
  // Opens an output; returns the OpenOutputFile result.
  int AddOutput(const std::string& file, const std::string& line, bool join = false);
  // Runs inline; the termination record tells how it ended.
  void RunInline();
};

// The stream's description (see DescribeStream) and what decoding it gave.
struct TDecodedStream : TStreamInfo {
  TDecodedStream() = default;
  explicit TDecodedStream(TStreamInfo info) : TStreamInfo(std::move(info)) {}
  int64_t Frames = 0;          // decoded video frames / audio frames
  int64_t Samples = 0;         // decoded audio samples
  int64_t Packets = 0;
  int DecodeErrors = 0;
  double FirstPts = -1, LastPts = -1;  // seconds, of decoded frames (best effort)
  double PacketEnd = 0;                // seconds: largest packet pts + duration
  std::vector<double> FramePts;        // seconds, video only
  std::vector<int> KeyFrames;          // indices of key frames (video)
};

struct TDecodedFile {
  std::string Format;
  int64_t Size = 0;
  std::vector<TDecodedStream> Streams;
  const TDecodedStream* First(int type) const;
};

// Opens, reads and decodes the whole file. Throws std::runtime_error when
// the file cannot be opened.
TDecodedFile DecodeFile(const std::string& path);

// The RGB24 pixel at (x, y) of video frame `index` (0-based) of the file.
struct TRgb {
  int R = 0, G = 0, B = 0;
};
TRgb PixelAt(const std::string& path, int index, int x, int y);

// Writes a solid-colour PNG picture.
void WritePng(const std::string& path, int width, int height, TRgb colour);

// Writes raw BGRA video (a moving pattern) of `frames` frames.
void WriteRawBgra(const std::string& path, int width, int height, int frames);

}  // namespace vexa::test
