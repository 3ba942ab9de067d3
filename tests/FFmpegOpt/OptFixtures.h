// Shared fixtures of the option-processing tests: a stand-in for the capture
// input format's option class, and hand-made input records.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "Support/LogRecorder.h"

namespace vexa::test {

// Registers, once, a program input format "gdicapture" whose option class has
// capture_offset (string) and capture_flags (flags: showframe, client, cursor).
void RegisterTestCaptureFormat();

// The engine with its protected parts reachable from tests.
class TTestEngine : public TCustomFFmpegOpt {
 public:
  TTestEngine() { BuildOptionTable(); }
  using TCustomFFmpegOpt::OfferFileOption;
};

struct TStreamSpec {
  AVMediaType Type = AVMEDIA_TYPE_VIDEO;
  int Channels = 0;                 // audio
  AVRational DecoderTimeBase{0, 1};  // video: the decoder context's time base
  AVRational StreamRate{0, 0};      // video: the demuxer's frame rate
};

// Appends an input file with the given streams (a format context made by hand,
// with a decoder context per stream) to the engine's input lists.
void AddInput(TCustomFFmpegOpt& engine, const std::vector<TStreamSpec>& streams);

// Base fixture: logger at debug level with a recorder, a fresh engine and file
// options prepared with InitFileOptions.
class OptTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  int Parse(const std::string& line, const std::string& label = "output file");
  const char* CodecOption(const char* key) const;
  const char* FormatOption(const char* key) const;

  TLogRecorder Recorder{llDebug, TMediaLog::Hook};
  TTestEngine Engine;
  TFileOptions O;
};

}  // namespace vexa::test
