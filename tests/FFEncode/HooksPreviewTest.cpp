// Hooks and previews through the encoder component: the preview bitmap event
// at its interval and its precedence over the window, the preview window on
// the test display (caption, moving, closing), and a screen recording whose
// every frame an input hook draws on.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "Base/MainThread.h"
#include "EncoderTestSupport.h"
#include "FFEncode/FFEncode.h"
#include "GDICapture/CaptureTestSupport.h"
#include "Previewer/Previewer.h"
#include "Support/LogRecorder.h"
#include "Support/MediaFixtures.h"

namespace vexa::test {
namespace {

// A test pattern read at its own pace (rate emulation), video only.
std::string PacedLine() { return "-f lavfi -re"; }

// The preview windows on the display.
std::vector<Window> PreviewWindows(Display* display) {
  std::vector<Window> found;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return found;
  for (unsigned i = 0; i < count; ++i) {
    XClassHint hint{};
    if (XGetClassHint(display, children[i], &hint)) {
      if (hint.res_class && strcmp(hint.res_class, "VexaPreview") == 0) found.push_back(children[i]);
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
  }
  if (children) XFree(children);
  return found;
}

struct TDisplay {
  TDisplay() : D(XOpenDisplay(nullptr)) {}
  ~TDisplay() {
    if (D) XCloseDisplay(D);
  }
  Display* D;
};

class HooksPreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Encoder.LoadLibraries("")) << Encoder.LastErrMsg();
    Encoder.SetOnTerminate([this](void*, const TTerminateInfo& info) {
      if (info.TaskIndex < 0) Ended = true;
    });
  }
  void TearDown() override {
    Encoder.Stop(true);
    PumpUntil([this] { return Ended.load() || !Encoder.Working(); }, 20000);
  }
  bool WaitForEnd(int ms = 30000) { return PumpUntil([this] { return Ended.load(); }, ms); }

  TFFEncoder Encoder;
  TTempDir Dir;
  std::atomic<bool> Ended{false};
};

TEST_F(HooksPreviewTest, PreviewBitmapArrivesAboutTenTimesASecond) {
  std::vector<int64_t> times;
  int width = 0, height = 0;
  bool mainThread = true;
  Encoder.SetPreviewBitmap(true);
  Encoder.SetOnPreviewBitmap([&](void*, const TPreviewInfo& info) {
    times.push_back(info.PTS);
    width = info.Bitmap->Width();
    height = info.Bitmap->Height();
    mainThread = mainThread && IsMainThread();
    EXPECT_EQ(info.TaskIndex, 0);
    EXPECT_GT(info.FrameNumber, 0);
  });
  ASSERT_EQ(AddLavfiTask(Encoder, LavfiVideo(2.0, 30), Dir.Path("out.mkv"), PacedLine(), "-c:v mpeg4"), 0)
      << Encoder.LastErrMsg();
  Encoder.StartTask(1);
  ASSERT_TRUE(WaitForEnd());
  // 2 s at 30 fps: one picture per 100 ms or a little more (every third or
  // fourth frame).
  EXPECT_GE(times.size(), 12u);
  EXPECT_LE(times.size(), 21u);
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 90000) << i;
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  EXPECT_TRUE(mainThread);
}

TEST_F(HooksPreviewTest, BitmapEventTakesPrecedenceOverTheWindow) {
  VEXA_REQUIRE_DISPLAY();
  TDisplay display;
  ASSERT_NE(display.D, nullptr);
  int events = 0;
  size_t windowsSeen = 0;
  Encoder.SetPreview(true);
  Encoder.SetPreviewBitmap(true);
  Encoder.SetOnPreviewBitmap([&](void*, const TPreviewInfo&) {
    ++events;
    windowsSeen += PreviewWindows(display.D).size();
    if (Encoder.Tasks().Items(0)->CurrentPreviewer()) ++windowsSeen;
  });
  ASSERT_EQ(AddLavfiTask(Encoder, LavfiVideo(1.0, 30), Dir.Path("out.mkv"), PacedLine(), "-c:v mpeg4"), 0)
      << Encoder.LastErrMsg();
  Encoder.StartTask(1);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_GE(events, 5);
  EXPECT_EQ(windowsSeen, 0u);
}

