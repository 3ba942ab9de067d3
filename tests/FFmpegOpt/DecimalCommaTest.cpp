// Inputs, outputs and filter graphs under a process locale whose decimal
// separator is a comma (as a desktop toolkit installs it): the values the
// engine hands to the libraries must still read with the point.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "FFUtils/DecimalCommaLocale.h"
#include "OutputStreamFixture.h"
#include "Support/TestProgramFormat.h"

extern "C" {
#include <libavfilter/buffersink.h>
}

namespace vexa::test {
namespace {

class DecimalCommaTest : public OutputStreamTest {
 protected:
  static void SetUpTestSuite() { Locale = new TDecimalCommaLocale; }
  static void TearDownTestSuite() {
    delete Locale;
    Locale = nullptr;
  }
  void SetUp() override {
    if (Locale->Name().empty()) GTEST_SKIP() << "no locale with a decimal comma: " << Locale->Failure();
    RegisterTestProgramFormats();
    OutputStreamTest::SetUp();
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    Saved = current ? current : "C";
    ASSERT_NE(std::setlocale(LC_NUMERIC, Locale->Name().c_str()), nullptr);
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  }
  void TearDown() override {
    if (!Saved.empty()) std::setlocale(LC_NUMERIC, Saved.c_str());
    OutputStreamTest::TearDown();
  }
  // The engine leaves the process locale as it found it.
  static void ExpectCommaLocale() { EXPECT_STREQ(std::localeconv()->decimal_point, ","); }

  static TDecimalCommaLocale* Locale;
  std::string Saved;
};

TDecimalCommaLocale* DecimalCommaTest::Locale = nullptr;

TEST_F(DecimalCommaTest, FractionalCaptureRateReachesFormatAndStream) {
  // The recorder's input line for a frame rate of 29.97.
  ASSERT_EQ(Engine.OpenInputFile(O, " -f vexatest -capture_offset 10,10 -s 320x240 -r 29.97 ", "video=0"), 0)
      << Engine.LastErrorText;
  ExpectCommaLocale();
  EXPECT_EQ(LastTestFormatOpen().FrameRate, "29.97");
  const AVRational rate = Engine.InputStreams[0]->FrameRate;
  EXPECT_EQ(rate.num, 2997);
  EXPECT_EQ(rate.den, 100);
  // The format parsed the same text into its stream's time base.
  EXPECT_EQ(av_cmp_q(Engine.InputStreams[0]->Stream->time_base, AVRational{100, 2997}), 0);
}

TEST_F(DecimalCommaTest, OutputRatesRatiosAndFiltersReadWithThePoint) {
  OpenInput(VideoAudioSpec(2));
  Engine.FreeFileOptions(O);
  Engine.InitFileOptions(O);
  ASSERT_EQ(Engine.OpenOutputFile(O, "-c:v mpeg4 -r 29.97 -aspect 1.5 -vf scale=w=iw*0.5:h=ih*0.25 -c:a pcm_s16le -af volume=0.5 -async 1",
                                  false, Dir.Path("out.mkv")),
            0)
      << Engine.LastErrorText;
  ExpectCommaLocale();
  TOutputStream& video = *Engine.OutputStreams[0];
  EXPECT_EQ(video.FrameRate.num, 2997);
  EXPECT_EQ(video.FrameRate.den, 100);
  EXPECT_FLOAT_EQ(video.FrameAspectRatio, 1.5f);

  TOutputStream& audio = *Engine.OutputStreams[1];
  TFilterGraph* vg = Engine.InitSimpleFilterGraph(*Engine.InputStreams[0], video);
  TFilterGraph* ag = Engine.InitSimpleFilterGraph(*Engine.InputStreams[1], audio);
  Recorder.Clear();
  ASSERT_EQ(Engine.ConfigureFilterGraph(*vg), 0);
  ASSERT_EQ(Engine.ConfigureFilterGraph(*ag), 0);
  ExpectCommaLocale();
  EXPECT_EQ(av_buffersink_get_w(video.Filter->Filter), 160);
  EXPECT_EQ(av_buffersink_get_h(video.Filter->Filter), 60);
  // The engine's own argument texts are written with the point as well.
  EXPECT_TRUE(Recorder.Contains(
      llInfo, "-async is forwarded to lavfi similarly to -af aresample=async=1:min_hard_comp=0.100000:first_pts=0."));
  EXPECT_EQ(av_buffersink_get_format(audio.Filter->Filter), AV_SAMPLE_FMT_S16);
}

}  // namespace
}  // namespace vexa::test
