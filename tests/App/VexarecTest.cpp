// vexarec as a program: its recordings, signals, answers and usage errors.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QThread>
#include <QProcess>
#include <QTemporaryDir>

#include "App/AppTestSupport.h"
#include "App/RecordingTestSupport.h"
#include "FFEncode/EncoderTestSupport.h"
#include "GDICapture/CaptureTestSupport.h"
#include "core/IniFile.h"

using namespace vexa;
using namespace vexa::test;

namespace {

class VexarecTest : public testing::Test {
 protected:
  void SetUp() override {
    Out = Dir.filePath("out");
    Settings = Dir.filePath("s.ini");
  }
  // Starts vexarec with the test's settings file and output folder.
  void Start(QStringList AArgs, const QProcessEnvironment& AEnv = QProcessEnvironment::systemEnvironment()) {
    AArgs = QStringList{"--settings", Settings, "--output-dir", Out, "--region", "40,40,320x240"} + AArgs;
    Process.setProcessEnvironment(AEnv);
    Process.start(QStringLiteral(VEXAREC_PATH), AArgs);
    ASSERT_TRUE(Process.waitForStarted(10000));
  }
  // Waits for the first status line: the recording runs.
  bool WaitForRecording() {
    QByteArray out;
    for (int i = 0; i < 200 && !out.contains("Recorder Status: Frame number"); ++i) {
      Process.waitForReadyRead(100);
      out += Process.readAllStandardOutput();
    }
    Stdout += out;
    return out.contains("Recorder Status: Frame number");
  }
  int Finish(int AMs = 30000) {
    EXPECT_TRUE(Process.waitForFinished(AMs));
    Stdout += Process.readAllStandardOutput();
    Stderr = Process.readAllStandardError();
    return Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
  }
  QStringList Files() const { return QDir(Out).entryList(QDir::Files); }

  QTemporaryDir Dir;
  QString Out, Settings;
  QProcess Process;
  QByteArray Stdout, Stderr;
};

TEST_F(VexarecTest, SignalsLeaveAFinishedFile) {
  VEXA_REQUIRE_DISPLAY();
  if (HaveSound()) {
    ASSERT_TRUE(SharedPlayer().Ok());
  }
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    Start({"--format", "mkv"});
    ASSERT_TRUE(WaitForRecording()) << Process.readAllStandardError().toStdString();
    QThread::msleep(1000);
    ::kill(static_cast<pid_t>(Process.processId()), sig);
    EXPECT_EQ(Finish(), 0) << Stderr.toStdString();
    EXPECT_TRUE(Stdout.contains("vexarec: saved " + Out.toUtf8() + "/VexaScreenRecorder-320-240_(new"));
  }
  EXPECT_EQ(Files().join(' '),
            QStringLiteral("VexaScreenRecorder-320-240_(new).mkv VexaScreenRecorder-320-240_(new_1).mkv"));
  for (const QString& name : Files()) {
    const TReadBack back = ReadBack((Out + '/' + name).toStdString());
    EXPECT_TRUE(IsFinishedFile(back)) << name.toStdString();
    EXPECT_GE(back.VideoFrames, 10);
  }
  EXPECT_FALSE(QFile::exists(Settings)) << "one-off overrides never write the settings file";
}

TEST_F(VexarecTest, LengthLimitFromTheCommandLineAndSave) {
  VEXA_REQUIRE_DISPLAY();
  Start({"--length", "1", "--fps", "10", "--no-sound", "--format", "avi", "--save"});
  EXPECT_EQ(Finish(), 0) << Stderr.toStdString();
  ASSERT_EQ(Files().size(), 1);
  const TFileStreams streams = ProbeStreams(Out + '/' + Files()[0]);
  EXPECT_EQ(streams.Video.Codec, "rawvideo");
  EXPECT_TRUE(streams.Audio.Codec.empty());
  // The limit is checked at each progress notice (every 0.5 s); what the
  // capture still holds at the stop is written too (a frame or two more).
  EXPECT_NEAR(streams.Video.End - streams.Video.Start, 1.0, 0.5 + 3.0 / 10);
  // --save stored what the window's controls would have.
  TIniFile ini(Settings);
  EXPECT_EQ(ini.ReadString("settings", "RecLength", ""), QStringLiteral("1"));
  EXPECT_EQ(ini.ReadString("settings", "chkLength", ""), QStringLiteral("1"));
  EXPECT_EQ(ini.ReadString("settings", "framerate", ""), QStringLiteral("10"));
  EXPECT_EQ(ini.ReadString("settings", "format", ""), QStringLiteral("5"));
  EXPECT_EQ(ini.ReadString("settings", "recordwithaudio", ""), QStringLiteral("0"));
  EXPECT_EQ(ini.ReadString("settings", "width", ""), QStringLiteral("320"));
  EXPECT_EQ(ini.ReadString("settings", "OutPutDir", ""), Out);
}

TEST_F(VexarecTest, MissingSoundServerAsksOrAnswersByFlag) {
  VEXA_REQUIRE_DISPLAY();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PULSE_SERVER", "unix:/nonexistent/pulse");
  // No terminal to ask on, no flag: the answer is no.
  Start({"--sound"}, env);
  EXPECT_EQ(Finish(), 1);
  EXPECT_TRUE(Stderr.contains("No audio capture device fund.Audio can't been record!")) << Stderr.toStdString();
  EXPECT_TRUE(Stderr.contains("--no-sound-answer yes"));
  EXPECT_TRUE(Files().isEmpty());

  Start({"--sound", "--length", "1", "--no-sound-answer", "yes"}, env);
  EXPECT_EQ(Finish(), 0) << Stderr.toStdString();
  ASSERT_EQ(Files().size(), 1);
  const TFileStreams streams = ProbeStreams(Out + '/' + Files()[0]);
  EXPECT_EQ(streams.Video.Codec, "mpeg4");
  EXPECT_EQ(streams.StreamCount, 1);
}

TEST_F(VexarecTest, UsageErrorsExitTwo) {
  const QStringList bad[] = {{"--bogus"},          {"--format", "mov"},   {"--fps", "31"},
                             {"--length", "-3"},   {"--length"},          {"--region", "10,10,0x0"},
                             {"--region", "a,b,cxd"}, {"--no-sound-answer", "maybe"}, {"extra"}};
  for (const QStringList& args : bad) {
    Process.start(QStringLiteral(VEXAREC_PATH), args);
    ASSERT_TRUE(Process.waitForStarted());
    EXPECT_EQ(Finish(), 2) << args.join(' ').toStdString();
    EXPECT_TRUE(Stderr.startsWith("vexarec: ")) << Stderr.toStdString();
    EXPECT_TRUE(Stderr.contains("(see --help)")) << Stderr.toStdString();
  }
  Process.start(QStringLiteral(VEXAREC_PATH), {"--help"});
  EXPECT_EQ(Finish(), 0);
  EXPECT_TRUE(Stdout.contains("usage: vexarec [options]"));
  EXPECT_TRUE(Stdout.contains("--no-sound-answer"));
}

}  // namespace
