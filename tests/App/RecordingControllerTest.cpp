// Recordings through the controller: the real capture on the test display
// and sink, real files decoded again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

#include "App/AppTestSupport.h"
#include "App/RecordingTestSupport.h"
#include "FFEncode/EncoderTestSupport.h"
#include "GDICapture/CaptureTestSupport.h"
#include "core/RecordingController.h"
#include "core/Settings.h"

using namespace vexa;
using namespace vexa::test;

namespace {

constexpr unsigned kBlue = 0x0000FF;

class RecordingControllerTest : public testing::Test {
 protected:
  void SetUp() override {
    VEXA_REQUIRE_DISPLAY();
    Out = Dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(Out));
    Ini.WriteString("settings", "OutPutDir", Out);
    Ini.WriteString("settings", "framerate", "15");
    // A stream playing into the test sink keeps its monitor source delivering
    // sound at a settled latency.
    if (HaveSound()) {
      ASSERT_TRUE(SharedPlayer().Ok());
    }
    Window = std::make_unique<TTestWindow>(40, 40, 400, 300, kBlue);
    Window->Sync();
    Controller = std::make_unique<TRecordingController>(Encoder, Host, Ini.FileName());
  }

  // A W x H region inside the test window; the settings hold its size as
  // the window stores the fields.
  TRecordControls Region(int format, int w = 320, int h = 240) {
    TRecordControls c;
    c.Left = "60";
    c.Top = "60";
    c.Width = QString::number(w);
    c.Height = QString::number(h);
    Ini.WriteString("settings", "width", c.Width);
    Ini.WriteString("settings", "height", c.Height);
    c.FormatIndex = format;
    c.RecordWithAudio = HaveSound();
    c.SampleRateText = "44100";
    c.QualityIndex = 2;
    return c;
  }

  // Runs the front end's loop (main-thread queue and the 5 ms stop timer)
  // until the final terminate notice or ATimeoutMs.
  bool WaitForEnd(int ATimeoutMs = 20000) {
    const int opened = Host.OpenedFolders.size();
    return PumpUntil(
        [&] {
          Controller->StopTimerTick();
          return Host.OpenedFolders.size() > opened;
        },
        ATimeoutMs);
  }

  // Starts, records for AMs, stops; the file's name.
  QString Record(const TRecordControls& AControls, int AMs) {
    EXPECT_TRUE(Controller->Start(AControls)) << Encoder.LastErrMsg();
    PumpFor(AMs);
    Controller->Stop();
    EXPECT_TRUE(WaitForEnd());
    return Controller->OutputFileName();
  }

  QTemporaryDir Dir;
  TScopedEnv Home{"HOME", Dir.path()};
  TIniFile Ini{Dir.filePath(QStringLiteral("vexascreenrecorder.ini"))};
  QString Out;
  TTestHost Host;
  TFFEncoder Encoder;
  std::unique_ptr<TRecordingController> Controller;
  std::unique_ptr<TTestWindow> Window;
};

