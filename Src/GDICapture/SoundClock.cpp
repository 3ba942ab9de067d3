#include "GDICapture/SoundClock.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vexa {

namespace {

constexpr double kMinFitUs = 500000;     // a slope needs half a second of data
constexpr double kLongFitUs = 10000000;  // and is kept as the prior from ten seconds on
constexpr double kRestartFitUs = 3000000;  // a fit started afresh measures its own from three
constexpr double kTrustUs = 5000000;       // a fit this long may claim the full skew
constexpr double kStepBaseUs = 5000000;  // a step is judged against a line this long

struct TLine {
  double Slope = 0;
  double Intercept = 0;
};

// Least squares through the points, or through the lowest of them with the
// prior slope when they span too little to carry a slope of their own. A
// short span (bursty arrivals weigh more) is allowed a smaller slope: the
// full `maxSlope` from `longSpanFrames` on, a tenth of it at the least.
template <class TIt>
TLine FitLine(TIt first, TIt last, double minSpanFrames, double priorSlope, double maxSlope, double longSpanFrames,
              double* span) {
  TLine line;
  const double n = static_cast<double>(last - first);
  double mx = 0, my = 0, lo = first->X, hi = first->X;
  for (TIt p = first; p != last; ++p) {
    mx += p->X;
    my += p->Y;
    lo = std::min(lo, p->X);
    hi = std::max(hi, p->X);
  }
  mx /= n;
  my /= n;
  *span = hi - lo;
  if (*span >= minSpanFrames) {
    double sxx = 0, sxy = 0;
    for (TIt p = first; p != last; ++p) {
      sxx += (p->X - mx) * (p->X - mx);
      sxy += (p->X - mx) * (p->Y - my);
    }
    const double limit = maxSlope * std::clamp(*span / longSpanFrames, 0.1, 1.0);
    line.Slope = std::clamp(sxy / sxx, -limit, limit);
    line.Intercept = my - line.Slope * mx;
  } else {
    line.Slope = priorSlope;
    line.Intercept = first->Y - priorSlope * first->X;
    for (TIt p = first; p != last; ++p) line.Intercept = std::min(line.Intercept, p->Y - priorSlope * p->X);
  }
  return line;
}

}  // namespace

TSoundClock::TSoundClock(int sampleRate) : UsPerFrame_(1e6 / std::max(sampleRate, 1)) {}

void TSoundClock::Note(int64_t now, int64_t frames) {
  if (!Valid_) {
    Valid_ = true;
    Epoch_ = now;
  }
  const TPoint p{static_cast<double>(frames), static_cast<double>(now - Epoch_) - static_cast<double>(frames) * UsPerFrame_};
  // The open block counts only while there are fewer than two closed ones.
  bool changed = false;
  if (!BlockOpen_ || p.Y < BlockMin_.Y) {
    if (!BlockOpen_) BlockStart_ = now;
    BlockOpen_ = true;
    BlockMin_ = p;
    changed = Points_.size() < 2;
  }
  if (now - BlockStart_ >= kBlockUs) {
    CloseBlock();
    changed = true;
  }
  if (changed) Fit();
}

void TSoundClock::CloseBlock() {
  BlockOpen_ = false;
  Points_.push_back(BlockMin_);
  while (Points_.size() > static_cast<size_t>(kWindowBlocks)) Points_.pop_front();
  JudgeNewest();
}

// The newest blocks against the line through the blocks before them: when
// the last kStepRun all lie more than kStepUs on one side, the source has
// stepped and the fit starts afresh from them; newest blocks off the line
// but not yet so many stay out of the fit until that is decided. A line
// long enough and undisturbed gives the slope a fresh start keeps.
void TSoundClock::JudgeNewest() {
  Suspects_ = 0;
  if (Points_.size() < static_cast<size_t>(kStepRun + 2)) return;
  const auto head = Points_.end() - kStepRun;
  double span = 0;
  const TLine line = FitLine(Points_.begin(), head, kMinFitUs / UsPerFrame_, PriorSlope_, kMaxSkew * UsPerFrame_,
                             kTrustUs / UsPerFrame_, &span);
  if (span < kStepBaseUs / UsPerFrame_) return;  // too short a line to leave
  int above = 0, below = 0;
  for (auto p = head; p != Points_.end(); ++p) {
    const double r = p->Y - (line.Intercept + line.Slope * p->X);
    above = r > kStepUs ? above + 1 : 0;
    below = r < -kStepUs ? below + 1 : 0;
  }
  if (above == kStepRun || below == kStepRun) {
    Points_.erase(Points_.begin(), head);
    ++Steps_;
    return;
  }
  Suspects_ = std::max(above, below);
  if (span >= kLongFitUs / UsPerFrame_) {
    PriorSlope_ = line.Slope;
    HasPrior_ = true;
  }
}

void TSoundClock::Fit() {
  // The open block's minimum is a weaker point (fewer arrivals); it counts
  // only while there is little else.
  std::vector<TPoint> points(Points_.begin(), Points_.end() - Suspects_);
  if (BlockOpen_ && points.size() < 2) points.push_back(BlockMin_);
  if (points.empty()) return;
  // Once a long fit has measured the slope, a fit started afresh keeps it
  // for a while (a step in the data says nothing about the rate).
  double span = 0;
  const double minSpan = (HasPrior_ ? kRestartFitUs : kMinFitUs) / UsPerFrame_;
  const TLine line = FitLine(points.begin(), points.end(), minSpan, PriorSlope_, kMaxSkew * UsPerFrame_,
                             kTrustUs / UsPerFrame_, &span);
  Slope_ = line.Slope;
  Intercept_ = line.Intercept;
  Trust_ = std::clamp(span * UsPerFrame_ / kTrustUs, 0.1, 1.0);
}

double TSoundClock::TimeOf(double frame) const {
  return static_cast<double>(Epoch_) + Intercept_ + (Slope_ + UsPerFrame_) * frame;
}

double TSoundClock::FrameAt(double time) const {
  return (time - static_cast<double>(Epoch_) - Intercept_) / (Slope_ + UsPerFrame_);
}

double TSoundClock::RateRatio() const { return UsPerFrame_ / (UsPerFrame_ + Slope_); }

}  // namespace vexa
