#include "GDICapture/DriftResampler.h"

#include <algorithm>
#include <cmath>

namespace vexa {

namespace {

constexpr int kHalf = TDriftResampler::kTaps / 2;

// Windowed sinc at offset t (input frames) from the output position.
double Kernel(double t) {
  const double x = t / kHalf;
  if (std::fabs(x) >= 1) return 0;
  const double fc = TDriftResampler::kCutoff;
  const double a = 2 * M_PI * fc * t;
  const double sinc = std::fabs(a) < 1e-12 ? 1.0 : std::sin(a) / a;
  const double window = 0.42 + 0.5 * std::cos(M_PI * x) + 0.08 * std::cos(2 * M_PI * x);  // Blackman
  return 2 * fc * sinc * window;
}

}  // namespace

TDriftResampler::TDriftResampler(int channels, int bitsPerSample)
    : Channels_(std::max(channels, 1)),
      BitsPerSample_(bitsPerSample == 8 ? 8 : 16),
      BytesPerFrame_(Channels_ * BitsPerSample_ / 8),
      Table_(static_cast<size_t>(kPhases + 1) * kTaps),
      Taps_(kTaps),
      Acc_(static_cast<size_t>(Channels_)) {
  // Row p holds the taps for a fractional position p / kPhases; tap k reads
  // input frame floor(position) - kHalf + 1 + k. Each row sums to 1 (no
  // gain ripple between positions).
  for (int p = 0; p <= kPhases; ++p) {
    const double frac = static_cast<double>(p) / kPhases;
    double sum = 0;
    float* row = &Table_[static_cast<size_t>(p) * kTaps];
    for (int k = 0; k < kTaps; ++k) {
      const double v = Kernel(static_cast<double>(k - kHalf + 1) - frac);
      row[k] = static_cast<float>(v);
      sum += v;
    }
    for (int k = 0; k < kTaps; ++k) row[k] = static_cast<float>(row[k] / sum);
  }
}

void TDriftResampler::Append(const uint8_t* data, size_t bytes) {
  const size_t bps = static_cast<size_t>(BitsPerSample_ / 8);
  auto push = [&](const uint8_t* s) {
    if (BitsPerSample_ == 8) Samples_.push_back((static_cast<float>(*s) - 128.0f) * 256.0f);
    else Samples_.push_back(static_cast<float>(static_cast<int16_t>(s[0] | (s[1] << 8))));
  };
  if (!data) {
    // Silence; whatever partial frame was pending is completed with it.
    const size_t total = Partial_.size() + bytes;
    Partial_.clear();
    Samples_.insert(Samples_.end(), total / static_cast<size_t>(BytesPerFrame_) * static_cast<size_t>(Channels_), 0.0f);
    Partial_.assign(total % static_cast<size_t>(BytesPerFrame_), BitsPerSample_ == 8 ? 0x80 : 0);
    return;
  }
  size_t k = 0;
  if (!Partial_.empty()) {
    while (Partial_.size() < static_cast<size_t>(BytesPerFrame_) && k < bytes) Partial_.push_back(data[k++]);
    if (Partial_.size() < static_cast<size_t>(BytesPerFrame_)) return;
    for (size_t i = 0; i < Partial_.size(); i += bps) push(&Partial_[i]);
    Partial_.clear();
  }
  const size_t whole = (bytes - k) / static_cast<size_t>(BytesPerFrame_) * static_cast<size_t>(BytesPerFrame_);
  Samples_.reserve(Samples_.size() + whole / bps);
  for (size_t i = 0; i < whole; i += bps) push(data + k + i);
  Partial_.assign(data + k + whole, data + bytes);
}

void TDriftResampler::Skip(double frames) {
  if (frames <= 0) return;
  const double next = Frac_ + frames;
  const double whole = std::floor(next);
  Whole_ += static_cast<int64_t>(whole);
  Frac_ = next - whole;
  Release();
}

float TDriftResampler::Sample(int64_t frame, int channel) const {
  const int64_t i = frame - Base_;
  if (i < 0 || i >= static_cast<int64_t>(Samples_.size()) / Channels_) return 0.0f;  // before the start: silence
  return Samples_[static_cast<size_t>(i * Channels_ + channel)];
}

size_t TDriftResampler::Produce(double step, uint8_t* out, size_t maxFrames) {
  size_t written = 0;
  const int64_t end = InputEnd();
  while (written < maxFrames && Whole_ + kHalf < end) {
    const double phase = Frac_ * kPhases;
    const int p = std::min(static_cast<int>(phase), kPhases - 1);
    const float w = static_cast<float>(phase - p);
    const float* a = &Table_[static_cast<size_t>(p) * kTaps];
    const float* b = a + kTaps;
    for (int k = 0; k < kTaps; ++k) Taps_[static_cast<size_t>(k)] = a[k] + w * (b[k] - a[k]);
    std::fill(Acc_.begin(), Acc_.end(), 0.0f);
    const int64_t first = Whole_ - kHalf + 1;
    if (first >= Base_) {
      const float* src = &Samples_[static_cast<size_t>((first - Base_) * Channels_)];
      for (int k = 0; k < kTaps; ++k, src += Channels_)
        for (int c = 0; c < Channels_; ++c) Acc_[static_cast<size_t>(c)] += Taps_[static_cast<size_t>(k)] * src[c];
    } else {
      for (int k = 0; k < kTaps; ++k)
        for (int c = 0; c < Channels_; ++c)
          Acc_[static_cast<size_t>(c)] += Taps_[static_cast<size_t>(k)] * Sample(first + k, c);
    }
    for (int c = 0; c < Channels_; ++c) {
      const float v = Acc_[static_cast<size_t>(c)];
      if (BitsPerSample_ == 8) {
        *out++ = static_cast<uint8_t>(std::clamp(std::lround(v / 256.0f) + 128, 0L, 255L));
      } else {
        const auto s = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
        *out++ = static_cast<uint8_t>(s & 0xff);
        *out++ = static_cast<uint8_t>((s >> 8) & 0xff);
      }
    }
    ++written;
    Frac_ += step;
    const double whole = std::floor(Frac_);
    Whole_ += static_cast<int64_t>(whole);
    Frac_ -= whole;
  }
  Release();
  return written;
}

// Lets go of the frames the filter no longer reaches (in batches, so that
// the buffer is not moved for every output frame).
void TDriftResampler::Release() {
  const int64_t keep = Whole_ - kHalf + 1;
  const int64_t drop = std::min(keep - Base_, static_cast<int64_t>(Samples_.size()) / Channels_);
  if (drop < 4096) return;
  Samples_.erase(Samples_.begin(), Samples_.begin() + static_cast<ptrdiff_t>(drop * Channels_));
  Base_ += drop;
}

}  // namespace vexa
