// Recording from the main window: the buttons, the hot keys (pressed through
// XTest), the enabled states of each phase, the length limit, the output
// folder shown afterwards and the exit question.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "AppUiSupport.h"
#include "FFEncode/EncoderTestSupport.h"
#include "Support/LogRecorder.h"
#include "core/RecordingController.h"

// Xlib's macros (None, Bool) clash with Qt's names: included last.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace vexa::test {
namespace {

class TRecordingTest : public TMainWindowTest {
 protected:
  // A small region in the corner, recorded as mp4 with sound.
  app::TfrmMain& ShowSmallRegion() {
    app::TfrmMain& window = ShowWindow();
    Child<QLineEdit>("edtLeft")->setText("0");
    Child<QLineEdit>("edtTop")->setText("0");
    Child<QLineEdit>("edtW")->setText("320");
    Child<QLineEdit>("edtH")->setText("240");
    return window;
  }

  QString OutputFile(const QString& suffix) const {
    return AllUsersFolder() + "/VexaScreenRecorder-320-240_(" + suffix + ").mp4";
  }

  bool WaitForState(TRecorderState state, int timeoutMs = 20000) {
    return QTest::qWaitFor([&] { return Window().State() == state; }, timeoutMs);
  }

  // The buttons' enabled states, in the order Start, Default, Pause, Resume, Stop, Exit.
  std::vector<bool> ButtonStates() {
    std::vector<bool> states;
    for (const char* name : {"btnStart", "btnDefault", "btnPause", "btnResume", "btnStop", "btnExit"})
      states.push_back(Child<QPushButton>(name)->isEnabled());
    return states;
  }

  void ExpectSettingsEnabled(bool on) {
    for (const char* name : {"btnSelect", "btnShow", "btnClose", "btnBrowse", "edtLeft", "edtTop", "edtW", "edtH",
                             "cmbPreset", "cmbFormat", "cmbFrameRate", "cmbQuality", "chk_audio", "cmbSampleRate",
                             "rdoStereo", "rdoMono"})
      EXPECT_EQ(Window().findChild<QWidget*>(name)->isEnabled(), on) << name;
    EXPECT_FALSE(Child<QLineEdit>("edtDir")->isEnabled());
  }

  void ExpectPlayable(const QString& file) {
    const TReadBack readBack = ReadBack(file.toStdString());
    EXPECT_TRUE(IsFinishedFile(readBack)) << file.toStdString();
    EXPECT_EQ(readBack.VideoWidth, 320);
    EXPECT_EQ(readBack.VideoHeight, 240);
    EXPECT_GT(readBack.VideoFrames, 0);
  }
};

const std::vector<bool> kIdle{true, true, false, false, false, true};
const std::vector<bool> kRecording{false, false, true, false, true, false};
const std::vector<bool> kPaused{false, false, false, true, true, false};

TEST_F(TRecordingTest, ButtonsRecordPauseResumeAndStop) {
  ShowSmallRegion();
  EXPECT_EQ(ButtonStates(), kIdle);
  QTest::mouseClick(Child<QPushButton>("btnStart"), Qt::LeftButton);
  ASSERT_TRUE(WaitForState(rsRecording));
  EXPECT_EQ(Window().Controller().OutputFileName(), OutputFile("new"));
  EXPECT_EQ(ButtonStates(), kRecording);
  ExpectSettingsEnabled(false);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Window().StatusText().startsWith("Recorder Status: Frame number: "); }));
  QTest::mouseClick(Child<QPushButton>("btnPause"), Qt::LeftButton);
  EXPECT_EQ(ButtonStates(), kPaused);
  QTest::qWait(300);
  QTest::mouseClick(Child<QPushButton>("btnResume"), Qt::LeftButton);
  EXPECT_EQ(ButtonStates(), kRecording);
  QTest::qWait(800);
  QTest::mouseClick(Child<QPushButton>("btnStop"), Qt::LeftButton);
  EXPECT_EQ(ButtonStates(), kIdle);
  ExpectSettingsEnabled(true);
  // After the final terminate the output folder is shown.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !OpenedUrls.empty(); }));
  ASSERT_EQ(OpenedUrls.size(), 1u);
  EXPECT_EQ(OpenedUrls[0], QUrl::fromLocalFile(AllUsersFolder()));
  ExpectPlayable(OutputFile("new"));
}

