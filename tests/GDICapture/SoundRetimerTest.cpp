// The sound clock, the drift resampler and the retimer that joins them, fed
// by a simulated source whose clock runs fast or slow and whose data arrives
// late by random amounts, in bursts, or with a piece lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "GDICapture/DriftResampler.h"
#include "GDICapture/SoundClock.h"
#include "GDICapture/SoundRetimer.h"

namespace vexa {
namespace {

// --- a simulated source -----------------------------------------------------

// Frame n of the source is recorded at Epoch + n / (rate x (1 + skew)) us of
// the capture clock; chunks of ChunkFrames arrive after the last of their
// frames was recorded, late by a random amount (mostly little, sometimes a
// lot, now and then several chunks held back and delivered together).
class TSimSource {
 public:
  static constexpr int64_t kEpoch = 1700000000000000;  // a capture clock reading, us

  TSimSource(int rate, double skew, unsigned seed) : Rate_(rate), Skew_(skew), OldSkew_(skew), Rng_(seed) {}

  double RecordedAt(double frame) const {
    if (frame < ChangedAt_) return static_cast<double>(kEpoch) + frame * 1e6 / (Rate_ * (1 + OldSkew_));
    return static_cast<double>(kEpoch) + ChangedAt_ * 1e6 / (Rate_ * (1 + OldSkew_)) +
           (frame - ChangedAt_) * 1e6 / (Rate_ * (1 + Skew_));
  }
  // From the next frame on the clock runs at `skew` (a drifting crystal).
  void ChangeSkew(double skew) {
    OldSkew_ = Skew_;
    ChangedAt_ = static_cast<double>(Sent_);
    Skew_ = skew;
  }
  // The next chunk: its frame count, end frame and arrival time.
  struct TChunk {
    int64_t Frames;
    int64_t End;
    int64_t Arrival;
  };
  TChunk Next() {
    const int64_t frames = ChunkFrames;
    Sent_ += frames;
    const double recorded = RecordedAt(static_cast<double>(Sent_));
    double late = 100 + Uniform(0, 2000);
    const double dice = Uniform(0, 1);
    if (dice < 0.20) late += Uniform(0, 20000);
    else if (dice < 0.23) late += Uniform(0, 80000);
    if (HeldUntil_ > recorded) late = HeldUntil_ - recorded;  // in a burst
    else if (Uniform(0, 1) < 0.005) HeldUntil_ = recorded + 150000;
    int64_t arrival = static_cast<int64_t>(recorded + late);
    arrival = std::max(arrival, LastArrival_);  // in order
    LastArrival_ = arrival;
    return {frames, Sent_, arrival};
  }
  // Frames recorded from now on are counted as if `frames` were never made
  // (the data of that span is lost).
  void Lose(int64_t frames) {
    Sent_ += frames;
    Lost_ += frames;
  }
  int64_t Delivered() const { return Sent_ - Lost_; }
  int64_t Lost() const { return Lost_; }

  int ChunkFrames = 441;

 private:
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(Rng_); }