TEST_F(RecordingControllerTest, EveryFormatRecordsToTheLengthLimit) {
  struct TCase {
    int Format;
    const char* Video;
    const char* Audio;
  } cases[] = {{0, "mpeg4", "aac"},     {1, "flv1", "mp3"},       {2, "flv1", "mp3"},     {3, "wmv2", "wmav2"},
               {4, "h264", "vorbis"},   {5, "rawvideo", "mp3"},   {6, "vp8", "vorbis"}};
  Ini.WriteBool("settings", "chkLength", true);
  Ini.WriteString("settings", "RecLength", "2");
  // After the other recording suites have used the test sink, its monitor
  // has been seen to deliver nothing for the first seconds of the next
  // process's first recording. One unchecked recording (another size, so
  // another file name) lets it settle before the formats are compared.
  if (HaveSound()) {
    ASSERT_TRUE(Controller->Start(Region(0, 160, 120))) << Encoder.LastErrMsg();
    ASSERT_TRUE(WaitForEnd(15000));
  }
  const int openedBefore = Host.OpenedFolders.size();
  for (const TCase& c : cases) {
    SCOPED_TRACE(OutputFormat(c.Format).Name);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(Controller->Start(Region(c.Format))) << Encoder.LastErrMsg();
    EXPECT_EQ(Host.States.back(), rsRecording);
    ASSERT_TRUE(WaitForEnd(15000)) << "the length limit did not stop the recording";
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_TRUE(Controller->LengthReached()) << Controller->LastTaskResult().ExceptionMsg;
    EXPECT_EQ(Host.States.back(), rsIdle);

    const QString file = Controller->OutputFileName();
    EXPECT_TRUE(file.endsWith(QStringLiteral("VexaScreenRecorder-320-240_(new)") + OutputFormat(c.Format).Extension));
    const TReadBack back = ReadBack(file.toStdString());
    ASSERT_TRUE(IsFinishedFile(back));
    const TFileStreams streams = ProbeStreams(file);
    EXPECT_EQ(streams.Video.Codec, c.Video);
    if (HaveSound()) {
      EXPECT_EQ(streams.StreamCount, 2);
      EXPECT_EQ(streams.Audio.Codec, c.Audio);
    } else {
      EXPECT_EQ(streams.StreamCount, 1);
    }
    EXPECT_EQ(back.VideoWidth, 320);
    EXPECT_EQ(back.VideoHeight, 240);

    const TDecodedVideo video = DecodeVideo(file, nullptr);
    ASSERT_GE(video.Frames, 2);
    const double duration = video.Times.back() - video.Times.front() + 1.0 / 15;
    EXPECT_NEAR(video.Frames, 15 * duration, 2.0) << "frames " << video.Frames << " over " << duration << " s";
    // Stopped within one progress interval (0.5 s) of the 2 s limit. The
    // limit is checked on the output's time, so an encoder that holds frames
    // back (libvpx may look up to 25 frames ahead) ends later by its
    // look-ahead.
    const double lookAhead = c.Format == 6 ? 25.0 / 15 : 0.0;
    EXPECT_GE(duration, 2.0 - 0.1);
    EXPECT_LE(duration, 2.0 + 0.5 + 0.3 + lookAhead) << "wall " << wall;
  }
  ASSERT_FALSE(Host.StatusTexts.isEmpty());
  const QRegularExpression status(
      QStringLiteral("^Recorder Status: Frame number: \\d+; FPS: -?\\d+; Size: \\d+; Time: \\d+ Seconds$"));
  for (const QString& text : Host.StatusTexts) EXPECT_TRUE(status.match(text).hasMatch()) << text.toStdString();
  EXPECT_EQ(Host.OpenedFolders.size() - openedBefore, 7);
  EXPECT_EQ(Host.OpenedFolders.back(), Out);
}

TEST_F(RecordingControllerTest, SameSizeAndFormatCountUpInOneFolder) {
  QStringList names;
  for (int i = 0; i < 3; ++i) names << QFileInfo(Record(Region(0), 700)).fileName();
  EXPECT_EQ(names.join(' '), QStringLiteral("VexaScreenRecorder-320-240_(new).mp4 VexaScreenRecorder-320-240_(new_1).mp4 "
                                            "VexaScreenRecorder-320-240_(new_2).mp4"));
  for (const QString& name : names) {
    const TReadBack back = ReadBack((Out + '/' + name).toStdString());
    EXPECT_TRUE(IsFinishedFile(back));
    if (HaveSound()) {
      EXPECT_GT(back.AudioSamples, 0) << name.toStdString();
    }
  }
}

