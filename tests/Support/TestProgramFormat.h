// Program input formats for tests: small stand-ins for the capture format,
// registered in the program format registry.
//
// "vexatest" has the private options video_size, framerate, sample_rate,
// channels and capture_offset; "vexatest_plain" only video_size and
// sample_rate. Both create a BGRA rawvideo stream of video_size and, when
// channels > 0, an s16 PCM stream, and deliver FramesPerInput video packets
// (and matching audio packets), then end of file.
#pragma once

#include <string>

namespace vexa::test {

// What the last opened test input received.
struct TTestFormatOpen {
  std::string Format;  // "vexatest" or "vexatest_plain"
  std::string Url;
  std::string VideoSize;
  std::string FrameRate;  // empty for vexatest_plain
  int SampleRate = 0;
  int Channels = 0;       // 0 for vexatest_plain
  std::string CaptureOffset;
};

constexpr int FramesPerInput = 5;

// Registers both formats (once; later calls do nothing).
void RegisterTestProgramFormats();

TTestFormatOpen LastTestFormatOpen();
int TestFormatOpenCount();   // header reads so far
int TestFormatCloseCount();  // closes so far

}  // namespace vexa::test
