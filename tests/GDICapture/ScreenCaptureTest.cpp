// Screen capture against the test display: picture, rate, timestamps,
// cursor, windows, the queue and its limits.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <regex>
#include <string>

extern "C" {
#include <libavutil/time.h>
}

#include "CaptureTestSupport.h"

namespace vexa {
namespace {

using test::OfStream;
using test::PixelAt;
using test::TCaptureInput;
using test::TLogCapture;
using test::TTestWindow;

constexpr uint32_t kMagenta = TTestWindow::kMagenta;

class ScreenCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveDisplay()) GTEST_SKIP() << "no DISPLAY (run under scripts/test-env.sh)";
    test::MovePointer(0, 0);  // keep the cursor away from the pictures
  }
  TLogCapture Log;
};

// Sum of N over "We lost N frames" lines.
int LostFrames(const TLogCapture& log) {
  int lost = 0;
  const std::regex re("^We lost (\\d+) frames\\. It might be caused by paused or bad performance or frame rate is too "
                      "high\\.$");
  for (const std::string& line : log.LinesWith("We lost")) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, re)) << line;
    if (m.size() == 2) lost += std::stoi(m[1]);
  }
  return lost;
}

// A window showing a counter that a thread keeps increasing.
class TCounterWindow {
 public:
  TCounterWindow(int x, int y) : Window_(x, y, 180, 40, 0x000080) {
    Window_.DrawCounter(0);
    Thread_ = std::thread([this] {
      int value = 0;
      while (!Quit_.load()) {
        Window_.DrawCounter(++value & 0xff);
        std::this_thread::sleep_for(std::chrono::milliseconds(7));
      }
    });
  }
  ~TCounterWindow() {
    Quit_.store(true);
    Thread_.join();
  }
  static constexpr int kWidth = 180, kHeight = 40;

 private:
  TTestWindow Window_;
  std::atomic<bool> Quit_{false};
  std::thread Thread_;
};

struct RateCase {
  const char* Name;
  const char* Rate;
  double Fps;
};

class CaptureRateTest : public ScreenCaptureTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(CaptureRateTest, PatternCountAndTimestamps) {
  const RateCase& rc = GetParam();
  TCounterWindow window(120, 90);
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"capture_offset", "120,90"},
                                   {"video_size", "180x40"},
                                   {"framerate", rc.Rate},
                                   {"capture_flags", "0"}}),
            0);
  AVStream* st = input.Format()->streams[0];
  EXPECT_EQ(st->codecpar->codec_id, AV_CODEC_ID_RAWVIDEO);
  EXPECT_EQ(st->codecpar->width, 180);
  EXPECT_EQ(st->codecpar->height, 40);
  EXPECT_EQ(st->codecpar->format, AV_PIX_FMT_BGR0);  // depth 24: no transparency
  EXPECT_EQ(av_q2d(st->avg_frame_rate), rc.Fps);
  EXPECT_EQ(st->time_base.den, 1000000);
  EXPECT_EQ(st->codecpar->bit_rate, std::llrint(180 * 40 * 4 * rc.Fps * 8));

  constexpr int64_t kDuration = 2000000;
  const auto packets = input.ReadUntil(
      [](const std::vector<TPacketPtr>& p) { return p.back()->pts >= kDuration; }, 6000);
  ASSERT_FALSE(packets.empty());
  ASSERT_GE(packets.back()->pts, kDuration);

  int frames = 0, previousCounter = -1;
  int64_t previousPts = -1, skipped = 0;
  const double period = 1000000.0 / rc.Fps;
  for (const TPacketPtr& p : packets) {
    ASSERT_EQ(p->size, 180 * 40 * 4);
    EXPECT_EQ(p->stream_index, 0);
    EXPECT_GT(p->pts, previousPts);
    if (previousPts >= 0) skipped += std::max<int64_t>(std::llround((p->pts - previousPts) / period) - 1, 0);
    previousPts = p->pts;
    if (p->pts < kDuration) ++frames;
    // The window's border sits exactly on the frame's edges.
    EXPECT_EQ(PixelAt(p.get(), 180, 0, 0), kMagenta);
    EXPECT_EQ(PixelAt(p.get(), 180, 179, 39), kMagenta);
    EXPECT_NE(PixelAt(p.get(), 180, 1, 1), kMagenta);
    const int counter = test::ReadCounter(p.get(), 180, 0, 0);
    EXPECT_GE(counter, 0);
    // The counter wraps at 256; it only moves forward between frames.
    if (previousCounter >= 0 && counter >= 0 && counter < previousCounter) {
      EXPECT_GT(previousCounter - counter, 128);
    }
    previousCounter = counter;
  }
  EXPECT_EQ(packets.front()->pts, 0);
  const int lost = LostFrames(Log);
  const double expected = kDuration / period;
  EXPECT_NEAR(frames + lost, expected, 2.0) << "frames " << frames << ", lost " << lost;
  // Lost frames are exactly the gaps in the timestamps.
  EXPECT_NEAR(static_cast<double>(lost), static_cast<double>(skipped), 1.0);
  if (lost == 0) {
    EXPECT_NEAR(frames, expected, 2.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, CaptureRateTest,
                         ::testing::Values(RateCase{"Fps15", "15", 15.0}, RateCase{"Ntsc", "30000/1001", 30000.0 / 1001}),
                         [](const ::testing::TestParamInfo<RateCase>& i) { return std::string(i.param.Name); });

TEST_F(ScreenCaptureTest, OffsetPlacesTheRectangle) {
  TTestWindow window(300, 200, 180, 60, 0x00ff00);
  window.DrawCounter(0x5a);
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"capture_offset", "290,190"}, {"video_size", "200x80"}, {"capture_flags", "0"}}),
            0);
  EXPECT_TRUE(Log.Has("ready for screen capturing 200x80x32 at (290,190)"));
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(packets.size(), 1u);
  const AVPacket* f = packets[0].get();
  EXPECT_EQ(PixelAt(f, 200, 10, 10), kMagenta);
  EXPECT_EQ(PixelAt(f, 200, 189, 69), kMagenta);
  EXPECT_NE(PixelAt(f, 200, 9, 10), kMagenta);
  EXPECT_NE(PixelAt(f, 200, 190, 69), kMagenta);
  EXPECT_EQ(test::ReadCounter(f, 200, 10, 10), 0x5a);
}