TEST_F(HooksPreviewTest, PreviewWindowShowsTheFramesAndClosingItEndsThePreview) {
  VEXA_REQUIRE_DISPLAY();
  TDisplay display;
  ASSERT_NE(display.D, nullptr);
  Encoder.SetPreview(true);
  ASSERT_EQ(AddLavfiTask(Encoder, LavfiVideo(8.0, 30), Dir.Path("out.mkv"), PacedLine(), "-c:v mpeg4"), 0)
      << Encoder.LastErrMsg();
  TFFmpeg* task = Encoder.Tasks().Items(0);
  Encoder.StartTask(1);

  std::vector<Window> windows;
  ASSERT_TRUE(PumpUntil([&] { return !(windows = PreviewWindows(display.D)).empty(); }, 10000));
  ASSERT_EQ(windows.size(), 1u);
  const Window window = windows[0];
  XWindowAttributes attributes{};
  ASSERT_TRUE(XGetWindowAttributes(display.D, window, &attributes));
  EXPECT_EQ(attributes.width, 320);
  EXPECT_EQ(attributes.height, 240);
  int screenW = 0, screenH = 0;
  ScreenSize(screenW, screenH);
  EXPECT_EQ(attributes.x, (screenW - 320) / 2);
  EXPECT_EQ(attributes.y, (screenH - 240) / 2);

  // The caption follows the frames' time.
  std::string first, later;
  auto caption = [&] {
    char* name = nullptr;
    std::string text;
    if (XFetchName(display.D, window, &name) && name) text = name;
    if (name) XFree(name);
    return text;
  };
  ASSERT_TRUE(PumpUntil([&] { return !(first = caption()).empty(); }, 5000));
  PumpFor(500);
  later = caption();
  const std::regex format("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d");
  EXPECT_TRUE(std::regex_match(first, format)) << first;
  EXPECT_TRUE(std::regex_match(later, format)) << later;
  EXPECT_NE(first, later);

  // The picture is the test pattern: not one flat colour.
  XImage* image = XGetImage(display.D, window, 0, 0, 320, 240, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  std::vector<unsigned long> colours;
  for (int x = 10; x < 320; x += 40) colours.push_back(XGetPixel(image, x, 60));
  XDestroyImage(image);
  std::sort(colours.begin(), colours.end());
  EXPECT_GE(std::unique(colours.begin(), colours.end()) - colours.begin(), 4);

  // A left press anywhere moves the window.
  const int startX = attributes.x + 100, startY = attributes.y + 100;
  XTestFakeMotionEvent(display.D, -1, startX, startY, CurrentTime);
  XTestFakeButtonEvent(display.D, 1, True, CurrentTime);
  XSync(display.D, False);
  PumpFor(300);
  XTestFakeMotionEvent(display.D, -1, startX + 40, startY + 30, CurrentTime);
  XSync(display.D, False);
  PumpFor(300);
  XTestFakeButtonEvent(display.D, 1, False, CurrentTime);
  XSync(display.D, False);
  PumpFor(300);
  XWindowAttributes moved{};
  ASSERT_TRUE(XGetWindowAttributes(display.D, window, &moved));
  EXPECT_EQ(moved.x, attributes.x + 40);
  EXPECT_EQ(moved.y, attributes.y + 30);

  // Closing it as a window manager does switches the window preview off.
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = window;
  close.xclient.message_type = XInternAtom(display.D, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(display.D, "WM_DELETE_WINDOW", False));
  close.xclient.data.l[1] = CurrentTime;
  XSendEvent(display.D, window, False, NoEventMask, &close);
  XSync(display.D, False);
  EXPECT_TRUE(PumpUntil([&] { return (task->GetPreviewFlags() & pfPreviewWindow) == 0; }, 5000));
  EXPECT_TRUE(PumpUntil([&] { return PreviewWindows(display.D).empty(); }, 5000));
  EXPECT_EQ(task->CurrentPreviewer(), nullptr);
  EXPECT_TRUE(Encoder.Working());
  PumpFor(400);
  EXPECT_TRUE(PreviewWindows(display.D).empty());
  Encoder.Stop(true);
}

TEST(PreviewerCaptionTest, TimeOfTheFrameOrNA) {
  EXPECT_EQ(TPreviewer::Caption(0), "00:00:00.005");
  EXPECT_EQ(TPreviewer::Caption(3723456000LL), "01:02:03.461");
  EXPECT_EQ(TPreviewer::Caption(994999), "00:00:00.999");
  EXPECT_EQ(TPreviewer::Caption(995000), "00:00:01.000");
  EXPECT_EQ(TPreviewer::Caption(INT64_MIN), "N/A");
}

}  // namespace
}  // namespace vexa::test