TEST_F(RecordingControllerTest, WatermarkFromAPictureWithAnAwkwardName) {
  const QString picture = Dir.filePath(QStringLiteral("logo a:b 'c' [d],e;f.png"));
  QImage logo(40, 30, QImage::Format_RGB32);
  logo.fill(QColor(0, 255, 0));
  ASSERT_TRUE(logo.save(picture, "PNG"));
  // A decoy the name's pieces would point at, were they read as filters.
  QImage(40, 30, QImage::Format_RGB32).save(Dir.filePath(QStringLiteral("logo a")), "PNG");
  Ini.WriteBool("settings", "chkAddWatermark", true);
  Ini.WriteString("imageoptions", "path", picture);
  Ini.WriteString("imageoptions", "position", "9");
  const QString file = Record(Region(5), 1200);  // avi, raw video: exact pixels
  EXPECT_TRUE(Controller->Lines().OutputLine.contains(QStringLiteral(" -vf \"movie=")));
  const TDecodedVideo video = DecodeVideo(file, [](int i) { return i == 5; });
  ASSERT_EQ(video.Images.size(), 1u);
  const QImage& frame = video.Images[0];
  // Position 9: right and bottom margins of 5 pixels (the blend works on
  // 2 x 2 chroma blocks, so the corner may move up and left by a pixel).
  const QRect expected(320 - 5 - 40, 240 - 5 - 30, 40, 30);
  EXPECT_TRUE(Near(Rgb(frame, expected.center().x(), expected.center().y()), 0x00FF00, 8));
  EXPECT_TRUE(Near(Rgb(frame, expected.left() + 1, expected.top() + 1), 0x00FF00, 8));
  EXPECT_TRUE(Near(Rgb(frame, expected.right() - 1, expected.bottom() - 1), 0x00FF00, 8));
  EXPECT_TRUE(Near(Rgb(frame, expected.left() - 2, expected.center().y()), kBlue, 8));
  EXPECT_TRUE(Near(Rgb(frame, expected.right() + 2, expected.center().y()), kBlue, 8));
  EXPECT_TRUE(Near(Rgb(frame, expected.center().x(), expected.top() - 2), kBlue, 8));
  EXPECT_TRUE(Near(Rgb(frame, expected.center().x(), expected.bottom() + 2), kBlue, 8));
  EXPECT_TRUE(Near(Rgb(frame, 10, 10), kBlue, 8));
}

TEST_F(RecordingControllerTest, TextOverlayLandsAtEachPosition) {
  Ini.WriteBool("settings", "chkAddText", true);
  Ini.WriteString("settings", "edtAddText", "Vexa 9");
  Ini.WriteString("fontoptions", "textcolor", "clWhite");
  Ini.WriteBool("fontoptions", "baddtextbkcolor", true);
  Ini.WriteString("fontoptions", "backgroundcolor", "clRed");
  Ini.WriteString("fontoptions", "font-size", "14");
  Ini.WriteString("settings", "framerate", "10");
  const QFontMetrics metrics(MakeOverlayFont(ReadOverlayFont(Ini, "fontoptions")));
  const QSize size(metrics.horizontalAdvance(QStringLiteral("Vexa 9")), metrics.height());
  for (int p = 1; p <= 9; ++p) {
    SCOPED_TRACE(p);
    Ini.WriteInteger("fontoptions", "position", p);
    const QString file = Record(Region(5), 700);
    QFile::remove(file + ".keep");
    const TDecodedVideo video = DecodeVideo(file, [](int i) { return i == 2; });
    ASSERT_EQ(video.Images.size(), 1u);
    const QImage& frame = video.Images[0];
    QPoint place;
    OverlayPlace(p, 320, 240, size.width(), size.height(), place);
    QRect red;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x)
        if (Near(Rgb(frame, x, y), 0xFF0000, 10)) red |= QRect(x, y, 1, 1);
    EXPECT_EQ(red.topLeft(), place);
    EXPECT_EQ(red.bottomRight(), place + QPoint(size.width() - 1, size.height() - 1));
    QFile::remove(file);
  }
}