TEST_F(ScreenCaptureTest, SizeClampedAtScreenEdge) {
  int sw = 0, sh = 0;
  test::ScreenSize(sw, sh);
  TTestWindow window(sw - 100, sh - 50, 100, 50, 0x00ff00);
  window.DrawCounter(1);
  TCaptureInput input;
  const std::string offset = std::to_string(sw - 100) + "," + std::to_string(sh - 50);
  ASSERT_EQ(input.Open("video=0", {{"capture_offset", offset}, {"video_size", "300x200"}, {"capture_flags", "0"}}),
            0);
  EXPECT_EQ(input.Format()->streams[0]->codecpar->width, 100);
  EXPECT_EQ(input.Format()->streams[0]->codecpar->height, 50);
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0]->size, 100 * 50 * 4);
  EXPECT_EQ(PixelAt(packets[0].get(), 100, 0, 0), kMagenta);
  EXPECT_EQ(PixelAt(packets[0].get(), 100, 99, 49), kMagenta);
}

TEST_F(ScreenCaptureTest, NegativeOffsetReadsBlackOffScreen) {
  TTestWindow window(0, 0, 60, 40, 0x00ff00);
  window.DrawCounter(3);
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"capture_offset", "-5,0"}, {"video_size", "40x20"}, {"capture_flags", "0"}}), 0);
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(PixelAt(packets[0].get(), 40, 0, 5), 0u);  // left of the screen
  EXPECT_EQ(PixelAt(packets[0].get(), 40, 5, 0), kMagenta);
}

// A frame window with a client window inside it, as a window manager makes.
struct FramedWindow {
  TTestWindow Frame{500, 300, 220, 180, 0x00ff00};
  TTestWindow Client{10, 30, 200, 140, 0x000080, Frame.Id()};
  FramedWindow() { Client.DrawCounter(0x81); }
};

TEST_F(ScreenCaptureTest, WindowByIdClientArea) {
  FramedWindow w;
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=" + std::to_string(w.Client.Id()), {{"capture_flags", "+client-showframe-cursor"}}), 0);
  EXPECT_EQ(input.Context().Width, 200);
  EXPECT_EQ(input.Context().Height, 140);
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(PixelAt(packets[0].get(), 200, 0, 0), kMagenta);
  EXPECT_EQ(test::ReadCounter(packets[0].get(), 200, 0, 0), 0x81);
}

TEST_F(ScreenCaptureTest, WindowByIdWindowAreaIsTheTopLevelFrame) {
  FramedWindow w;
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=" + std::to_string(w.Client.Id()), {{"capture_flags", "0"}}), 0);
  EXPECT_EQ(input.Context().Width, 220);
  EXPECT_EQ(input.Context().Height, 180);
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(PixelAt(packets[0].get(), 220, 5, 5), 0x00ff00u);
  EXPECT_EQ(PixelAt(packets[0].get(), 220, 10, 30), kMagenta);
  EXPECT_EQ(test::ReadCounter(packets[0].get(), 220, 10, 30), 0x81);
}

