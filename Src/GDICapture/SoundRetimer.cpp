#include "GDICapture/SoundRetimer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexa {

namespace {

constexpr double kLatencySmoothing = 0.02;  // per delivery: about a second at 10 ms deliveries

}  // namespace

TSoundRetimer::TSoundRetimer(int sampleRate, int channels, int bitsPerSample)
    : UsPerFrame_(1e6 / std::max(sampleRate, 1)),
      Clock_(sampleRate),
      Resampler_(channels, bitsPerSample) {}

void TSoundRetimer::Add(const uint8_t* data, size_t bytes, int64_t now, int64_t latencyUs) {
  Resampler_.Append(data, bytes);
  Clock_.Note(now, Resampler_.InputEnd());
  const double latency = static_cast<double>(latencyUs);
  Latency_ = Anchored_ ? Latency_ + kLatencySmoothing * (latency - Latency_) : latency;

  // When the sound of the next output frame was recorded, against the time
  // its place in the output stands for.
  const double recorded = Clock_.TimeOf(Resampler_.Position()) - Latency_;
  const double due = static_cast<double>(OutputFrames_ + SilenceDue_) * UsPerFrame_;
  double error = recorded - (Start_ + due);
  PhaseErrorUs_ = error;
  if (!Anchored_ || JumpsAllowed_) {
    Start_ = recorded - due;
    Anchored_ = true;
    error = 0;
  } else if (std::fabs(error) > kHardStepUs) {
    // Recorded later than its place: sound was lost, silence fills its
    // time. Earlier: the sound before its place is cut.
    if (error > 0) SilenceDue_ += std::llround(error / UsPerFrame_);
    else Resampler_.Skip(-error / UsPerFrame_ * Clock_.RateRatio());
    ++HardSteps_;
    error = 0;
  }
  // Sound recorded later than its place is played more slowly until the
  // places catch up, and the other way round.
  // While the clock's fit is short, so is the correction (pitch moves little
  // on an early, rough estimate).
  const double limit = kMaxCorrection * Clock_.Trust();
  Step_ = Clock_.RateRatio() - std::clamp(error / kTauUs, -limit, limit);
}

void TSoundRetimer::AddSilence(int64_t from, int64_t upTo) {
  if (!Anchored_) {
    Start_ = static_cast<double>(from);
    Anchored_ = true;
  }
  const double end = Start_ + static_cast<double>(OutputFrames_ + SilenceDue_) * UsPerFrame_;
  if (static_cast<double>(upTo) > end) SilenceDue_ += static_cast<int64_t>((static_cast<double>(upTo) - end) / UsPerFrame_);
}

size_t TSoundRetimer::Read(uint8_t* out, size_t maxFrames) {
  const size_t frameBytes = static_cast<size_t>(Resampler_.BytesPerFrame());
  size_t n = 0;
  if (SilenceDue_ > 0) {
    n = static_cast<size_t>(std::min<int64_t>(SilenceDue_, static_cast<int64_t>(maxFrames)));
    std::memset(out, Resampler_.SilenceByte(), n * frameBytes);
    SilenceDue_ -= static_cast<int64_t>(n);
  }
  n += Resampler_.Produce(Step_, out + n * frameBytes, maxFrames - n);
  OutputFrames_ += static_cast<int64_t>(n);
  return n;
}

int64_t TSoundRetimer::OutputTime(int64_t frame) const {
  return std::llround(Start_ + static_cast<double>(frame) * UsPerFrame_);
}

}  // namespace vexa
