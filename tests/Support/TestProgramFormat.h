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

extern "C" {
#include <libavutil/opt.h>
}

namespace vexa::test {

// The option class of a test format's private data (its first member is the
// class pointer): `name`, `options`, the default item name.
inline AVClass TestOptionClass(const char* name, const AVOption* options,
                               AVClassCategory category = AV_CLASS_CATEGORY_NA) {
  AVClass c{};
  c.class_name = name;
  c.item_name = av_default_item_name;
  c.option = options;
  c.version = LIBAVUTIL_VERSION_INT;
  c.category = category;
  return c;
}

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
