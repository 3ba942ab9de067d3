// Helpers of the encoder component tests: pumping the main-thread queue
// while waiting, and a decoder that reads a written file back to its end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// A lavfi test pattern with a sine tone, `seconds` long (0: endless).
// libavdevice's lavfi input leaks a frame when a graph with two outputs is
// closed before its end, so runs that stop early use the video-only source.
std::string LavfiInput(double seconds, int rate = 15);
std::string LavfiVideo(double seconds, int rate = 15);

}  // namespace vexa::test
