// The grabber's frame schedule on synthetic clock values: due times, skipped
// (lost) frames, no drift.
#include <gtest/gtest.h>

#include <cmath>

#include "GDICapture/ScreenThread.h"

namespace vexa {
namespace {

constexpr int64_t kStart = 1700000000000000;  // a capture clock value

// Due time of the next frame in capture clock microseconds.
int64_t NextDue(const TCaptureContext& c) {
  return std::llrint(static_cast<long double>(c.ScheduleCounter) * c.FrameRate.den / c.FrameRate.num);
}

TEST(FrameSchedule, TheFrameAfterTheFirstIsDueOnePeriodLater) {
  struct TRate {
    AVRational Rate;
    double PeriodUs;
  };
  for (const TRate& r : {TRate{{15, 1}, 66666.667}, TRate{{30000, 1001}, 33366.667}, TRate{{2997, 100}, 33366.700}}) {
    TCaptureContext c;
    c.FrameRate = r.Rate;
    StartSchedule(c, kStart);
    EXPECT_NEAR(static_cast<double>(NextDue(c) - kStart), r.PeriodUs, 1.0) << r.Rate.num << "/" << r.Rate.den;
    // Not due right after the first frame: nothing to skip, nothing lost.
    const TDueCheck now = CheckDueTime(c, kStart + 1000);
    EXPECT_NEAR(static_cast<double>(now.WaitUs), r.PeriodUs - 1000, 1.0);
    EXPECT_EQ(now.Skipped, 0);
  }
}

struct DueCase {
  const char* Name;
  int64_t CheckUs;  // time of the check after the first frame
  int64_t Skipped;
};

class DueCheckTest : public ::testing::TestWithParam<DueCase> {};

TEST_P(DueCheckTest, SkipsTheFramesWhoseTimeHasGone) {
  const DueCase& d = GetParam();
  TCaptureContext c;
  c.FrameRate = AVRational{15, 1};
  StartSchedule(c, kStart);
  const int64_t counter = c.ScheduleCounter;

  const TDueCheck r = CheckDueTime(c, kStart + d.CheckUs);
  EXPECT_LE(r.WaitUs, 0);
  EXPECT_EQ(r.Skipped, d.Skipped);
  // The counter steps past the skipped frames and the one about to be taken.
  EXPECT_EQ(c.ScheduleCounter, counter + (d.Skipped + 1) * 1000000);
  EXPECT_NEAR(static_cast<double>(NextDue(c) - kStart), (d.Skipped + 2) * 1000000.0 / 15, 1.0);
}

// At 15 fps frame k (the first is 0) is due k x 66667 us after the start.
INSTANTIATE_TEST_SUITE_P(Cases, DueCheckTest,
                         ::testing::Values(DueCase{"OnTime", 66667, 0},
                                           DueCase{"SlowFirstFrameWithinAPeriod", 120000, 0},
                                           DueCase{"LateByAPeriodLosesOne", 140000, 1},
                                           DueCase{"LateByThreePeriodsLosesThree", 270000, 3}),
                         [](const ::testing::TestParamInfo<DueCase>& i) { return std::string(i.param.Name); });

struct ClaimCase {
  const char* Name;
  double GrabEndsPeriods;  // when the grab of frame 1 finished, in periods after its due time
  int64_t Lost;
};

class ClaimSlotTest : public ::testing::TestWithParam<ClaimCase> {};

// Frame 1 is due one period after the first frame; its grab ends late.
TEST_P(ClaimSlotTest, ALateGrabClaimsTheSlotNearestItsTime) {
  const ClaimCase& d = GetParam();
  TCaptureContext c;
  c.FrameRate = AVRational{15, 1};
  StartSchedule(c, kStart);
  const double periodUs = 1000000.0 / 15;
  const int64_t due = kStart + std::llrint(periodUs);
  ASSERT_EQ(CheckDueTime(c, due).Skipped, 0);
  const int64_t grabbed = due + std::llrint(d.GrabEndsPeriods * periodUs);
  EXPECT_EQ(ClaimCaptureSlot(c, grabbed), d.Lost);
  // The next frame is due in the slot after the claimed one, never in the past.
  EXPECT_NEAR(static_cast<double>(NextDue(c) - kStart), (d.Lost + 2) * periodUs, 1.0);
  EXPECT_GT(NextDue(c), grabbed);
  EXPECT_EQ(CheckDueTime(c, grabbed + 1000).Skipped, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ClaimSlotTest,
                         ::testing::Values(ClaimCase{"InItsSlot", 0.05, 0}, ClaimCase{"LessThanHalfAPeriod", 0.45, 0},
                                           ClaimCase{"MoreThanHalfAPeriod", 0.55, 1},
                                           ClaimCase{"DisplayStoodStillASecond", 15.2, 15}),
                         [](const ::testing::TestParamInfo<ClaimCase>& i) { return std::string(i.param.Name); });

TEST(FrameSchedule, NtscGridAccumulatesNoError) {
  TCaptureContext c;
  c.FrameRate = AVRational{30000, 1001};
  StartSchedule(c, kStart);
  // One hour of frames, each checked exactly when due.
  const int64_t frames = 30000 * 3600 / 1001;
  for (int64_t k = 1; k <= frames; ++k) {
    const TDueCheck r = CheckDueTime(c, NextDue(c));
    ASSERT_LE(r.WaitUs, 0) << k;
    ASSERT_EQ(r.Skipped, 0) << k;
  }
  // The next frame is frames + 1, due at start + (frames + 1) x 1001/30000 s.
  const double exact = static_cast<double>(frames + 1) * 1001000000.0 / 30000.0;
  EXPECT_NEAR(static_cast<double>(NextDue(c) - kStart), exact, 1.0);
}

}  // namespace
}  // namespace vexa
