#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <random>

#include "App/AppTestSupport.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/OutputFolder.h"
#include "core/Settings.h"

using namespace vexa;
using vexa::test::FileText;
using vexa::test::TScopedEnv;
using vexa::test::TTestHost;

namespace {

class SettingsTest : public testing::Test {
 protected:
  void WriteFile(const QByteArray& text) {
    QFile file(IniPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  QTemporaryDir Dir;
  QString IniPath = Dir.filePath(QStringLiteral("vexascreenrecorder.ini"));
  TIniFile Ini{IniPath};
};

TEST_F(SettingsTest, MissingFileYieldsEveryDefault) {
  ASSERT_FALSE(QFile::exists(IniPath));
  for (const TSettingKey& key : keys::AllSettingKeys())
    EXPECT_EQ(ReadSetting(Ini, key), QString::fromUtf8(key.Default)) << key.Section << "/" << key.Name;
  EXPECT_EQ(ReadIntSetting(Ini, keys::BitRate), 768);
  EXPECT_TRUE(ReadBoolSetting(Ini, keys::RecordWithAudio));
  EXPECT_TRUE(ReadBoolSetting(Ini, keys::Stereo));
  EXPECT_FALSE(ReadBoolSetting(Ini, keys::FullScreen));
  EXPECT_EQ(ReadSetting(Ini, keys::Left) + ReadSetting(Ini, keys::Top) + ReadSetting(Ini, keys::Width) +
                ReadSetting(Ini, keys::Height),
            QStringLiteral("1010800600"));
  EXPECT_EQ(ReadSetting(Ini, keys::FrameRate), QStringLiteral("15"));
  EXPECT_FALSE(QFile::exists(IniPath)) << "reading never creates the file";
}

TEST_F(SettingsTest, IntegersAndBooleansFollowTheFileConventions) {
  struct TCase {
    const char* Text;
    int Expected;  // -777: the default
  } cases[] = {{"12", 12},      {" -5 ", -5},   {"0x1F", 31},   {"0X1f", 31},        {"$1F", 31},
               {"+7", 7},       {"abc", -777},  {"", -777},     {"12abc", -777},     {"1.5", -777},
               {"0x", -777},    {"99999999999", -777},          {"-2147483648", -2147483647 - 1},
               {"0xFFFFFFFF", -1}};
  for (const TCase& c : cases) {
    ASSERT_TRUE(Ini.WriteString("s", "n", QString::fromUtf8(c.Text)));
    EXPECT_EQ(Ini.ReadInteger("s", "n", -777), c.Expected) << '"' << c.Text << '"';
  }
  struct TBoolCase {
    const char* Text;
    bool Default;
    bool Expected;
  } bools[] = {{"1", false, true}, {"0", true, false}, {"2", false, true}, {"-1", false, true},
               {"yes", true, true}, {"yes", false, false}, {"true", false, false}};
  for (const TBoolCase& c : bools) {
    ASSERT_TRUE(Ini.WriteString("s", "b", QString::fromUtf8(c.Text)));
    EXPECT_EQ(Ini.ReadBool("s", "b", c.Default), c.Expected) << c.Text;
  }
  ASSERT_TRUE(Ini.WriteBool("s", "b", true));
  ASSERT_TRUE(Ini.WriteInteger("s", "i", -42));
  EXPECT_EQ(Ini.ReadString("s", "b", ""), QStringLiteral("1"));
  EXPECT_EQ(Ini.ReadString("s", "i", ""), QStringLiteral("-42"));
}

TEST_F(SettingsTest, TextsRoundTripInUtf8KeyByKey) {
  const QString values[] = {QStringLiteral("Recording "), QStringLiteral("  both ends  "),
                            QStringLiteral("\"quoted\""), QStringLiteral("Grüße 録画 = ; [x]"),
                            QString(), QStringLiteral("a=b")};
  int n = 0;
  for (const QString& v : values) {
    const QString key = QStringLiteral("k%1").arg(n++);
    ASSERT_TRUE(Ini.WriteString(QStringLiteral("texts"), key, v));
    EXPECT_EQ(Ini.ReadString(QStringLiteral("texts"), key, QStringLiteral("?")), v) << v.toStdString();
  }
  EXPECT_TRUE(FileText(IniPath).contains(QStringLiteral("Grüße 録画")));
  // A line break cannot split a key into two lines (or inject another key).
  ASSERT_TRUE(Ini.WriteString("texts", "multi", "one\r\ntwo\nfirstrun=0"));
  EXPECT_EQ(Ini.ReadString("texts", "multi", ""), QStringLiteral("one two firstrun=0"));
  EXPECT_FALSE(Ini.ValueExists("texts", "firstrun"));
}

TEST_F(SettingsTest, WritesChangeOneKeyAndKeepTheRest) {
  WriteFile("; kept comment\r\n[Settings]\r\nLeft=1\r\nother = x y \r\n\r\n[fontoptions]\r\nposition=3\r\n");
  EXPECT_EQ(Ini.ReadString("settings", "left", ""), QStringLiteral("1")) << "names match without case";
  EXPECT_EQ(Ini.ReadString("settings", "other", ""), QStringLiteral("x y"));
  ASSERT_TRUE(Ini.WriteString("settings", "left", "25"));
  ASSERT_TRUE(Ini.WriteString("settings", "top", "30"));       // new key, same section
  ASSERT_TRUE(Ini.WriteString("imageoptions", "position", "9"));  // new section
  EXPECT_EQ(FileText(IniPath),
            QStringLiteral("; kept comment\r\n[Settings]\r\nleft=25\r\nother = x y \r\ntop=30\r\n\r\n[fontoptions]\r\n"
                           "position=3\r\n[imageoptions]\r\nposition=9\r\n"));
  EXPECT_EQ(Ini.ReadInteger("fontoptions", "position", 1), 3);
  EXPECT_EQ(Ini.ReadInteger("imageoptions", "position", 1), 9);
}

TEST_F(SettingsTest, ColoursByNameOrNumber) {
  struct TCase {
    const char* Text;
    QRgb Rgb;  // 0x01000000: malformed
  } cases[] = {{"ClBlack", 0x000000},    {"clBlack", 0x000000},   {"CLRED", 0xFF0000},
               {"clBlue", 0x0000FF},     {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xA6CAF0},
               {"clCream", 0xFFFBF0},    {"clMedGray", 0xA0A0A4}, {"$000000FF", 0xFF0000},
               {"$00FF0000", 0x0000FF},  {"$00123456", 0x563412}, {"bogus", 0x01000000},
               {"$FF000000", 0x01000000}, {"", 0x01000000}};
  for (const TCase& c : cases) {
    QColor color;
    const bool ok = ColorFromText(QString::fromUtf8(c.Text), color);
    EXPECT_EQ(ok, c.Rgb != 0x01000000) << c.Text;
    if (ok) {
      EXPECT_EQ(color.rgb() & 0xFFFFFF, c.Rgb) << c.Text;
    }
  }
  EXPECT_EQ(ColorToText(QColor(255, 0, 0)), QStringLiteral("clRed"));
  EXPECT_EQ(ColorToText(QColor(0x12, 0x34, 0x56)), QStringLiteral("$00563412"));
  ASSERT_TRUE(Ini.WriteString("fontoptions", "textcolor", "not a colour"));
  EXPECT_EQ(ReadColorSetting(Ini, "fontoptions", "textcolor", "clLime"), QColor(0, 255, 0));
}

TEST_F(SettingsTest, OverlayFontsNeverChosenAreAllStylesInTheDefaultFace) {
  TOverlayFontSpec font = ReadOverlayFont(Ini, QStringLiteral("fontoptions"));
  EXPECT_EQ(font.Name, QStringLiteral("Default"));
  EXPECT_EQ(font.Size, 0);
  EXPECT_EQ(font.Color, QColor(Qt::black));
  EXPECT_TRUE(font.Bold && font.Italic && font.Underline && font.StrikeOut);

  ASSERT_TRUE(Ini.WriteString("fontoptions", "font-fsBold", ""));
  ASSERT_TRUE(Ini.WriteString("fontoptions", "font-fsItalic", "bold"));
  ASSERT_TRUE(Ini.WriteString("fontoptions", "font-size", "14"));
  font = ReadOverlayFont(Ini, QStringLiteral("fontoptions"));
  EXPECT_FALSE(font.Bold);
  EXPECT_FALSE(font.Italic);
  EXPECT_TRUE(font.Underline);
  EXPECT_EQ(font.Size, 14);
  // The timestamp font is read from its own section alone.
  EXPECT_TRUE(ReadOverlayFont(Ini, QStringLiteral("timestampoptions")).Bold);

  TOverlayFontSpec chosen;
  chosen.Name = QStringLiteral("DejaVu Sans");
  chosen.Size = 20;
  chosen.Color = QColor(0x12, 0x34, 0x56);
  chosen.Bold = chosen.StrikeOut = false;
  ASSERT_TRUE(WriteOverlayFont(Ini, QStringLiteral("timestampoptions"), chosen));
  const TOverlayFontSpec back = ReadOverlayFont(Ini, QStringLiteral("timestampoptions"));
  EXPECT_EQ(back.Name, chosen.Name);
  EXPECT_EQ(back.Size, 20);
  EXPECT_EQ(back.Color, chosen.Color);
  EXPECT_FALSE(back.Bold);
  EXPECT_TRUE(back.Italic);
  EXPECT_EQ(Ini.ReadString("timestampoptions", "font-fsBold", "?"), QString());
}

TEST_F(SettingsTest, ProfileListsInTheirOrder) {
  QStringList names, sections;
  for (const TOutputFormat& f : OutputFormats()) {
    names << QLatin1String(f.Name) + QLatin1String(f.Extension);
    sections << QLatin1String(f.Section);
  }
  EXPECT_EQ(names.join(' '), QStringLiteral("mp4.mp4 swf.swf flv.flv wmv.wmv mkv.mkv avi.avi webm.webm"));
  EXPECT_EQ(sections.join(' '),
            QStringLiteral("mp4settings swfsettings flvsettings wmvsettings mkvsettings avisettings webmsettings"));
  EXPECT_EQ(OutputFormat(5).SampleRates.join(','), QStringLiteral("44100,32000,22050,11025,8000"));
  EXPECT_EQ(OutputFormat(3).SampleRates.join(','), QStringLiteral("44100"));
  EXPECT_EQ(QLatin1String(OutputFormat(42).Name), QLatin1String("mp4"));
  EXPECT_EQ(FrameRates().size(), 12);
  EXPECT_EQ(FrameRates().at(9), QStringLiteral("29.97"));
  EXPECT_EQ(FrameRates().last(), QStringLiteral("Auto"));
  EXPECT_EQ(QualityLevels().size(), 11);
  EXPECT_EQ(QualityLevels().at(6), QStringLiteral("6 (Recommend)"));
  EXPECT_EQ(VideoBitRates().at(5), QStringLiteral("768"));
  EXPECT_EQ(RegionPresets().join(','), QStringLiteral("Customize,Full Screen,Center"));
}

// A writer killed at any moment leaves the old or the new file, never a
// truncated or empty one.
TEST_F(SettingsTest, KilledWriterNeverLeavesATruncatedFile) {
  const QString filler(2000, QLatin1Char('x'));  // as the writer writes
  ASSERT_TRUE(Ini.WriteString("settings", "sentinel", "kept"));
  std::mt19937 random(7);
  int changed = 0;
  QString previous = FileText(IniPath);
  for (int round = 0; round < 25; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const QByteArray path = IniPath.toUtf8();
      execl("/proc/self/exe", "test_App", "--ini-writer", path.constData(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Once the writer has replaced the file, kill it at a random moment.
    for (int wait = 0; wait < 1500 && FileText(IniPath) == previous; ++wait) usleep(2000);
    usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(0, 40000)(random)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const QString text = FileText(IniPath);
    ASSERT_TRUE(text.endsWith(QLatin1Char('\n'))) << "round " << round;
    ASSERT_EQ(Ini.ReadString("settings", "sentinel", ""), QStringLiteral("kept")) << "round " << round;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts))
      ASSERT_TRUE(line == QLatin1String("[settings]") || line == QLatin1String("sentinel=kept") ||
                  line.contains(QLatin1Char('=') + filler))
          << "round " << round << ": " << line.left(40).toStdString();
    if (text != previous) ++changed;
    previous = text;
  }
  EXPECT_EQ(changed, 25) << "the writers were killed before they wrote anything";
}

TEST(GlobalObjectTest, FieldsSettersAndVersionText) {
  TGlobalObject global;
  EXPECT_TRUE(global.IniFileName().endsWith(QStringLiteral("/vexascreenrecorder.ini")));
  EXPECT_EQ(global.AppName(), QStringLiteral("Vexa Screen Recorder"));
  const QString before = global.IniFileName();
  global.SetIniFileName(QStringLiteral("a.i"));
  EXPECT_EQ(global.IniFileName(), before);
  global.SetIniFileName(QStringLiteral("/x.i"));
  EXPECT_EQ(global.IniFileName(), QStringLiteral("/x.i"));
  global.SetAppName(QString());
  global.SetVersionText(QString());
  global.SetHelpPageUrl(QString());
  EXPECT_EQ(global.AppName(), QStringLiteral("Vexa Screen Recorder"));
  EXPECT_FALSE(global.VersionText().isEmpty());
  EXPECT_FALSE(global.HelpPageUrl().isEmpty());
  global.SetVersionText(BuildVersionText(3, 9, 0, 3));
  EXPECT_EQ(global.VersionText(), QStringLiteral(" 3.903 "));
  EXPECT_EQ(global.MainCaption(), QStringLiteral("Vexa Screen Recorder free version 3.903 "));
  EXPECT_EQ(RightChars(QStringLiteral("abc\\"), 1), QStringLiteral("\\"));
  EXPECT_EQ(RightChars(QStringLiteral("ab"), 5), QStringLiteral("ab"));
  EXPECT_EQ(RightChars(QStringLiteral("abcdef"), 3), QStringLiteral("def"));
  EXPECT_EQ(RightChars(QStringLiteral("abc"), 0), QString());
}

TEST(GlobalObjectTest, SettingsFileBesideTheProgramElseInTheConfigFolder) {
  QTemporaryDir dir;
  EXPECT_EQ(DefaultIniFileName(dir.path()), dir.path() + QStringLiteral("/vexascreenrecorder.ini"));
  TScopedEnv config("XDG_CONFIG_HOME", dir.filePath("cfg"));
  EXPECT_EQ(DefaultIniFileName(QStringLiteral("/nonexistent/program/")),
            dir.filePath("cfg") + QStringLiteral("/vexa-screen-recorder/vexascreenrecorder.ini"));
  EXPECT_TRUE(QFileInfo(dir.filePath("cfg/vexa-screen-recorder")).isDir());
}

class OutputFolderTest : public SettingsTest {
 protected:
  QString Home = Dir.filePath(QStringLiteral("home"));
  TScopedEnv HomeEnv{"HOME", Home};
  TScopedEnv AllUsers{"ALLUSERSPROFILE", Dir.filePath(QStringLiteral("allusers"))};
  TTestHost Host;
  // A path that can never be created: its parent is a file.
  QString Blocked() {
    QFile file(Dir.filePath(QStringLiteral("afile")));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return Dir.filePath(QStringLiteral("afile/sub"));
  }
};

TEST_F(OutputFolderTest, FreshInstallationTakesTheAllUsersFolder) {
  const QString folder = ResolveOutputFolderAtStartup(Ini, Host);
  EXPECT_EQ(folder, Dir.filePath(QStringLiteral("allusers/screenrecorder")));
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(Ini.ReadString("settings", "firstrun", "?"), QStringLiteral("0"));
  EXPECT_EQ(Ini.ReadString("settings", "OutPutDir", "?"), folder);
  EXPECT_TRUE(Host.Warnings.isEmpty());
  // The next start keeps a stored folder that exists.
  const QString mine = Dir.filePath(QStringLiteral("mine"));
  QDir().mkpath(mine);
  ASSERT_TRUE(Ini.WriteString("settings", "OutPutDir", mine));
  EXPECT_EQ(ResolveOutputFolderAtStartup(Ini, Host), mine);
  // A stored folder that has gone is replaced.
  ASSERT_TRUE(Ini.WriteString("settings", "OutPutDir", Dir.filePath(QStringLiteral("gone"))));
  EXPECT_EQ(ResolveOutputFolderAtStartup(Ini, Host), folder);
  EXPECT_EQ(Ini.ReadString("settings", "OutPutDir", "?"), folder);
}

TEST_F(OutputFolderTest, UncreatableFoldersFallBackWithTheirMessages) {
  const QString blocked = Blocked();
  ASSERT_TRUE(Ini.WriteString("settings", "OutPutDir", blocked));
  // Start names its file in the folder read, after the warning.
  EXPECT_EQ(OutputFolderForRecording(Ini, Host), blocked);
  ASSERT_EQ(Host.Warnings.size(), 1);
  EXPECT_EQ(Host.Warnings[0], QStringLiteral("Cannot create output directory:") + blocked +
                                  QStringLiteral(".It will create default directory ") + Home +
                                  QStringLiteral("/videoconverter!"));
  EXPECT_TRUE(QFileInfo(Home + QStringLiteral("/videoconverter")).isDir());
  EXPECT_EQ(Ini.ReadString("settings", "OutPutDir", "?"), Home + QStringLiteral("/videoconverter"));

  ASSERT_TRUE(Ini.WriteString("settings", "OutPutDir", blocked));
  EXPECT_EQ(OutputFolderForOpen(Ini, Host), Home + QStringLiteral("/Videos"));
  ASSERT_EQ(Host.Warnings.size(), 2);
  EXPECT_EQ(Host.Warnings[1], QStringLiteral("Can not create output directory:") + blocked +
                                  QStringLiteral(".It will create default directory") + Home +
                                  QStringLiteral("/Videos"));
  EXPECT_EQ(Ini.ReadString("settings", "OutPutDir", "?"), Home + QStringLiteral("/Videos"));
}

TEST_F(OutputFolderTest, StartUpWithAnUncreatableAllUsersFolderWarns) {
  TScopedEnv blockedAllUsers("ALLUSERSPROFILE", Blocked());
  const QString folder = ResolveOutputFolderAtStartup(Ini, Host);
  ASSERT_EQ(Host.Warnings.size(), 1);
  EXPECT_TRUE(Host.Warnings[0].startsWith(QStringLiteral("Can not create output directory:") + folder));
  EXPECT_TRUE(Host.Warnings[0].endsWith(QStringLiteral(".It will create default directory") + folder));
}

TEST(ControlStateTest, EnabledStateTable) {
  // Start, Default, Pause, Resume, Stop, Exit, settings controls, folder field.
  const char* expected[] = {"11000110", "00101000", "00011000", "00101000"};
  const TRecorderState states[] = {rsIdle, rsRecording, rsPaused, rsResumed};
  for (int s = 0; s < 4; ++s) {
    std::string row;
    for (int c = rcStart; c <= rcOutputFolderField; ++c)
      row += ControlEnabled(static_cast<TRecorderControl>(c), states[s]) ? '1' : '0';
    EXPECT_EQ(row, expected[s]) << "state " << s;
  }
}

}  // namespace
