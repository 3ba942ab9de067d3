// Per-stream settings and filter graphs of outputs created by OpenOutputFile,
// the way the recorder's option lines reach them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "OutputStreamFixture.h"

extern "C" {
#include <libavfilter/buffersink.h>
}

namespace vexa::test {
namespace {

class FilterGraphOutputFileTest : public OutputStreamTest {
 protected:
  // Creates and configures the simple graph of output stream `i`.
  int Simple(std::size_t i) {
    TOutputStream& ost = *Engine.OutputStreams.at(i);
    TFilterGraph* fg =
        Engine.InitSimpleFilterGraph(*Engine.InputStreams.at(static_cast<std::size_t>(ost.SourceIndex)), ost);
    return Engine.ConfigureFilterGraph(*fg);
  }
};

TEST_F(FilterGraphOutputFileTest, RecorderLineWithQualityAndWatermark) {
  OpenInput(VideoAudioSpec(2));
  const std::string png = Dir.Path("logo.png");
  WritePicture(png, 16, 16, 0xFF0000FF);
  const std::string watermark =
      "movie=" + png + " [watermark]; [in] [watermark] overlay=main_w-overlay_w-5:main_h-overlay_h-5 [out]";
  ASSERT_EQ(OpenOutput(" -c:v mpeg4 -c:a pcm_s16le -s 640x480 -ac 2  -ar 44100 -sn -b:v 768k -qscale 6  -threads 2"
                "   -async 1 -vsync 1  -vf \"" +
                    watermark + "\"",
                "rec.mkv"),
            0)
      << Engine.LastErrorText;
  ASSERT_EQ(Engine.OutputStreams.size(), 2u);
  TOutputStream& video = *Engine.OutputStreams[0];
  EXPECT_STREQ(video.Encoder->name, "mpeg4");
  EXPECT_EQ(video.CodecContext->global_quality, 708);
  EXPECT_TRUE(video.CodecContext->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_TRUE(Recorder.Contains(llWarning, "Please use -q:a or -q:v, -qscale is ambiguous"));
  EXPECT_STREQ(video.EncoderOptions.Value("b"), "768k");
  EXPECT_STREQ(video.EncoderOptions.Value("threads"), "2");
  EXPECT_EQ(video.FilterDescription, watermark);
  EXPECT_EQ(Engine.OutputStreams[1]->FilterDescription, "anull");

  ASSERT_EQ(Simple(0), 0);
  ASSERT_EQ(Simple(1), 0);
  const AVFilterContext* sink = Engine.OutputStreams[0]->Filter->Filter;
  EXPECT_EQ(av_buffersink_get_w(sink), 640);
  EXPECT_EQ(av_buffersink_get_h(sink), 480);
  EXPECT_EQ(av_buffersink_get_format(sink), AV_PIX_FMT_YUV420P);
  EXPECT_TRUE(Recorder.Contains(
      llInfo, "-async is forwarded to lavfi similarly to -af aresample=async=1:min_hard_comp=0.100000:first_pts=0."));
  EXPECT_EQ(av_buffersink_get_sample_rate(Engine.OutputStreams[1]->Filter->Filter), 44100);
}

TEST_F(FilterGraphOutputFileTest, CopiedStreamKeepsNoPictureSettings) {
  OpenInput(VideoOnlySpec());
  ASSERT_EQ(OpenOutput("-c:v copy -s 640x480 -aspect 16:9 -pix_fmt yuv420p"), 0) << Engine.LastErrorText;
  TOutputStream& ost = *Engine.OutputStreams[0];
  EXPECT_EQ(ost.StreamCopy, 1);
  EXPECT_EQ(ost.CodecContext->width, 0);
  EXPECT_EQ(ost.CodecContext->pix_fmt, AV_PIX_FMT_NONE);
  EXPECT_EQ(ost.FrameAspectRatio, 0.0f);
}

TEST_F(FilterGraphOutputFileTest, UnlabeledComplexOutputTakesTheVideoSlot) {
  OpenInput(VideoAudioSpec(2));
  ASSERT_EQ(OpenOutput("-filter_complex \"[0:v] hflip\" -c:v mpeg4 -c:a pcm_s16le"), 0) << Engine.LastErrorText;
  // The graph feeds the only video stream; the audio stream is selected as usual.
  ASSERT_EQ(Engine.OutputStreams.size(), 2u);
  TFilterGraph& fg = *Engine.FilterGraphs[0];
  TOutputStream& video = *Engine.OutputStreams[0];
  EXPECT_EQ(video.Filter, fg.Outputs[0].get());
  EXPECT_EQ(video.SourceIndex, -1);
  EXPECT_EQ(fg.Outputs[0]->OutputStream, &video);
  EXPECT_EQ(Engine.OutputStreams[1]->SourceIndex, 1);
  ASSERT_EQ(avfilter_graph_config(fg.Graph.get(), nullptr), 0);
  EXPECT_EQ(av_buffersink_get_w(fg.Outputs[0]->Filter), 320);
}

TEST_F(FilterGraphOutputFileTest, BrokenComplexGraphFailsTheOutput) {
  OpenInput(VideoOnlySpec());
  EXPECT_EQ(OpenOutput("-filter_complex \"[0:v] nosuchfilter\""), -1);
  EXPECT_EQ(Engine.LastErrorText, "Error configuring filters.");
  EXPECT_TRUE(Engine.OutputFiles.empty());
}

}  // namespace
}  // namespace vexa::test
