#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <clocale>

#include <QLocale>

#include "FFUtils/DecimalCommaLocale.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "core/IniFile.h"
#include "core/RecordingLines.h"
#include "core/Settings.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/opt.h>
}

using namespace vexa;

namespace {

class RecordingLinesTest : public testing::Test {
 protected:
  TRecordingLines Build(const TRecordControls& c, bool inset = false, int processors = 4) {
    TRegion region;
    QString error;
    EXPECT_TRUE(ParseRegion(c, region, error)) << error.toStdString();
    return BuildRecordingLines(c, region, inset, Ini, processors);
  }
  // The worked example's controls and settings: 10, 10, 800 x 600, cursor,
  // 15 fps, sound at 44100 stereo, mp4, quality 6, 768 kbit/s.
  TRecordControls Example() {
    Ini.WriteString("settings", "width", "800");
    Ini.WriteString("settings", "height", "600");
    TRecordControls c;
    c.QualityIndex = 6;
    return c;
  }
  QTemporaryDir Dir;
  TIniFile Ini{Dir.filePath(QStringLiteral("vexascreenrecorder.ini"))};
};

TEST_F(RecordingLinesTest, WorkedExample) {
  const TRecordingLines lines = Build(Example());
  EXPECT_EQ(lines.DeviceName, QStringLiteral("video=0:audio=-1"));
  EXPECT_EQ(lines.InputLine,
            QStringLiteral(" -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client+cursor  -s 800x600"
                           " -r 15 -ar 44100 -ac 2 -sample_fmt s16 "));
  EXPECT_EQ(lines.OutputLine, QStringLiteral(" -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k"
                                             " -qscale 6  -threads 4   -async 1 -vsync 1 "));
}

TEST_F(RecordingLinesTest, NumbersIgnoreTheUsersLocale) {
  test::TDecimalCommaLocale comma;
  if (comma.Name().empty()) GTEST_SKIP() << comma.Failure();
  const std::string old = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, comma.Name().c_str()), nullptr);
  const QLocale oldDefault;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  Ini.WriteString("settings", "framerate", "29.97");
  TRecordControls c = Example();
  c.Width = c.Height = "1000";
  Ini.WriteString("settings", "width", "1000");
  Ini.WriteString("settings", "height", "1000");
  Ini.WriteString("settings", "bitrate", "1500");
  const TRecordingLines lines = Build(c, false, 12);
  QLocale::setDefault(oldDefault);
  std::setlocale(LC_ALL, old.c_str());
  EXPECT_TRUE(lines.InputLine.contains(QStringLiteral(" -s 1000x1000 -r 29.97 -ar 44100 "))) << lines.InputLine.toStdString();
  EXPECT_TRUE(lines.OutputLine.contains(QStringLiteral(" -s 1000x1000 ")));
  EXPECT_TRUE(lines.OutputLine.contains(QStringLiteral(" -b:v 1500k -qscale 6  -threads 12 ")));
}

