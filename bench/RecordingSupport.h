// Shared parts of the recording benchmarks: a moving picture on the display,
// the recorder's option lines for each profile, one whole recording through
// the encoder component with the figures its log and the process give, and
// the CPU and memory readers.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vexabench {

// A full-screen window with a square crossing it, redrawn at `fps`. The same
// picture is available without a display through DrawMovingPicture.
class TMovingPicture {
 public:
  explicit TMovingPicture(int fps);
  ~TMovingPicture();
  TMovingPicture(const TMovingPicture&) = delete;
  TMovingPicture& operator=(const TMovingPicture&) = delete;
  bool Ok() const { return Display_ != nullptr; }
  int Width() const { return Width_; }
  int Height() const { return Height_; }

 private:
  Display* Display_ = nullptr;
  Window Window_ = 0;
  GC Gc_ = nullptr;
  int Width_ = 0, Height_ = 0;
  std::atomic<bool> Quit_{false};
  std::thread Thread_;
};

// Where the square of frame `n` stands and its colour (0xRRGGBB); the
// background is kMovingPictureBackground.
struct TSquare {
  int X, Y, Size;
  unsigned long Colour;
};
constexpr unsigned long kMovingPictureBackground = 0x203040;
TSquare MovingSquare(long n, int width, int height);

// The recorder's profiles, in the order of its format list.
enum TProfile { pfMp4, pfSwf, pfFlv, pfWmv, pfMkv, pfAvi, pfWebm, pfCount };
const char* ProfileName(TProfile p);
const char* ProfileExtension(TProfile p);

// The recorder's lines for a whole-screen recording of `size` ("WxH") at
// `rate`, quality index 6 and 768k, one thread per processor.
std::string RecorderInputLine(const std::string& size, int rate, bool audio);
std::string RecorderOutputLine(TProfile p, const std::string& size, bool audio, bool realTime);

struct TRecordingFigures {
  bool Failed = false;
  std::string Error;
  double Recorded = 0;  // seconds from the first read to the stop request
  double Due = 0;       // frames due in that time
  int Written = 0;
  int Lost = 0;          // "We lost N frames" before the stop
  int GrabberDrops = 0;  // "real-time buffer ... frame dropped!"
  int Drop = 0, Dup = 0; // the constant-rate output
  double Cpu = 0;        // process CPU seconds of the run
  double XCpu = 0;       // the X server's, when it is this session's Xvfb
  double Wall = 0;
  long PeakKb = 0;       // peak resident memory during the run
  long RssEarlyKb = 0;   // resident memory a quarter into the recording
  long RssLateKb = 0;    // and just before the stop
  std::string FinalLine;
};

// Records the whole screen with the profile's lines for `seconds`.
TRecordingFigures Record(TProfile p, const std::string& size, int rate, double seconds, bool audio, bool realTime);

// CPU seconds of this process (all threads).
double ProcessCpuSeconds();
std::string LoadAverage();

}  // namespace vexabench