TEST_F(ScreenCaptureTest, WindowCaptureFollowsTheWindowWithOffset) {
  TTestWindow window(100, 100, 180, 40, 0x000080);
  window.DrawCounter(7);
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=" + std::to_string(window.Id()),
                       {{"capture_offset", "8,8"}, {"video_size", "16x16"}, {"capture_flags", "2"}}),
            0);
  auto first = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(PixelAt(first[0].get(), 16, 8, 8), TTestWindow::kWhite);  // bit 0 of 7
  window.Move(400, 250);
  window.DrawCounter(6);
  input.ReadFor(200);
  auto later = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(PixelAt(later[0].get(), 16, 8, 8), TTestWindow::kGrey);  // bit 0 of 6
}

struct CursorCase {
  const char* Name;
  const char* Flags;
  bool Drawn;
};

class CursorTest : public ScreenCaptureTest, public ::testing::WithParamInterface<CursorCase> {};

TEST_P(CursorTest, DrawnOnlyWhenAsked) {
  TTestWindow window(300, 300, 100, 100, 0x000000);
  window.SetSolidCursor(0xff0000, 16, 4);
  test::MovePointer(340, 350);  // image from (336, 346)
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"capture_offset", "300,300"}, {"video_size", "100x100"},
                                   {"capture_flags", GetParam().Flags}}),
            0);
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(packets.size(), 1u);
  const AVPacket* f = packets[0].get();
  if (GetParam().Drawn) {
    EXPECT_EQ(PixelAt(f, 100, 36, 46), 0xff0000u);
    EXPECT_EQ(PixelAt(f, 100, 51, 61), 0xff0000u);
    EXPECT_EQ(PixelAt(f, 100, 35, 46), 0u);
    EXPECT_EQ(PixelAt(f, 100, 52, 61), 0u);
  } else {
    for (int y = 40; y < 60; ++y)
      for (int x = 30; x < 56; ++x) ASSERT_EQ(PixelAt(f, 100, x, y), 0u) << x << "," << y;
  }
  EXPECT_TRUE(Log.LinesWith("cursor info").empty());
}

INSTANTIATE_TEST_SUITE_P(Flags, CursorTest,
                         ::testing::Values(CursorCase{"WithCursor", "+cursor-showframe", true},
                                           CursorCase{"WithoutCursor", "+showframe-cursor", false}),
                         [](const ::testing::TestParamInfo<CursorCase>& i) { return std::string(i.param.Name); });

TEST_F(ScreenCaptureTest, CursorRelativeToCapturedClientWindow) {
  TTestWindow window(200, 150, 120, 90, 0x000000);
  window.SetSolidCursor(0x00ffff, 8, 2);
  test::MovePointer(260, 200);  // image from (258, 198) = client (58, 48)
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=" + std::to_string(window.Id()),
                       {{"capture_flags", "+client+cursor-showframe"}, {"capture_offset", "8,8"}}),
            0);
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000);
  ASSERT_EQ(packets.size(), 1u);
  const int w = input.Context().Width;
  EXPECT_EQ(PixelAt(packets[0].get(), w, 50, 40), 0x00ffffu);
  EXPECT_EQ(PixelAt(packets[0].get(), w, 57, 47), 0x00ffffu);
  EXPECT_EQ(PixelAt(packets[0].get(), w, 58, 48), 0u);
}

TEST_F(ScreenCaptureTest, NonBlockingReadOnEmptyQueueReturnsAtOnce) {
  int32_t paused = 1;  // nothing is ever queued
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"video_size", "32x32"},
                                   {"capture_flags", "0"},
                                   {"pause_pointer", std::to_string(reinterpret_cast<intptr_t>(&paused))}}),
            0);
  input.Format()->flags |= AVFMT_FLAG_NONBLOCK;
  AVPacket* pkt = av_packet_alloc();
  const int64_t t0 = av_gettime();
  EXPECT_EQ(input.Read(pkt), -11);
  EXPECT_EQ(input.Read(pkt), -11);
  EXPECT_LT(av_gettime() - t0, 500000);  // a blocking read would wait 1000 ms
  EXPECT_EQ(Log.LinesWith("non-block, need read again").size(), 2u);
  av_packet_free(&pkt);
}

TEST_F(ScreenCaptureTest, BlockingReadWaitsAtMostOneSecond) {
  int32_t paused = 1;
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"video_size", "32x32"},
                                   {"capture_flags", "0"},
                                   {"pause_pointer", std::to_string(reinterpret_cast<intptr_t>(&paused))}}),
            0);
  AVPacket* pkt = av_packet_alloc();
  const int64_t t0 = av_gettime();
  EXPECT_EQ(input.Read(pkt), -11);
  const int64_t waited = av_gettime() - t0;
  EXPECT_GE(waited, 950000);
  EXPECT_LT(waited, 3000000);
  EXPECT_TRUE(Log.Has("wait timeout, need read again"));
  // The first read started the capture.
  EXPECT_EQ(Log.LinesWith("Count of GDI objects: ").size(), 1u);
  av_packet_free(&pkt);
}