TEST_F(RecordingLinesTest, CasesOfTheLines) {
  struct TCase {
    const char* Name;
    std::function<void(TRecordControls&, TIniFile&, bool& inset, int& processors)> Setup;
    const char* Device;
    const char* Input;
    const char* Output;
  } cases[] = {
      {"odd sizes lose their last pixel",
       [](TRecordControls& c, TIniFile& ini, bool&, int&) {
         c.Width = "801";
         c.Height = "601";
         ini.WriteString("settings", "width", "801");
         ini.WriteString("settings", "height", "601");
       },
       "video=0:audio=-1",
       " -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client+cursor  -s 800x600 -r 15 -ar 44100 "
       "-ac 2 -sample_fmt s16 ",
       " -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6  -threads 4   -async 1 "
       "-vsync 1 "},
      {"inset flag at 1920x1080",
       [](TRecordControls& c, TIniFile& ini, bool& inset, int&) {
         c.Left = c.Top = "0";
         c.Width = "1920";
         c.Height = "1080";
         ini.WriteString("settings", "width", "1920");
         ini.WriteString("settings", "height", "1080");
         inset = true;
       },
       "video=0:audio=-1",
       " -f gdicapture  -capture_offset 2,2 -capture_flags +showframe+client+cursor  -s 1916x1076 -r 15 -ar 44100 "
       "-ac 2 -sample_fmt s16 ",
       " -c:v mpeg4 -c:a aac -s 1920x1080 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6  -threads 4   -async 1 "
       "-vsync 1 "},
      {"Auto frame rate, no cursor, mono",
       [](TRecordControls& c, TIniFile& ini, bool&, int&) {
         ini.WriteString("settings", "framerate", "Auto");
         ini.WriteBool("settings", "chkMouse", true);
         ini.WriteBool("settings", "stereo", false);
         c.Stereo = false;
       },
       "video=0:audio=-1",
       " -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client-cursor  -s 800x600 -re  -ar 44100 "
       "-ac 1 -sample_fmt s16 ",
       " -c:v mpeg4 -c:a aac -s 800x600 -ac 1  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6  -threads 4   -async 1 "
       "-vsync 1 "},
      {"one processor, 29.97 fps",
       [](TRecordControls&, TIniFile& ini, bool&, int& processors) {
         processors = 1;
         ini.WriteString("settings", "framerate", "29.97");
       },
       "video=0:audio=-1",
       " -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client+cursor  -s 800x600 -r 29.97 -ar 44100 "
       "-ac 2 -sample_fmt s16 ",
       " -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6   -async 1 -vsync 1 "},
      {"audio off", [](TRecordControls& c, TIniFile&, bool&, int&) { c.RecordWithAudio = false; }, "video=0",
       " -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client+cursor  -s 800x600 -r 15",
       " -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -sn -b:v 768k -qscale 6  -threads 4   -async 1 -vsync 1 "},
      {"empty sample rate", [](TRecordControls& c, TIniFile&, bool&, int&) { c.SampleRateText.clear(); },
       "video=0:audio=-1",
       " -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client+cursor  -s 800x600 -r 15 -ar  -ac 2 "
       "-sample_fmt s16 ",
       " -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6  -threads 4   -async 1 "
       "-vsync 1 "},
      {"watermark on, picture missing",
       [](TRecordControls&, TIniFile& ini, bool&, int&) {
         ini.WriteBool("settings", "chkAddWatermark", true);
         ini.WriteString("imageoptions", "path", "/nonexistent/logo.png");
       },
       "video=0:audio=-1",
       " -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client+cursor  -s 800x600 -r 15 -ar 44100 "
       "-ac 2 -sample_fmt s16 ",
       " -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6  -threads 4   -async 1 "
       "-vsync 1 "},
      {"the format's own sample rate and the stored bit rate",
       [](TRecordControls&, TIniFile& ini, bool&, int&) {
         ini.WriteString("mp4settings", "samplerate", "22050");
         ini.WriteString("settings", "bitrate", "1500");
       },
       "video=0:audio=-1",
       " -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client+cursor  -s 800x600 -r 15 -ar 44100 "
       "-ac 2 -sample_fmt s16 ",
       " -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 22050 -sn -b:v 1500k -qscale 6  -threads 4   -async 1 "
       "-vsync 1 "},
  };
  for (const TCase& c : cases) {
    QFile::remove(Ini.FileName());
    TRecordControls controls = Example();
    bool inset = false;
    int processors = 4;
    c.Setup(controls, Ini, inset, processors);
    const TRecordingLines lines = Build(controls, inset, processors);
    EXPECT_EQ(lines.DeviceName, QLatin1String(c.Device)) << c.Name;
    EXPECT_EQ(lines.InputLine, QLatin1String(c.Input)) << c.Name;
    EXPECT_EQ(lines.OutputLine, QLatin1String(c.Output)) << c.Name;
  }
}

TEST_F(RecordingLinesTest, EachFormatCarriesItsCodecs) {
  const char* expected[] = {
      " -c:v mpeg4 -c:a aac -s 800x600 -ac 2 ",
      " -s 800x600 -c:a libmp3lame -ac 2 ",
      " -s 800x600 -c:a libmp3lame -ac 2 ",
      " -s 800x600 -c:v wmv2 -c:a wmav2 -ac 2 ",
      " -s 800x600 -pix_fmt yuv420p  -c:v libx264 ",
      " -s 800x600 -c:v rawvideo -ac 2 ",
      " -s 800x600 -f webm  -c:v libvpx -c:a libvorbis",
  };
  for (int f = 0; f < 7; ++f) {
    TRecordControls c = Example();
    c.FormatIndex = f;
    const QString out = Build(c).OutputLine;
    EXPECT_TRUE(out.startsWith(QLatin1String(expected[f]))) << f << ": " << out.toStdString();
    EXPECT_TRUE(out.startsWith(QLatin1String(expected[f]) + RealTimeEncoderOptions(f))) << f;
    EXPECT_TRUE(out.endsWith(QStringLiteral(" -sn -b:v 768k -qscale 6  -threads 4   -async 1 -vsync 1 "))) << f;
  }
}

