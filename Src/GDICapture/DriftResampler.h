// Interleaved PCM (s16 or u8, any channel count) read at a fractional
// position that moves by a given step per output frame: a band-limited
// interpolator (windowed sinc) for steps near 1, so that sound can be
// stretched or squeezed by fractions of a percent without a click. The
// position is an absolute input frame index; frames before it that the
// filter no longer needs are let go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexa {

class TDriftResampler {
 public:
  static constexpr int kTaps = 48;       // filter length in input frames
  static constexpr int kPhases = 256;    // tabulated fractional positions
  static constexpr double kCutoff = 0.45;  // of the sample rate

  TDriftResampler(int channels, int bitsPerSample);

  // Appends whole frames of PCM (a trailing partial frame is kept for the
  // next call); nullptr appends `bytes` of silence.
  void Append(const uint8_t* data, size_t bytes);
  // Index of the frame after the last appended one.
  int64_t InputEnd() const { return Base_ + static_cast<int64_t>(Samples_.size()) / Channels_; }
  // Input position of the next output frame.
  double Position() const { return static_cast<double>(Whole_) + Frac_; }
  // Moves the position forward by `frames` without output (a cut).
  void Skip(double frames);
  // Writes output frames at the position, advancing by `step` after each,
  // while the input reaches the filter's end; returns the frames written.
  size_t Produce(double step, uint8_t* out, size_t maxFrames);

  int BytesPerFrame() const { return BytesPerFrame_; }
  uint8_t SilenceByte() const { return BitsPerSample_ == 8 ? 0x80 : 0; }

 private:
  float Sample(int64_t frame, int channel) const;
  void Release();

  int Channels_;
  int BitsPerSample_;
  int BytesPerFrame_;
  std::vector<float> Table_;      // (kPhases + 1) x kTaps coefficients
  std::vector<float> Samples_;    // interleaved, from frame Base_ on
  int64_t Base_ = 0;
  std::vector<uint8_t> Partial_;  // bytes of an incomplete frame
  int64_t Whole_ = 0;             // position = Whole_ + Frac_, 0 <= Frac_ < 1
  double Frac_ = 0;
  std::vector<float> Taps_;       // interpolated coefficients of one output frame
  std::vector<float> Acc_;        // one output frame, per channel
};

}  // namespace vexa
