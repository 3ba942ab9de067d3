// Helpers of the capture tests: log capture, an opened capture input, X test
// windows with known content, pixel access to raw frames, and a PCM player on
// the test sink.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GDICapture/CaptureContext.h"
#include "GDICapture/CaptureFormat.h"
#include "Support/LogRecorder.h"

struct _XDisplay;
struct _XGC;

namespace vexa::test {

using XWindowId = unsigned long;

bool HaveDisplay();
bool HaveSound();

#define VEXA_REQUIRE_DISPLAY() \
  if (!::vexa::test::HaveDisplay()) GTEST_SKIP() << "no DISPLAY (run under scripts/test-env.sh)"
#define VEXA_REQUIRE_SOUND() \
  if (!::vexa::test::HaveSound()) GTEST_SKIP() << "no PULSE_SERVER (run under scripts/test-env.sh)"

// Collects every line the engine logs while it exists.
class TLogCapture {
 public:
  std::vector<std::string> Lines() const { return Recorder_.Messages(); }
  std::vector<std::string> LinesWith(const std::string& part) const { return Recorder_.MessagesWith(part); }
  bool Has(const std::string& part) const { return Recorder_.ContainsText(part); }
  void Clear() { Recorder_.Clear(); }

 private:
  TLogRecorder Recorder_;
};

// An opened "gdicapture" input.
class TCaptureInput {
 public:
  TCaptureInput() = default;
  ~TCaptureInput() { Close(); }
  TCaptureInput(const TCaptureInput&) = delete;
  TCaptureInput& operator=(const TCaptureInput&) = delete;

  int Open(const std::string& url, const std::map<std::string, std::string>& options);
  void Close();
  AVFormatContext* Format() const { return S_; }
  TCaptureContext& Context() const;
  int Read(AVPacket* pkt);

  // Reads until `stop` says so (checked after every read, with the packets so
  // far) or `maxMs` passed; EAGAIN results are retried. (The capture's
  // packet owner is spelled out: vexa::test has a TPacketPtr of its own.)
  std::vector<::vexa::TPacketPtr> ReadUntil(
      const std::function<bool(const std::vector<::vexa::TPacketPtr>&)>& stop, int maxMs);
  // Reads every packet for `ms` milliseconds.
  std::vector<::vexa::TPacketPtr> ReadFor(int ms);

 private:
  AVFormatContext* S_ = nullptr;
};

// Packets of one stream.
std::vector<const AVPacket*> OfStream(const std::vector<::vexa::TPacketPtr>& packets, int index);

// 0xRRGGBB of pixel (x, y) of a BGR0 frame of `width` pixels.
uint32_t PixelAt(const AVPacket* frame, int width, int x, int y);

// A top-level X window on its own connection, filled with one colour,
// optionally with a defined cursor; drawing goes through an off-screen
// pixmap so that every update reaches the screen in one request.
class TTestWindow {
 public:
  TTestWindow(int x, int y, int width, int height, uint32_t rgb, XWindowId parent = 0);
  ~TTestWindow();
  TTestWindow(const TTestWindow&) = delete;
  TTestWindow& operator=(const TTestWindow&) = delete;

  XWindowId Id() const { return Window_; }
  _XDisplay* XDisplay() const { return Display_; }
  void Fill(uint32_t rgb);
  // A 1-pixel magenta border around the window and `value` as 8 blocks of
  // 16x16 pixels at (8 + 20 i, 8): bit set = white, clear = dark grey.
  void DrawCounter(int value);
  void Move(int x, int y);
  // A cursor of size x size pixels in `rgb`, hot spot (hot, hot).
  void SetSolidCursor(uint32_t rgb, int size, int hot);
  void Sync();

  static constexpr uint32_t kMagenta = 0xff00ff;
  static constexpr uint32_t kWhite = 0xffffff;
  static constexpr uint32_t kGrey = 0x404040;

 private:
  unsigned long Pixel(uint32_t rgb);
  void Present();

  _XDisplay* Display_ = nullptr;
  XWindowId Window_ = 0;
  XWindowId Back_ = 0;
  _XGC* Gc_ = nullptr;
  int Width_, Height_;
};

// Decodes the counter of TTestWindow::DrawCounter from a frame whose pixel
// (ox, oy) is the window's top-left; -1 when a block is neither colour.
int ReadCounter(const AVPacket* frame, int frameWidth, int ox, int oy);

// Moves the pointer to (x, y) with XTest and waits until the server has it.
void MovePointer(int x, int y);

// Grabs the X server for `ms` milliseconds: every other client, the
// grabber included, stands still meanwhile.
void StallDisplay(int ms);

// The screen size.
void ScreenSize(int& width, int& height);

// Threads of this process.
int ThreadCount();

// Plays s16 stereo PCM into the test sink from its own thread: silence,
// except while a tone has been asked for.
class TTonePlayer {
 public:
  explicit TTonePlayer(int rate = 44100);
  ~TTonePlayer();
  // Plays a sine of `hz` for `ms` from the next chunk on; returns the
  // microsecond time (av_gettime) at which its first sample will be heard.
  int64_t Beep(double hz, int ms);
  // Plays a sine of `hz` until Silence().
  void Tone(double hz);
  void Silence();
  bool Ok() const { return Ok_; }

 private:
  void Run();

  int Rate_;
  std::atomic<bool> Quit_{false};
  std::atomic<bool> Ok_{false};
  std::mutex Lock_;
  std::condition_variable Changed_;
  double Hz_ = 0;
  int64_t RemainingFrames_ = 0;  // < 0: endless
  bool BeepPending_ = false;
  int64_t BeepTime_ = 0;
  bool BeepDone_ = false;
  std::thread Thread_;
};

// The one player of the test program: it starts with the first use and
// plays until the program ends, so that the sink's latency stays settled
// (a null sink re-tunes its latency whenever its last stream leaves).
TTonePlayer& SharedPlayer();

// Samples of interleaved s16 stereo packets, left channel only.
std::vector<int16_t> LeftChannel(const std::vector<const AVPacket*>& packets);

// Frequency by zero crossings of the rising kind.
double MeasureFrequency(const std::vector<int16_t>& samples, int rate);

}  // namespace vexa::test
