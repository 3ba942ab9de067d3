// The clock of a sound source, measured against the capture clock: when each
// recorded frame was taken, from the times its data arrived.
//
// Data never arrives before it was recorded, but it often arrives late
// (scheduling, bursts). So the arrival times are reduced to the earliest
// arrival of each one-second block (y = arrival - frames / nominal rate,
// the lower envelope), and a line fitted through the last blocks gives the
// source's real rate and phase. A run of blocks that leaves the line in one
// direction (lost data, a source restarted) starts the fit afresh; blocks
// that may be the start of such a run stay out of the fit until it is
// decided.
#pragma once

#include <cstdint>
#include <deque>

namespace vexa {

class TSoundClock {
 public:
  static constexpr int64_t kBlockUs = 500000;  // one envelope point per block
  static constexpr int kWindowBlocks = 60;       // the fit spans up to this many
  static constexpr double kStepUs = 4000;        // a run this far off the line is a step
  static constexpr int kStepRun = 6;  // three seconds: a busy machine can hold arrivals back for less
  static constexpr double kMaxSkew = 0.03;       // a rate beyond +-3 % is not believed

  explicit TSoundClock(int sampleRate);

  // `frames` frames have arrived in all by `now` (capture clock, us).
  void Note(int64_t now, int64_t frames);
  bool Valid() const { return Valid_; }

  // The capture-clock time (us) at which frame `frame` was recorded, and the
  // inverse. Both need Valid().
  double TimeOf(double frame) const;
  double FrameAt(double time) const;
  // Frames recorded per nominal frame time: 1.001 for a source 0.1 % fast.
  double RateRatio() const;
  // How far the fit can be trusted yet, from 0.1 (a short span) to 1.
  double Trust() const { return Trust_; }
  // Blocks dropped because the source stepped (for diagnostics).
  int Steps() const { return Steps_; }

 private:
  struct TPoint {
    double X;  // frames
    double Y;  // arrival - frames / nominal rate, us since the epoch
  };
  void CloseBlock();
  void JudgeNewest();
  void Fit();

  double UsPerFrame_;
  bool Valid_ = false;
  int64_t Epoch_ = 0;        // the first arrival; times are kept relative to it
  int64_t BlockStart_ = 0;   // arrival time that opened the current block
  bool BlockOpen_ = false;
  TPoint BlockMin_{0, 0};    // earliest (lowest y) arrival of the open block
  std::deque<TPoint> Points_;
  int Suspects_ = 0;         // newest points kept out of the fit for now
  double PriorSlope_ = 0;    // us per frame, from the last long fit
  bool HasPrior_ = false;
  double Slope_ = 0;         // fitted y = Intercept_ + Slope_ * x
  double Intercept_ = 0;
  double Trust_ = 0.1;
  int Steps_ = 0;
};

}  // namespace vexa
