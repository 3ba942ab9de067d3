// Puts recorded sound on the capture clock. The source's own clock runs a
// little fast or slow (tens to hundreds of ppm, more for some devices); left
// alone, sound stamped by counting its frames drifts away from pictures
// stamped by the capture clock. The retimer measures the source's clock
// (TSoundClock) and resamples the sound (TDriftResampler) so that output
// frame k is what was recorded at OutputTime(k) = start + k / nominal rate:
// the output's frame count and its timestamps follow the capture clock
// together.
//
// The step of the resampler is the measured rate ratio plus a correction of
// the remaining phase error that takes it away over kTauUs, at most
// kMaxCorrection: both far below what a listener hears as a change of pitch.
// Until the output counts (AllowJumps), its start is simply re-anchored to
// the clock instead; a phase error beyond kHardStepUs (sound lost or a
// source restarted) is closed at once with silence or a cut.
#pragma once

#include <cstddef>
#include <cstdint>

#include "GDICapture/DriftResampler.h"
#include "GDICapture/SoundClock.h"

namespace vexa {

class TSoundRetimer {
 public:
  static constexpr double kTauUs = 3e6;
  static constexpr double kMaxCorrection = 0.005;
  static constexpr double kHardStepUs = 30000;

  TSoundRetimer(int sampleRate, int channels, int bitsPerSample);

  // `bytes` of PCM (nullptr: silence) arrived at `now`; the last of them was
  // recorded `latencyUs` before it arrived.
  void Add(const uint8_t* data, size_t bytes, int64_t now, int64_t latencyUs);
  // Silence in the output up to capture-clock time `upTo` (when the source
  // is gone); it starts at `from` when nothing came before.
  void AddSilence(int64_t from, int64_t upTo);
  // Writes up to `maxFrames` output frames; returns how many.
  size_t Read(uint8_t* out, size_t maxFrames);

  // While true the output's start follows the clock's estimate directly.
  void AllowJumps(bool allow) { JumpsAllowed_ = allow; }

  // Whether the output has a start yet (after the first Add or AddSilence).
  bool Anchored() const { return Anchored_; }
  // Capture-clock time (us) at which output frame `frame` was recorded; valid
  // once anchored.
  int64_t OutputTime(int64_t frame) const;
  int64_t OutputFrames() const { return OutputFrames_; }
  // The measured rate of the source against its nominal rate (1.001 = 0.1 % fast).
  double RateRatio() const { return Clock_.RateRatio(); }
  // The resampler's step for the next output frames.
  double Step() const { return Step_; }
  // Phase error (us) found by the last Add, before its correction.
  double PhaseErrorUs() const { return PhaseErrorUs_; }
  int HardSteps() const { return HardSteps_; }

 private:
  double UsPerFrame_;
  TSoundClock Clock_;
  TDriftResampler Resampler_;
  bool Anchored_ = false;
  bool JumpsAllowed_ = true;
  double Start_ = 0;  // OutputTime(0), us
  double Latency_ = 0;  // smoothed, us
  int64_t OutputFrames_ = 0;
  int64_t SilenceDue_ = 0;  // output frames of silence still to write
  double Step_ = 1.0;
  double PhaseErrorUs_ = 0;
  int HardSteps_ = 0;
};

}  // namespace vexa