TEST_F(RecordingLinesTest, LiveEncodersGetRealTimeSettings) {
  // mkv and webm get settings that keep up with a live screen; the other
  // five profiles encode as they always did.
  const char* const expected[] = {"", "", "", "", " -preset superfast ", "", " -deadline realtime -cpu-used 8 "};
  for (int f = 0; f < 7; ++f) {
    EXPECT_EQ(RealTimeEncoderOptions(f), QLatin1String(expected[f])) << f;
    TRecordControls c = Example();
    c.FormatIndex = f;
    const QString out = Build(c).OutputLine;
    if (*expected[f]) {
      EXPECT_EQ(out.count(QLatin1String(expected[f])), 1) << out.toStdString();
    }
    EXPECT_EQ(out.contains(QLatin1String("-preset")), f == 4) << f;
    EXPECT_EQ(out.contains(QLatin1String("-deadline")), f == 6) << f;
  }
  TRecordControls c = Example();
  c.FormatIndex = 4;
  EXPECT_TRUE(Build(c).OutputLine.startsWith(
      QLatin1String(" -s 800x600 -pix_fmt yuv420p  -c:v libx264  -preset superfast  -ac 2 ")))
      << Build(c).OutputLine.toStdString();
  c.FormatIndex = 6;
  EXPECT_TRUE(Build(c).OutputLine.startsWith(
      QLatin1String(" -s 800x600 -f webm  -c:v libvpx -c:a libvorbis -deadline realtime -cpu-used 8  -ac 2 ")))
      << Build(c).OutputLine.toStdString();
}

TEST_F(RecordingLinesTest, FieldsThatAreNotNumbersStopStart) {
  for (const char* bad : {"", "abc", "12px", "1.5"}) {
    TRecordControls c;
    c.Top = QString::fromUtf8(bad);
    TRegion region;
    QString error;
    EXPECT_FALSE(ParseRegion(c, region, error)) << bad;
    EXPECT_EQ(error, QStringLiteral("'%1' is not a valid integer value").arg(QString::fromUtf8(bad)));
  }
  TRecordControls c;
  c.Left = " -5";
  TRegion region;
  QString error;
  ASSERT_TRUE(ParseRegion(c, region, error));
  EXPECT_EQ(region.Left, -5);
}

