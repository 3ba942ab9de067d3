// Helpers of the encoder component tests: pumping the main-thread queue
// while waiting, and a decoder that reads a written file back to its end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FFEncode/FFEncode.h"

namespace vexa::test {

// Services the main-thread queue until `done` holds or `timeoutMs` passed.
// Returns the final value of `done`.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000);
// Services the main-thread queue for `ms` milliseconds.
void PumpFor(int ms);

struct TReadBack {
  bool Opened = false;
  std::string Format;
  std::vector<std::string> Codecs;  // per stream
  int VideoWidth = 0;
  int VideoHeight = 0;
  int64_t VideoFrames = 0;
  int64_t AudioSamples = 0;
  int AudioSampleRate = 0;
  int DecodeErrors = 0;
  bool ReachedEnd = false;  // av_read_frame ended with end of file
};

// Opens the file and decodes every stream to its end; never throws.
TReadBack ReadBack(const std::string& path);
// A complete file: it opens, reads to its end and decodes without error.
::testing::AssertionResult IsFinishedFile(const TReadBack& AFile);

// Adds a task reading `input` with `inputLine` and writing `output` with
// `outputLine`; returns its index, or the negative result of the failed call
// (the task is removed again when its output fails).
int AddLavfiTask(TFFEncoder& encoder, const std::string& input, const std::string& output,
                 const std::string& inputLine = "-f lavfi", const std::string& outputLine = "-c:v mpeg4 -c:a aac");

// A lavfi test pattern with a sine tone, `seconds` long (0: endless).
// libavdevice's lavfi input leaks a frame when a graph with two outputs is
// closed before its end, so runs that stop early use the video-only source.
std::string LavfiInput(double seconds, int rate = 15);
std::string LavfiVideo(double seconds, int rate = 15);

}  // namespace vexa::test
