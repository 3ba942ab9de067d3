// The region frame read back through X: geometry, shape, colours, flashing,
// following, absence from the picture, removal at close.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <chrono>
#include <string>

extern "C" {
#include <libavutil/time.h>
}

#include "CaptureTestSupport.h"

namespace vexa {
namespace {

using test::TCaptureInput;
using test::TLogCapture;
using test::TTestWindow;

constexpr uint32_t kYellow = 0xffff00, kBlue = 0x0000ff;

class FrameFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveDisplay()) GTEST_SKIP() << "no DISPLAY (run under scripts/test-env.sh)";
    D_ = XOpenDisplay(nullptr);
    ASSERT_NE(D_, nullptr);
  }
  void TearDown() override {
    if (D_) XCloseDisplay(D_);
  }

  // The ring windows on the screen.
  std::vector<Window> Rings() {
    std::vector<Window> out;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    XQueryTree(D_, DefaultRootWindow(D_), &root, &parent, &children, &n);
    for (unsigned i = 0; i < n; ++i) {
      char* name = nullptr;
      if (XFetchName(D_, children[i], &name) && name) {
        if (std::string(name) == "Vexa capture frame") out.push_back(children[i]);
        XFree(name);
      }
    }
    if (children) XFree(children);
    return out;
  }

  void Geometry(Window w, int& x, int& y, int& width, int& height) {
    Window root = 0, child = 0;
    unsigned uw = 0, uh = 0, border = 0, depth = 0;
    XGetGeometry(D_, w, &root, &x, &y, &uw, &uh, &border, &depth);
    XTranslateCoordinates(D_, w, root, 0, 0, &x, &y, &child);
    width = static_cast<int>(uw);
    height = static_cast<int>(uh);
  }

  uint32_t ScreenPixel(int x, int y) {
    XImage* img = XGetImage(D_, DefaultRootWindow(D_), x, y, 1, 1, AllPlanes, ZPixmap);
    const uint32_t p = static_cast<uint32_t>(XGetPixel(img, 0, 0)) & 0xffffff;
    XDestroyImage(img);
    return p;
  }

  bool InShape(Window w, int kind, int x, int y) {
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(D_, w, kind, &count, &ordering);
    bool inside = false;
    for (int i = 0; i < count; ++i)
      if (x >= rects[i].x && x < rects[i].x + rects[i].width && y >= rects[i].y && y < rects[i].y + rects[i].height)
        inside = true;
    if (rects) XFree(rects);
    return inside;
  }

  int ShapeCount(Window w, int kind) {
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(D_, w, kind, &count, &ordering);
    if (rects) XFree(rects);
    return count;
  }

  Display* D_ = nullptr;
  TLogCapture Log;
};

TEST_F(FrameFormTest, RingOutsideTheRectangleYellowAndClickThrough) {
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"capture_offset", "100,120"}, {"video_size", "200x150"},
                                   {"capture_flags", "+showframe-cursor"}}),
            0);
  const auto rings = Rings();
  ASSERT_EQ(rings.size(), 1u);
  int x = 0, y = 0, w = 0, h = 0;
  Geometry(rings[0], x, y, w, h);
  EXPECT_EQ(x, 98);
  EXPECT_EQ(y, 118);
  EXPECT_EQ(w, 204);
  EXPECT_EQ(h, 154);
  XWindowAttributes attrs;
  XGetWindowAttributes(D_, rings[0], &attrs);
  EXPECT_TRUE(attrs.override_redirect);
  // Only the 2-pixel ring belongs to the window.
  EXPECT_TRUE(InShape(rings[0], ShapeBounding, 0, 0));
  EXPECT_TRUE(InShape(rings[0], ShapeBounding, 1, 77));
  EXPECT_TRUE(InShape(rings[0], ShapeBounding, 203, 153));
  EXPECT_TRUE(InShape(rings[0], ShapeBounding, 100, 152));
  EXPECT_FALSE(InShape(rings[0], ShapeBounding, 2, 2));
  EXPECT_FALSE(InShape(rings[0], ShapeBounding, 201, 151));
  EXPECT_EQ(ShapeCount(rings[0], ShapeInput), 0);  // clicks pass through
  // Not reading yet: it stays yellow.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(ScreenPixel(98, 118), kYellow);
  EXPECT_EQ(ScreenPixel(301, 271), kYellow);
  EXPECT_NE(ScreenPixel(100, 120), kYellow);
}

