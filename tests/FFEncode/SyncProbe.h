// Picture/sound sync of long recordings: a square on screen that flashes
// with a fast fade-in (so that the frame grabbed during the fade tells the
// flash's start to a millisecond), a sound source of our own whose clock
// runs fast or slow (a PulseAudio pipe source fed at a skewed rate), and a
// reader that decodes a recording once and keeps only the flash starts and
// beep onsets.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexa::test {

class TTestWindow;

// A black square that fades to white over kRampMs from the start of a
// flash, stays white for kHoldMs and turns black again.
class TFlashSquare {
 public:
  static constexpr int kRampMs = 200;
  static constexpr int kHoldMs = 300;

  TFlashSquare(int x, int y, int size);
  ~TFlashSquare();
  TFlashSquare(const TFlashSquare&) = delete;
  TFlashSquare& operator=(const TFlashSquare&) = delete;

  // Starts a flash at capture-clock time `at` (av_gettime; now or later).
  void FlashAt(int64_t at);

 private:
  void Run();

  std::unique_ptr<TTestWindow> Window_;
  std::atomic<int64_t> Start_{0};
  std::atomic<bool> Quit_{false};
  std::thread Thread_;
};

// What a recording holds for sync: the start of every flash of a square
// (in frame coordinates) and the onset of every beep, in seconds of file time.
struct TSyncMarks {
  bool Opened = false;
  int DecodeErrors = 0;
  int VideoFrames = 0;
  double VideoEnd = 0, AudioEnd = 0;
  std::vector<double> Flashes;
  std::vector<double> Beeps;
  // Largest jump of the tone's phase between neighbouring 20 ms windows
  // while a steady tone plays (radians); -1 when there was none. Windows
  // without the tone between windows with it (sound left out or filled with
  // silence).
  double WorstPhaseJump = -1;
  int ToneGaps = 0;
};
TSyncMarks ReadSyncMarks(const std::string& path, int squareX, int squareY, int squareSize, double toneHz);

// For each flash the beep within 0.5 s of it: beep - flash, seconds; flashes
// without a beep give NaN.
std::vector<double> BeepAfterFlash(const TSyncMarks& marks);

// A PulseAudio pipe source (module-pipe-source) fed from a thread at
// rate x (1 + skew) frames per second of the capture clock: silence, and a
// beep wherever one was asked for. Loaded on construction, unloaded after.
class TSkewedSource {
 public:
  TSkewedSource(double skew, int rate = 44100);
  ~TSkewedSource();
  TSkewedSource(const TSkewedSource&) = delete;
  TSkewedSource& operator=(const TSkewedSource&) = delete;

  bool Ok() const { return Ok_; }
  // Its number in the server's source list (the capture's device number).
  int DeviceNumber() const;
  // A beep of `hz` and `ms` whose first frame is recorded at capture-clock
  // time `at`; at least 30 ms from now.
  void BeepAt(int64_t at, double hz, int ms);
  // A steady tone from now on (0: silence again).
  void Tone(double hz);

 private:
  void Run();

  double Skew_;
  int Rate_;
  bool Ok_ = false;
  std::string Dir_, Fifo_, Name_;
  int Module_ = -1;
  int Fd_ = -1;
  std::mutex Lock_;
  int64_t BeepFrom_ = -1, BeepTo_ = -1;  // frames of the fed stream
  double BeepHz_ = 0, ToneHz_ = 0;
  int64_t Epoch_ = 0;  // capture-clock time of frame 0
  std::atomic<bool> Quit_{false};
  std::thread Thread_;
};

}  // namespace vexa::test