  int Rate_;
  double Skew_;
  double OldSkew_ = 0;
  double ChangedAt_ = 1e300;
  std::mt19937 Rng_;
  int64_t Sent_ = 0;  // frames recorded (lost ones included)
  int64_t Lost_ = 0;
  double HeldUntil_ = 0;
  int64_t LastArrival_ = 0;
};

// --- the clock --------------------------------------------------------------

struct ClockCase {
  const char* Name;
  double Skew;
};

class SoundClockTest : public ::testing::TestWithParam<ClockCase> {};

TEST_P(SoundClockTest, FollowsTheSourceThroughLateArrivals) {
  constexpr int kRate = 44100;
  TSimSource source(kRate, GetParam().Skew, 7);
  TSoundClock clock(kRate);
  double worst = 0;
  for (int64_t t = 0; t < 120 * 100; ++t) {
    const auto chunk = source.Next();
    clock.Note(chunk.Arrival, chunk.End);
    if (t < 5 * 100) continue;  // five seconds to settle
    const double error = clock.TimeOf(static_cast<double>(chunk.End)) - source.RecordedAt(static_cast<double>(chunk.End));
    worst = std::max(worst, std::fabs(error));
  }
  // Within 1.5 ms of the recording time from the fifth second on, however
  // late single arrivals were (the envelope is 100 us above it).
  EXPECT_LT(worst, 1500.0);
  EXPECT_NEAR(clock.RateRatio(), 1 + GetParam().Skew, 20e-6);
  EXPECT_EQ(clock.Steps(), 0);
}

INSTANTIATE_TEST_SUITE_P(Skews, SoundClockTest,
                         ::testing::Values(ClockCase{"Exact", 0}, ClockCase{"Fast200ppm", 200e-6},
                                           ClockCase{"Fast01Percent", 1e-3}, ClockCase{"Slow01Percent", -1e-3},
                                           ClockCase{"Fast1Percent", 1e-2}, ClockCase{"Slow1Percent", -1e-2}),
                         [](const ::testing::TestParamInfo<ClockCase>& i) { return std::string(i.param.Name); });

TEST(SoundClockSteps, LostDataStartsTheFitAfresh) {
  constexpr int kRate = 44100;
  TSimSource source(kRate, 300e-6, 11);
  TSoundClock clock(kRate);
  double worstAfter = 0;
  for (int64_t t = 0; t < 60 * 100; ++t) {
    if (t == 30 * 100) source.Lose(kRate / 10);  // 100 ms lost
    const auto chunk = source.Next();
    clock.Note(chunk.Arrival, source.Delivered());
    if (t < 36 * 100) continue;
    // Frame numbers count delivered frames: the recording time of the
    // delivered frame d is that of source frame d + lost.
    const double error = clock.TimeOf(static_cast<double>(source.Delivered())) -
                         source.RecordedAt(static_cast<double>(source.Delivered() + source.Lost()));
    worstAfter = std::max(worstAfter, std::fabs(error));
  }
  EXPECT_GE(clock.Steps(), 1);
  EXPECT_LT(worstAfter, 1000.0) << "six seconds after the loss";
}

// A change of the source's rate: the estimate follows within a few seconds,
// and the error on the way stays small.
TEST(SoundClockSteps, FollowsAChangeOfRate) {
  constexpr int kRate = 44100;
  TSimSource source(kRate, -200e-6, 5);
  TSoundClock clock(kRate);
  double worst = 0, lastBad = 0;
  for (int64_t t = 0; t < 90 * 100; ++t) {
    if (t == 40 * 100) source.ChangeSkew(+300e-6);  // 500 ppm at once
    const auto chunk = source.Next();
    clock.Note(chunk.Arrival, chunk.End);
    if (t < 40 * 100) continue;
    const double error = std::fabs(clock.TimeOf(static_cast<double>(chunk.End)) -
                                   source.RecordedAt(static_cast<double>(chunk.End)));
    worst = std::max(worst, error);
    if (error > 500) lastBad = static_cast<double>(t - 40 * 100) / 100;
  }
  RecordProperty("WorstErrorUs", std::to_string(worst));
  RecordProperty("SettledAfterS", std::to_string(lastBad));
  EXPECT_LT(worst, 3000.0);
  EXPECT_LT(lastBad, 30.0) << "s until the error stays below 0.5 ms";
  EXPECT_NEAR(clock.RateRatio(), 1 + 300e-6, 20e-6);
}

// --- the resampler ------------------------------------------------------------

struct ResampleCase {
  const char* Name;
  int Bits;
  int Channels;
  double StepA, StepB;  // the step alternates between these every 300 output frames
  double Tolerance;     // largest error, in 16-bit units
};

class DriftResamplerTest : public ::testing::TestWithParam<ResampleCase> {};

// Output frame j equals the input's sine at the position the steps lead to:
// the interpolation is smooth across every change of step.
TEST_P(DriftResamplerTest, ReadsTheSineAtItsPositions) {
  const ResampleCase& c = GetParam();
  constexpr int kRate = 44100;
  const double hz[2] = {440.0, 3000.0};
  const double amplitude = c.Bits == 8 ? 100 * 256 : 12000;
  auto input = [&](int64_t frame, int channel) {
    return amplitude * std::sin(2 * M_PI * hz[channel % 2] * static_cast<double>(frame) / kRate);
  };
  TDriftResampler r(c.Channels, c.Bits);
  const int bpf = r.BytesPerFrame();
  // Input in chunks that do not end on frame boundaries.
  std::vector<uint8_t> pcm;
  for (int64_t n = 0; n < kRate; ++n)
    for (int ch = 0; ch < c.Channels; ++ch) {
      const double v = input(n, ch);
      if (c.Bits == 8) {
        pcm.push_back(static_cast<uint8_t>(std::lround(v / 256) + 128));
      } else {
        const auto s = static_cast<int16_t>(std::lround(v));
        pcm.push_back(static_cast<uint8_t>(s & 0xff));
        pcm.push_back(static_cast<uint8_t>((s >> 8) & 0xff));
      }
    }
  std::vector<uint8_t> out(static_cast<size_t>(bpf) * 300);
  double position = 0, worst = 0;
  int64_t produced = 0;
  size_t offset = 0;
  bool a = true;
  while (offset < pcm.size()) {
    const size_t take = std::min<size_t>(pcm.size() - offset, 1237);
    r.Append(&pcm[offset], take);
    offset += take;
    for (;;) {
      const double step = a ? c.StepA : c.StepB;
      const size_t n = r.Produce(step, out.data(), 300);
      for (size_t j = 0; j < n; ++j, ++produced) {
        if (produced >= TDriftResampler::kTaps) {  // the filter has left the silence before frame 0
          for (int ch = 0; ch < c.Channels; ++ch) {
            const uint8_t* p = &out[j * static_cast<size_t>(bpf) + static_cast<size_t>(ch * bpf / c.Channels)];
            const double got = c.Bits == 8 ? (p[0] - 128.0) * 256 : static_cast<int16_t>(p[0] | (p[1] << 8));
            // The input's value between its frames, by the sine itself.
            const double want =
                amplitude * std::sin(2 * M_PI * hz[ch % 2] * position / kRate);
            worst = std::max(worst, std::fabs(got - want));
          }
        }
        position += step;
      }
      if (n < 300) break;
      a = !a;
    }
    EXPECT_NEAR(r.Position(), position, 1e-6);
  }
  EXPECT_GT(produced, static_cast<int64_t>(kRate * 0.9 / std::max(c.StepA, c.StepB)));
  EXPECT_LT(worst, c.Tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DriftResamplerTest,
    ::testing::Values(ResampleCase{"StereoAsIs", 16, 2, 1.0, 1.0, 30},
                      ResampleCase{"StereoFast01Percent", 16, 2, 1.001, 1.001, 30},
                      ResampleCase{"StereoSlow1Percent", 16, 2, 0.99, 0.99, 30},
                      ResampleCase{"StereoChangingStep", 16, 2, 0.995, 1.004, 30},
                      ResampleCase{"UnsignedMonoChangingStep", 8, 1, 0.998, 1.003, 400}),
    [](const ::testing::TestParamInfo<ResampleCase>& i) { return std::string(i.param.Name); });

TEST(DriftResamplerSkip, CutsForwardWithoutOutput) {
  TDriftResampler r(1, 16);
  std::vector<uint8_t> silence(2000 * 2, 0);
  r.Append(silence.data(), silence.size());
  r.Skip(100.25);
  EXPECT_DOUBLE_EQ(r.Position(), 100.25);
  std::vector<uint8_t> out(4000);
  const size_t n = r.Produce(1.0, out.data(), 2000);
  EXPECT_EQ(static_cast<int64_t>(n), 2000 - 100 - TDriftResampler::kTaps / 2);
  r.Append(nullptr, 6);  // silence appends too
  EXPECT_EQ(r.InputEnd(), 2003);
}

// --- the retimer ----------------------------------------------------------------

struct RetimeCase {
  const char* Name;
  double Skew;
  bool LoseData;
};

class SoundRetimerTest : public ::testing::TestWithParam<RetimeCase> {};

// The source records a 50 Hz sine of the capture clock, so the sine in the
// output tells when its sound was recorded; that time must be the output's
// own time for it, within a millisecond, and must move smoothly.
TEST_P(SoundRetimerTest, OutputFramesKeepTheCaptureClock) {
  const RetimeCase& c = GetParam();
  constexpr int kRate = 8000;  // a low rate keeps the simulation short
  constexpr double kHz = 50;
  constexpr double kAmplitude = 10000;
  TSimSource source(kRate, c.Skew, 3);
  source.ChunkFrames = 80;
  TSoundRetimer retimer(kRate, 1, 16);
  std::vector<uint8_t> pcm, out(1 << 16);
  std::vector<double> samples;  // the output, from frame 0 on
  double worstStep = 0;
  int64_t frame = 0;  // source frames made (lost ones included)
  for (int64_t t = 0; t < 90 * 100; ++t) {
    if (c.LoseData && t == 40 * 100) {
      source.Lose(kRate * 3 / 10);  // 300 ms lost
      frame += kRate * 3 / 10;
    }
    const auto chunk = source.Next();
    pcm.clear();
    for (int64_t i = 0; i < chunk.Frames; ++i, ++frame) {
      const double when = source.RecordedAt(static_cast<double>(frame)) - static_cast<double>(TSimSource::kEpoch);
      const auto s = static_cast<int16_t>(std::lround(kAmplitude * std::sin(2 * M_PI * kHz * when / 1e6)));
      pcm.push_back(static_cast<uint8_t>(s & 0xff));
      pcm.push_back(static_cast<uint8_t>((s >> 8) & 0xff));
    }
    retimer.AllowJumps(t < 100);  // the output counts from the first second on
    retimer.Add(pcm.data(), pcm.size(), chunk.Arrival, 0);
    if (t > 5 * 100) worstStep = std::max(worstStep, std::fabs(retimer.Step() - (1 + c.Skew)));
    const size_t n = retimer.Read(out.data(), out.size() / 2);
    for (size_t i = 0; i < n; ++i) samples.push_back(static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8)));
  }
  // Frame i of the output holds what the source recorded at OutputTime(i):
  // the sine's phase over each 100 ms tells the difference.
  const int window = kRate / 10;
  const double origin = static_cast<double>(TSimSource::kEpoch);
  std::vector<double> errors;  // us, per window
  for (size_t w = 0; w + static_cast<size_t>(window) <= samples.size(); w += static_cast<size_t>(window)) {
    double i = 0, q = 0;
    for (int k = 0; k < window; ++k) {
      const double t = (static_cast<double>(retimer.OutputTime(static_cast<int64_t>(w) + k)) - origin) / 1e6;
      i += samples[w + static_cast<size_t>(k)] * std::sin(2 * M_PI * kHz * t);
      q += samples[w + static_cast<size_t>(k)] * std::cos(2 * M_PI * kHz * t);
    }
    // sample = A sin(wt + phi) with phi = w x error
    errors.push_back(std::atan2(q, i) / (2 * M_PI * kHz) * 1e6);
  }
  ASSERT_GT(errors.size(), 800u);
  const size_t settled = 110;     // from the twelfth second (a source 1 % off needs that long)
  const size_t lossAt = 40 * 10;  // the window of the loss, and five seconds after it
  double worst = 0, worstJump = 0;
  for (size_t k = settled; k < errors.size(); ++k) {
    if (c.LoseData && k >= lossAt - 2 && k < lossAt + 50) continue;
    worst = std::max(worst, std::fabs(errors[k]));
    if (k > settled) worstJump = std::max(worstJump, std::fabs(errors[k] - errors[k - 1]));
  }
  EXPECT_LT(worst, 1500.0) << "us between the sound's recording and its place";
  EXPECT_LT(worstJump, 300.0) << "us between neighbouring 100 ms windows";
  EXPECT_LT(worstStep, TSoundRetimer::kMaxCorrection + 0.0005);
  EXPECT_EQ(retimer.HardSteps(), c.LoseData ? 1 : 0);
  // The output's frame count keeps pace with the capture clock.
  const double covered = (static_cast<double>(retimer.OutputTime(retimer.OutputFrames())) -
                          source.RecordedAt(static_cast<double>(frame))) / 1e6;
  EXPECT_NEAR(covered, 0.0, 0.01) << "s between the output's end and the last recorded sound";
}