TEST_F(RecordingLinesTest, OutputFileNamesCountUp) {
  const QString base = OutputBaseName(Example());
  EXPECT_EQ(base, QStringLiteral("VexaScreenRecorder-800-600"));
  QStringList names;
  for (int i = 0; i < 3; ++i) {
    const QString name = UniqueOutputFileName(Dir.path(), base, QStringLiteral(".mp4"));
    names << QFileInfo(name).fileName();
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  EXPECT_EQ(names.join(' '), QStringLiteral("VexaScreenRecorder-800-600_(new).mp4 VexaScreenRecorder-800-600_(new_1).mp4 "
                                            "VexaScreenRecorder-800-600_(new_2).mp4"));
  EXPECT_EQ(UniqueOutputFileName(Dir.path() + "/", base, ".mkv"), Dir.path() + "/VexaScreenRecorder-800-600_(new).mkv");
}

TEST_F(RecordingLinesTest, WatermarkPositionsAndPlainPath) {
  const QString logo = Dir.filePath("logo.png");
  QImage(4, 4, QImage::Format_RGB32).save(logo);
  Ini.WriteString("imageoptions", "path", logo);
  const char* clauses[] = {"[watermark] overlay=x=5:y=5",
                           "[watermark] overlay=x=main_w/2-overlay_w/2:y=5",
                           "[watermark] overlay=main_w-overlay_w-5:5",
                           "[watermark] overlay=5:main_h/2-overlay_h/2",
                           "[watermark] overlay=main_w/2-overlay_w/2:main_h/2-overlay_h/2",
                           "[watermark] overlay=main_w-overlay_w-5:main_h/2-overlay_h/2",
                           "[watermark] overlay=5:main_h-overlay_h-5",
                           "[watermark] overlay=main_w/2-overlay_w/2:main_h-overlay_h-5",
                           "[watermark] overlay=main_w-overlay_w-5:main_h-overlay_h-5"};
  const QString plain = Dir.path();  // QTemporaryDir names are letters, digits, "/", "-", "_" and "."
  for (int p = 1; p <= 9; ++p)
    EXPECT_EQ(BuildWatermarkFilter(Ini, p),
              "movie=" + plain + "/logo.png [watermark]; [in] " + QLatin1String(clauses[p - 1]) + " [out]");
  EXPECT_EQ(BuildWatermarkFilter(Ini, 0), BuildWatermarkFilter(Ini, 1));
  EXPECT_EQ(BuildWatermarkFilter(Ini, 10), BuildWatermarkFilter(Ini, 1));
  // A colon is escaped for both levels: two backslashes and the colon.
  EXPECT_EQ(EscapeFilterGraphPath("/C:/logo.png"), QStringLiteral("/C\\\\:/logo.png"));
  Ini.WriteString("imageoptions", "path", Dir.path());  // a folder is no picture
  EXPECT_EQ(BuildWatermarkFilter(Ini, 9), QString());
}

// The -vf value as the option line's tokenizer yields it.
std::string VfValue(const QString& outputLine) {
  const std::vector<std::string> tokens = SplitOptionLine(outputLine.toStdString());
  for (size_t i = 0; i + 1 < tokens.size(); ++i)
    if (tokens[i] == "-vf") return tokens[i + 1];
  return std::string();
}

TEST_F(RecordingLinesTest, AnyPictureNameReachesTheMovieSourceUnchanged) {
  const QString names[] = {
      QStringLiteral("plain.png"),
      QStringLiteral("with blanks  and: colon 'quote' [x],y;z=1.png"),
      QStringLiteral("back\\slash \"dq\" \\\"mix.png"),
      QStringLiteral("evil.png [in] null [out]; movie=x.png:a.png"),
      QStringLiteral("trail\\"),
      QStringLiteral(" lead and trail blank "),
      QStringLiteral("Grüße 100%.png"),
  };
  for (const QString& name : names) {
    const QString path = Dir.filePath(name);
    QImage(4, 4, QImage::Format_RGB32).save(path, "PNG");
    ASSERT_TRUE(QFileInfo(path).isFile()) << name.toStdString();
    Ini.WriteString("imageoptions", "path", path);
    Ini.WriteBool("settings", "chkAddWatermark", true);
    const std::string graphText = VfValue(Build(Example()).OutputLine);
    ASSERT_FALSE(graphText.empty()) << name.toStdString();

    AVFilterGraph* graph = avfilter_graph_alloc();
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    const int ret = avfilter_graph_parse2(graph, graphText.c_str(), &inputs, &outputs);
    EXPECT_GE(ret, 0) << graphText;
    if (ret >= 0) {
      ASSERT_EQ(graph->nb_filters, 2u) << graphText;
      const AVFilterContext* movie = graph->filters[0];
      EXPECT_STREQ(movie->filter->name, "movie");
      uint8_t* fileName = nullptr;
      ASSERT_GE(av_opt_get(graph->filters[0]->priv, "filename", 0, &fileName), 0);
      EXPECT_EQ(QString::fromUtf8(reinterpret_cast<char*>(fileName)), path) << graphText;
      av_free(fileName);
      EXPECT_STREQ(graph->filters[1]->filter->name, "overlay");
      ASSERT_NE(inputs, nullptr);
      EXPECT_STREQ(inputs->name, "in");
      EXPECT_EQ(inputs->next, nullptr);
      ASSERT_NE(outputs, nullptr);
      EXPECT_STREQ(outputs->name, "out");
      EXPECT_EQ(outputs->next, nullptr);
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    avfilter_graph_free(&graph);
  }
}

TEST_F(RecordingLinesTest, QuotedTextSurvivesTheTokenizer) {
  for (const QString& text : {QStringLiteral("a b"), QStringLiteral("a\\\"b"), QStringLiteral("end\\"),
                              QStringLiteral("\"\""), QStringLiteral("x\\\\\"y")}) {
    const std::vector<std::string> tokens = SplitOptionLine(("-vf " + QuoteForOptionLine(text) + " -sn").toStdString());
    ASSERT_EQ(tokens.size(), 3u) << text.toStdString();
    EXPECT_EQ(QString::fromStdString(tokens[1]), text);
  }
}

}  // namespace