TEST_F(ScreenCaptureTest, CloseStopsThreadsAndEmptiesTheQueue) {
  const int threads = test::ThreadCount();
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"video_size", "64x64"}, {"framerate", "50"}, {"capture_flags", "+showframe"}}), 0);
  EXPECT_GT(test::ThreadCount(), threads);
  EXPECT_EQ(LiveCaptureWindows().load(), 1);
  input.Format()->flags |= AVFMT_FLAG_NONBLOCK;
  AVPacket* pkt = av_packet_alloc();
  input.Read(pkt);  // starts the producers
  av_packet_unref(pkt);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_GT(input.Context().Queue.Count(), 5u);  // left unread
  input.Close();
  EXPECT_EQ(test::ThreadCount(), threads);
  EXPECT_EQ(LiveCaptureImages().load(), 0);
  EXPECT_EQ(LiveCaptureWindows().load(), 0);
  EXPECT_EQ(Log.LinesWith("Count of GDI objects: ").size(), 2u);  // first read and close
  av_packet_free(&pkt);
}

TEST_F(ScreenCaptureTest, PauseSkipsFramesAndTimestampsJump) {
  std::atomic<int32_t> paused{0};
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"video_size", "32x32"},
                                   {"framerate", "10"},
                                   {"capture_flags", "0"},
                                   {"pause_pointer", std::to_string(reinterpret_cast<intptr_t>(&paused))}}),
            0);
  std::thread pauser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    paused.store(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    paused.store(0);
  });
  const auto packets = input.ReadFor(3500);
  pauser.join();
  int64_t jump = 0;
  for (size_t i = 1; i < packets.size(); ++i) jump = std::max(jump, packets[i]->pts - packets[i - 1]->pts);
  EXPECT_GE(jump, 1900000);
  EXPECT_LT(jump, 2300000);
  const auto lines = Log.LinesWith("We lost");
  ASSERT_GE(lines.size(), 1u);
  const int lost = LostFrames(Log);
  EXPECT_GE(lost, 18);
  EXPECT_LE(lost, 21);
  // Resumed on the same grid: the frames after the pause stay one period apart.
  EXPECT_NEAR(static_cast<double>(packets.back()->pts - packets[packets.size() - 4]->pts), 300000.0, 60000.0);
}

TEST_F(ScreenCaptureTest, FullQueueDropsInTheThresholdPattern) {
  // 40000-byte frames against 200000 bytes (rtbufsize x 10): five frames fill it.
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"video_size", "100x100"},
                                   {"framerate", "25"},
                                   {"capture_flags", "0"},
                                   {"rtbufsize", "20000"}}),
            0);
  EXPECT_EQ(input.Format()->max_picture_buffer, 200000u);
  input.Format()->flags |= AVFMT_FLAG_NONBLOCK;
  AVPacket* pkt = av_packet_alloc();
  EXPECT_EQ(input.Read(pkt), -11);  // starts the capture, takes nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  // Frames 1-4 meet 0, 20, 40, 60 % against 75, 87, 100, 62: kept. Frame 5
  // meets 80 % against 75: dropped; frame 6 80 % against 87: kept; from then
  // on the queue is 100 % full and every frame drops.
  EXPECT_EQ(input.Context().Queue.Count(), 5u);
  const auto drops = Log.LinesWith("frame dropped!");
  ASSERT_GE(drops.size(), 3u);
  EXPECT_EQ(drops[0], "real-time buffer 80% full! frame dropped!");
  EXPECT_EQ(drops[1], "real-time buffer 100% full! frame dropped!");
  EXPECT_EQ(drops[2], "real-time buffer 100% full! frame dropped!");
  av_packet_free(&pkt);
}

TEST_F(ScreenCaptureTest, VanishedWindowEndsTheInputWithIoError) {
  auto window = std::make_unique<TTestWindow>(50, 50, 64, 64, 0x00ff00);
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=" + std::to_string(window->Id()), {{"capture_flags", "+client"}, {"framerate", "20"}}),
            0);
  ASSERT_FALSE(input.ReadUntil([](const std::vector<TPacketPtr>&) { return true; }, 3000).empty());
  window.reset();
  int ret = 0;
  AVPacket* pkt = av_packet_alloc();
  for (int i = 0; i < 50; ++i) {
    ret = input.Read(pkt);
    av_packet_unref(pkt);
    if (ret < 0 && ret != AVERROR(EAGAIN)) break;
  }
  av_packet_free(&pkt);
  EXPECT_EQ(ret, AVERROR(EIO));
  const auto lines = Log.LinesWith("Failed to capture image: BitBlt() error ");
  ASSERT_EQ(lines.size(), 1u);
}

}  // namespace
}  // namespace vexa