INSTANTIATE_TEST_SUITE_P(Sources, SoundRetimerTest,
                         ::testing::Values(RetimeCase{"Exact", 0, false}, RetimeCase{"Fast01Percent", 1e-3, false},
                                           RetimeCase{"Slow01Percent", -1e-3, false},
                                           RetimeCase{"Fast1Percent", 1e-2, false},
                                           RetimeCase{"Slow1Percent", -1e-2, false},
                                           RetimeCase{"LostSound", 200e-6, true}),
                         [](const ::testing::TestParamInfo<RetimeCase>& i) { return std::string(i.param.Name); });

}  // namespace
}  // namespace vexa

namespace vexa {
namespace {

// While the source is gone, silence carries the output on to the time asked
// for, from where the sound stopped or, with none before, from `from`.
TEST(SoundRetimerSilence, CarriesTheOutputOn) {
  constexpr int kRate = 8000;
  TSoundRetimer alone(kRate, 2, 16);
  alone.AddSilence(5000000, 5500000);
  ASSERT_TRUE(alone.Anchored());
  std::vector<uint8_t> out(kRate * 4, 0xee);
  EXPECT_EQ(alone.Read(out.data(), kRate), static_cast<size_t>(kRate / 2));
  EXPECT_EQ(alone.OutputTime(0), 5000000);
  EXPECT_EQ(alone.OutputTime(alone.OutputFrames()), 5500000);
  EXPECT_TRUE(std::all_of(out.begin(), out.begin() + kRate * 2, [](uint8_t b) { return b == 0; }));

  TSoundRetimer after(kRate, 1, 8);
  std::vector<uint8_t> pcm(kRate / 10, 0x90);  // 100 ms of a constant level
  for (int i = 1; i <= 10; ++i) after.Add(pcm.data(), pcm.size(), 7000000 + i * 100000, 0);
  after.Read(out.data(), kRate);
  const int64_t stopped = after.OutputTime(after.OutputFrames());
  EXPECT_NEAR(static_cast<double>(stopped), 8000000.0, 3000.0);
  after.AddSilence(0, 8600000);
  const size_t n = after.Read(out.data(), kRate);
  EXPECT_NEAR(static_cast<double>(after.OutputTime(after.OutputFrames())), 8600000.0, 125.0);
  EXPECT_NEAR(static_cast<double>(n), (8600000.0 - static_cast<double>(stopped)) / 125.0, 1.0);
  EXPECT_EQ(out[0], 0x80);  // unsigned silence
  EXPECT_EQ(out[n - 1], 0x80);
}

}  // namespace
}  // namespace vexa