TEST_F(RecordingControllerTest, OverlaysWithoutBackgroundTimestampAndDefaultFont) {
  // Text never styled: default face and size, bold, italic, underlined and
  // struck out, black; here without background. The timestamp at 7.
  Ini.WriteBool("settings", "chkAddText", true);
  Ini.WriteString("settings", "edtAddText", "MMMMMMMM");
  Ini.WriteString("fontoptions", "position", "1");
  Ini.WriteBool("settings", "chkAddTimestamp", true);
  Ini.WriteString("settings", "edtAddTimestamp", "Rec");
  Ini.WriteString("timestampoptions", "position", "7");
  Ini.WriteString("timestampoptions", "textcolor", "clWhite");
  Ini.WriteString("settings", "framerate", "10");
  const QString file = Record(Region(5), 1500);
  const TDecodedVideo video = DecodeVideo(file, [](int i) { return i == 2 || i == 10; });
  ASSERT_EQ(video.Images.size(), 2u);
  const QImage& first = video.Images[0];
  const QImage& later = video.Images[1];

  const QFontMetrics metrics(MakeOverlayFont(TOverlayFontSpec()));
  const int tw = metrics.horizontalAdvance(QStringLiteral("MMMMMMMM"));
  // Glyphs only: black pixels, and the blue shows between them.
  int black = 0, blue = 0, fullRows = 0;
  for (int y = 5; y < 5 + metrics.height(); ++y) {
    int rowBlack = 0;
    for (int x = 5; x < 5 + tw; ++x) {
      const unsigned c = Rgb(first, x, y);
      if (Near(c, 0x000000, 60)) ++rowBlack;
      if (Near(c, kBlue, 30)) ++blue;
    }
    black += rowBlack;
    if (rowBlack >= tw * 9 / 10) ++fullRows;  // underline and strike-out lines
  }
  EXPECT_GT(black, 0);
  EXPECT_GT(blue, 0) << "no background: the frame shows between the glyphs";
  EXPECT_GE(fullRows, 2) << "underline and strike-out cross the whole text";
  EXPECT_FALSE(Near(Rgb(first, 5 + tw + 3, 5 + metrics.height() / 2), 0x000000, 60));

  // The timestamp at the bottom left changes from frame 2 to frame 10.
  const int stampHeight = metrics.height();
  const QRect stamp(5, 240 - 5 - stampHeight, 200, stampHeight);
  int white = 0, differing = 0;
  for (int y = stamp.top(); y <= stamp.bottom(); ++y)
    for (int x = stamp.left(); x <= stamp.right(); ++x) {
      if (Near(Rgb(first, x, y), 0xFFFFFF, 60)) ++white;
      if (!Near(Rgb(first, x, y), Rgb(later, x, y), 30)) ++differing;
    }
  EXPECT_GT(white, 20);
  EXPECT_GT(differing, 5) << "the time advances";
}

TEST_F(RecordingControllerTest, DelayCountsDownBeforeTheRecording) {
  Ini.WriteBool("settings", "chkDelay", true);
  Ini.WriteString("settings", "delay", "3");
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(Controller->Start(Region(0)));
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_EQ(Host.StartCaptions.size(), 299);
  EXPECT_EQ(Host.StartCaptions.front(), QStringLiteral("2990ms"));
  EXPECT_EQ(Host.StartCaptions[297], QStringLiteral("20ms"));
  EXPECT_EQ(Host.StartCaptions.back(), QStringLiteral("&Start"));
  ASSERT_GE(Host.StatusTexts.size(), 298);
  EXPECT_EQ(Host.StatusTexts.filter(QStringLiteral("Recorder Status: Delay 2 seconds")).size(), 100);
  EXPECT_EQ(Host.StatusTexts.filter(QStringLiteral("Recorder Status: Delay 1 seconds")).size(), 100);
  EXPECT_EQ(Host.StatusTexts.filter(QStringLiteral("Recorder Status: Delay 0 seconds")).size(), 98);
  EXPECT_EQ(Host.StatusTexts[100], QStringLiteral("Recorder Status: Delay 1 seconds"));
  EXPECT_GE(waited, 2.95);
  EXPECT_LT(waited, 6.0);
  PumpFor(600);
  Controller->Stop();
  EXPECT_TRUE(WaitForEnd());
  EXPECT_TRUE(IsFinishedFile(ReadBack(Controller->OutputFileName().toStdString())));
}