TEST_F(FrameFormTest, WholeScreenRingStartsAboveTheLeftCorner) {
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"capture_flags", "+showframe"}}), 0);
  const auto rings = Rings();
  ASSERT_EQ(rings.size(), 1u);
  int x = 0, y = 0, w = 0, h = 0, sw = 0, sh = 0;
  Geometry(rings[0], x, y, w, h);
  test::ScreenSize(sw, sh);
  EXPECT_EQ(x, -2);
  EXPECT_EQ(y, -2);
  EXPECT_EQ(w, sw + 4);
  EXPECT_EQ(h, sh + 4);
}

TEST_F(FrameFormTest, FlashesOnceReadingStartedAndStaysOutOfThePicture) {
  TTestWindow under(100, 120, 200, 150, 0x000000);
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"capture_offset", "100,120"}, {"video_size", "200x150"},
                                   {"framerate", "20"}, {"capture_flags", "+showframe-cursor"}}),
            0);
  std::vector<uint32_t> seen;
  const auto packets = input.ReadUntil(
      [&](const std::vector<TPacketPtr>&) {
        const uint32_t p = ScreenPixel(99, 200);
        if (seen.empty() || seen.back() != p) seen.push_back(p);
        return seen.size() >= 3;
      },
      4000);
  // Yellow, then blue, then yellow again, about every half second.
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[0], kYellow);
  EXPECT_EQ(seen[1], kBlue);
  EXPECT_EQ(seen[2], kYellow);
  ASSERT_FALSE(packets.empty());
  for (const TPacketPtr& p : packets) {
    for (int x = 0; x < 200; x += 7) {
      ASSERT_EQ(test::PixelAt(p.get(), 200, x, 0), 0u);
      ASSERT_EQ(test::PixelAt(p.get(), 200, x, 149), 0u);
    }
    for (int y = 0; y < 150; y += 7) {
      ASSERT_EQ(test::PixelAt(p.get(), 200, 0, y), 0u);
      ASSERT_EQ(test::PixelAt(p.get(), 200, 199, y), 0u);
    }
  }
}

TEST_F(FrameFormTest, FollowsTheCapturedWindow) {
  TTestWindow window(150, 150, 120, 80, 0x202020);
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=" + std::to_string(window.Id()), {{"capture_flags", "+client+showframe"}}), 0);
  auto rings = Rings();
  ASSERT_EQ(rings.size(), 1u);
  int x = 0, y = 0, w = 0, h = 0;
  Geometry(rings[0], x, y, w, h);
  EXPECT_EQ(x, 148);
  EXPECT_EQ(y, 148);
  EXPECT_EQ(w, 124);
  EXPECT_EQ(h, 84);
  window.Move(400, 300);
  const int64_t moved = av_gettime();
  int64_t followed = -1;
  while (av_gettime() - moved < 2000000) {
    Geometry(rings[0], x, y, w, h);
    if (x == 398 && y == 298) {
      followed = av_gettime() - moved;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_GE(followed, 0) << "the ring did not follow";
  EXPECT_LT(followed, 500000);  // every 10 ms nominally; generous under load
}

TEST_F(FrameFormTest, GoneAfterClose) {
  {
    TCaptureInput input;
    ASSERT_EQ(input.Open("video=0", {{"video_size", "50x50"}, {"capture_flags", "+showframe"}}), 0);
    EXPECT_EQ(Rings().size(), 1u);
  }
  EXPECT_TRUE(Rings().empty());
  EXPECT_EQ(LiveCaptureWindows().load(), 0);
}

TEST_F(FrameFormTest, NoRingWithoutTheFlag) {
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0", {{"video_size", "50x50"}, {"capture_flags", "+client+cursor-showframe"}}), 0);
  EXPECT_TRUE(Rings().empty());
}

}  // namespace
}  // namespace vexa