TEST_F(TRecordingTest, HotKeysRecordAndStopAndBeepWhenTheirButtonIsOff) {
  ShowSmallRegion();
  int beeps = Window().BeepCount();
  PressAltKey('p');  // Pause while idle: only a beep
  EXPECT_TRUE(QTest::qWaitFor([&] { return Window().BeepCount() == beeps + 1; }));
  EXPECT_EQ(Window().State(), rsIdle);
  PressAltKey('s');
  ASSERT_TRUE(WaitForState(rsRecording));
  beeps = Window().BeepCount();
  PressAltKey('s');  // Start while recording: only a beep
  EXPECT_TRUE(QTest::qWaitFor([&] { return Window().BeepCount() == beeps + 1; }));
  EXPECT_EQ(Window().State(), rsRecording);
  PressAltKey('p');
  ASSERT_TRUE(WaitForState(rsPaused));
  PressAltKey('r');
  ASSERT_TRUE(WaitForState(rsResumed));
  QTest::qWait(800);
  PressAltKey('t');
  ASSERT_TRUE(WaitForState(rsIdle));
  EXPECT_EQ(ButtonStates(), kIdle);
  ExpectPlayable(OutputFile("new"));
  // The next recording of the same size and format gets the next name.
  PressAltKey('s');
  ASSERT_TRUE(WaitForState(rsRecording));
  EXPECT_EQ(Window().Controller().OutputFileName(), OutputFile("new_1"));
  QTest::qWait(500);
  PressAltKey('t');
  ASSERT_TRUE(WaitForState(rsIdle));
}

TEST_F(TRecordingTest, TheLengthLimitEndsARecordingByItself) {
  TIniFile ini = Ini();
  ini.WriteBool("settings", "chkLength", true);
  ini.WriteInteger("settings", "RecLength", 2);
  ShowSmallRegion();
  QTest::mouseClick(Child<QPushButton>("btnStart"), Qt::LeftButton);
  ASSERT_TRUE(WaitForState(rsRecording));
  ASSERT_TRUE(WaitForState(rsIdle, 30000));
  EXPECT_EQ(ButtonStates(), kIdle);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !OpenedUrls.empty(); }));
  const TReadBack readBack = ReadBack(OutputFile("new").toStdString());
  EXPECT_TRUE(IsFinishedFile(readBack));
  EXPECT_GT(readBack.VideoFrames, 15);
}

TEST_F(TRecordingTest, ExitAsksAndYesFinishesTheRecording) {
  app::TfrmMain& window = ShowSmallRegion();
  {
    TMessageBoxAnswer answer(QMessageBox::No);
    QTest::mouseClick(Child<QPushButton>("btnExit"), Qt::LeftButton);
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(answer.Caption(), "Warning");
    EXPECT_EQ(answer.Text(), "Do you really want to exit?");
  }
  EXPECT_TRUE(window.isVisible());
  QTest::mouseClick(Child<QPushButton>("btnStart"), Qt::LeftButton);
  ASSERT_TRUE(WaitForState(rsRecording));
  QTest::qWait(1000);
  // Exit is off while recording; the window's close box still asks.
  EXPECT_FALSE(Child<QPushButton>("btnExit")->isEnabled());
  TMessageBoxAnswer answer(QMessageBox::Yes);
  EXPECT_TRUE(window.close());
  EXPECT_TRUE(answer.Answered());
  EXPECT_FALSE(window.isVisible());
  ExpectPlayable(OutputFile("new"));
  // The hot keys are released: another client can take Alt+S now.
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  static bool refused;
  refused = false;
  auto* previous = XSetErrorHandler([](Display*, XErrorEvent* error) -> int {
    if (error->error_code == BadAccess) refused = true;
    return 0;
  });
  const KeyCode key = XKeysymToKeycode(display, XK_s);
  XGrabKey(display, key, Mod1Mask, DefaultRootWindow(display), True, GrabModeAsync, GrabModeAsync);
  XSync(display, False);
  XUngrabKey(display, key, Mod1Mask, DefaultRootWindow(display));
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  EXPECT_FALSE(refused);
}

TEST_F(TRecordingTest, AHotKeyHeldElsewhereIsLoggedOnceAndItsButtonStillWorks) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  const KeyCode key = XKeysymToKeycode(other, XK_t);
  XGrabKey(other, key, Mod1Mask, DefaultRootWindow(other), True, GrabModeAsync, GrabModeAsync);
  XSync(other, False);
  Window();  // its logger first: the recorder listens to the window's logger
  TLogRecorder log(llWarning);
  ShowSmallRegion();
  const auto held = log.MessagesWith("already held");
  ASSERT_EQ(held.size(), 1u);
  EXPECT_NE(held[0].find("VSRStophotKey"), std::string::npos);
  // The other keys work, and Stop still works from its button.
  PressAltKey('s');
  ASSERT_TRUE(WaitForState(rsRecording));
  QTest::qWait(500);
  QTest::mouseClick(Child<QPushButton>("btnStop"), Qt::LeftButton);
  EXPECT_EQ(Window().State(), rsIdle);
  XUngrabKey(other, key, Mod1Mask, DefaultRootWindow(other));
  XCloseDisplay(other);
}

}  // namespace
}  // namespace vexa::test