TEST_F(RecordingControllerTest, PauseAndResumeKeepPictureAndSoundInStep) {
  if (!HaveSound()) GTEST_SKIP() << "no sound server";
  ASSERT_TRUE(Controller->Start(Region(0)));
  PumpFor(1500);
  Controller->Pause();
  EXPECT_EQ(Host.States.back(), rsPaused);
  PumpFor(1500);
  Controller->Resume();
  EXPECT_EQ(Host.States.back(), rsResumed);
  PumpFor(1500);
  Controller->Stop();
  ASSERT_TRUE(WaitForEnd());
  const TReadBack back = ReadBack(Controller->OutputFileName().toStdString());
  ASSERT_TRUE(IsFinishedFile(back));
  const TDecodedVideo video = DecodeVideo(Controller->OutputFileName(), nullptr);
  const TFileStreams streams = ProbeStreams(Controller->OutputFileName());
  const double videoSeconds = video.Frames / 15.0;
  const double audioSeconds = static_cast<double>(back.AudioSamples) / back.AudioSampleRate;
  std::printf("pause: %d video frames (%.2f s, %.2f-%.2f), %.2f s of sound (%.2f-%.2f)\n", video.Frames,
              videoSeconds, streams.Video.Start, streams.Video.End, audioSeconds, streams.Audio.Start,
              streams.Audio.End);
  EXPECT_NEAR(audioSeconds, videoSeconds, 0.35);
}

TEST_F(RecordingControllerTest, NoSoundDeviceAsksAndRecordsWithoutSound) {
  TScopedEnv noServer("PULSE_SERVER", QStringLiteral("unix:/nonexistent/pulse"));
  TRecordControls c = Region(0);
  c.RecordWithAudio = true;
  Host.Answer = false;
  EXPECT_FALSE(Controller->Start(c));
  ASSERT_EQ(Host.Questions.size(), 1);
  EXPECT_EQ(Host.Questions[0],
            QStringLiteral("No audio capture device fund.Audio can't been record!\r\nDo you want to continue running it?"));
  EXPECT_FALSE(Encoder.Working());
  EXPECT_TRUE(QDir(Out).entryList(QDir::Files).isEmpty());

  Host.Answer = true;
  const QString file = Record(c, 1000);
  EXPECT_EQ(Host.AudioUntickedCount, 1);
  EXPECT_EQ(Controller->Lines().DeviceName, QStringLiteral("video=0"));
  EXPECT_FALSE(Controller->Lines().OutputLine.contains(QStringLiteral("-b:a")));
  const TReadBack back = ReadBack(file.toStdString());
  ASSERT_TRUE(IsFinishedFile(back));
  EXPECT_EQ(back.Codecs, std::vector<std::string>{"mpeg4"});
}

TEST_F(RecordingControllerTest, StartFailuresLeaveTheRecorderIdle) {
  TRecordControls c = Region(0);
  c.Width = "8OO";
  EXPECT_FALSE(Controller->Start(c));
  ASSERT_EQ(Host.Warnings.size(), 1);
  EXPECT_EQ(Host.Warnings[0], QStringLiteral("'8OO' is not a valid integer value"));
  EXPECT_FALSE(Encoder.Working());
  EXPECT_EQ(Controller->State(), rsIdle);

  // An output folder that cannot be created: warned, then the output fails.
  QFile blocker(Dir.filePath("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  const QString blocked = Dir.filePath("blocker/out");
  Ini.WriteString("settings", "OutPutDir", blocked);
  EXPECT_FALSE(Controller->Start(Region(0)));
  ASSERT_EQ(Host.Warnings.size(), 2);
  EXPECT_TRUE(Host.Warnings[1].startsWith(QStringLiteral("Cannot create output directory:") + blocked));
  EXPECT_EQ(Ini.ReadString("settings", "OutPutDir", ""), Dir.filePath("videoconverter"));
  EXPECT_TRUE(Controller->OutputFileName().startsWith(blocked + '/'));
  EXPECT_FALSE(Encoder.Working());
  EXPECT_TRUE(Host.States.empty());

  // Stop while idle only resets the controls.
  Controller->Stop();
  EXPECT_EQ(Host.States.back(), rsIdle);
}

}  // namespace
