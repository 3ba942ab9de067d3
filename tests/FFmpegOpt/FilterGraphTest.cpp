// Filter graph setup on real inputs: simple graphs with their sources and
// sinks, complex graphs with bound inputs and outputs, and frames pushed
// through the configured graphs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "FFmpegOpt/FilterGraphs.h"
#include "OutputStreamFixture.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace vexa::test {
namespace {

using ::testing::HasSubstr;
using TFramePtr = TAVFramePtr;

TFramePtr NewFrame() { return TFramePtr(av_frame_alloc()); }

// The filter feeding input 0 of `ctx`, past the converters the library
// inserts itself while configuring ("auto_..." instances).
const AVFilterContext* Upstream(const AVFilterContext* ctx) {
  while (ctx && ctx->nb_inputs > 0 && ctx->inputs[0]) {
    ctx = ctx->inputs[0]->src;
    if (!ctx->name || std::strncmp(ctx->name, "auto_", 5) != 0) return ctx;
  }
  return nullptr;
}

std::string KindOf(const AVFilterContext* ctx) { return ctx ? ctx->filter->name : "<none>"; }
std::string NameOf(const AVFilterContext* ctx) { return ctx && ctx->name ? ctx->name : "<none>"; }

class FilterGraphTest : public OutputStreamTest {
 protected:
  // A simple graph from input stream `source` to a new video/audio output of `line`.
  TFilterGraph* SimpleVideo(const std::string& line, int source = 0) {
    TOutputStream* ost = Video(line, source);
    return Engine.InitSimpleFilterGraph(*Engine.InputStreams[static_cast<std::size_t>(source)], *ost);
  }
  TFilterGraph* SimpleAudio(const std::string& line, int source = 1) {
    TOutputStream* ost = Audio(line, source);
    return Engine.InitSimpleFilterGraph(*Engine.InputStreams[static_cast<std::size_t>(source)], *ost);
  }
  static AVFilterContext* Get(TFilterGraph* fg, const std::string& name) {
    return avfilter_graph_get_filter(fg->Graph.get(), name.c_str());
  }
};

TEST_F(FilterGraphTest, SimpleGraphRecords) {
  OpenInput(VideoOnlySpec(320, 240));
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4");
  ASSERT_EQ(Engine.FilterGraphs.size(), 1u);
  EXPECT_EQ(Engine.FilterGraphs[0].get(), fg);
  EXPECT_EQ(fg->Index, 0);
  EXPECT_FALSE(fg->GraphDescription.has_value());
  EXPECT_EQ(fg->Graph, nullptr);
  EXPECT_EQ(fg->Reconfiguration, 0);
  ASSERT_EQ(fg->Inputs.size(), 1u);
  ASSERT_EQ(fg->Outputs.size(), 1u);
  TInputStream& ist = *Engine.InputStreams[0];
  TOutputStream& ost = *Engine.OutputStreams[0];
  EXPECT_EQ(fg->Inputs[0]->InputStream, &ist);
  EXPECT_EQ(fg->Inputs[0]->Graph, fg);
  ASSERT_EQ(ist.Filters.size(), 1u);
  EXPECT_EQ(ist.Filters[0], fg->Inputs[0].get());
  EXPECT_EQ(fg->Outputs[0]->OutputStream, &ost);
  EXPECT_EQ(ost.Filter, fg->Outputs[0].get());
  EXPECT_TRUE(TCustomFFmpegOpt::InputInFilterGraph(*fg, ist));
  OpenInput(VideoOnlySpec());
  EXPECT_FALSE(TCustomFFmpegOpt::InputInFilterGraph(*fg, *Engine.InputStreams[1]));
}

TEST_F(FilterGraphTest, ScaledOutputEndsInScaleAndFormat) {
  OpenInput(VideoOnlySpec(320, 240));
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4 -s 640x480 -pix_fmt yuv420p");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(fg->Reconfiguration, 1);

  const AVFilterContext* sink = Get(fg, "output stream 0:0");
  ASSERT_NE(sink, nullptr);
  EXPECT_EQ(sink, fg->Outputs[0]->Filter);
  EXPECT_EQ(KindOf(sink), "buffersink");
  const AVFilterContext* format = Upstream(sink);
  EXPECT_EQ(KindOf(format), "format");
  EXPECT_EQ(NameOf(format), "pixel format for output stream 0:0");
  const AVFilterContext* scale = Upstream(format);
  EXPECT_EQ(KindOf(scale), "scale");
  EXPECT_EQ(NameOf(scale), "scaler for output stream 0:0");
  EXPECT_EQ(KindOf(Upstream(scale)), "null");
  const AVFilterContext* source = Upstream(Upstream(scale));
  EXPECT_EQ(KindOf(source), "buffer");
  EXPECT_EQ(NameOf(source), "graph 0 input from stream 0:0");
  EXPECT_EQ(source, fg->Inputs[0]->Filter);
  EXPECT_EQ(fg->Inputs[0]->Name, "Parsed_null_0");
  EXPECT_EQ(fg->Outputs[0]->Name, "Parsed_null_0");

  // What the encoder will receive.
  EXPECT_EQ(av_buffersink_get_w(sink), 640);
  EXPECT_EQ(av_buffersink_get_h(sink), 480);
  EXPECT_EQ(av_buffersink_get_format(sink), AV_PIX_FMT_YUV420P);
  char* flags = nullptr;
  ASSERT_GE(av_opt_get(const_cast<AVFilterContext*>(scale), "flags", AV_OPT_SEARCH_CHILDREN,
                       reinterpret_cast<uint8_t**>(&flags)),
            0);
  EXPECT_STREQ(flags, "0x4");  // the output's scaler flags (bicubic)
  av_free(flags);
}

TEST_F(FilterGraphTest, ForcedInputRateGetsSetptsAndItsTimeBase) {
  OpenInput(VideoOnlySpec(320, 240), "-r 10");
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  const AVFilterContext* setpts = Get(fg, "force CFR for input from stream 0:0");
  ASSERT_NE(setpts, nullptr);
  EXPECT_EQ(KindOf(setpts), "setpts");
  EXPECT_EQ(Upstream(setpts), fg->Inputs[0]->Filter);
  const AVRational tb = fg->Inputs[0]->Filter->outputs[0]->time_base;
  EXPECT_EQ(tb.num, 1);
  EXPECT_EQ(tb.den, 10);
  EXPECT_EQ(av_buffersink_get_frame_rate(fg->Outputs[0]->Filter).num, 10);
}

TEST_F(FilterGraphTest, WithoutForcedRateNoSetpts) {
  OpenInput(VideoOnlySpec(320, 240));
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(Get(fg, "force CFR for input from stream 0:0"), nullptr);
  const AVRational tb = fg->Inputs[0]->Filter->outputs[0]->time_base;
  EXPECT_EQ(av_cmp_q(tb, Engine.InputStreams[0]->Stream->time_base), 0);
  // Encoder list of mpeg4 (yuv420p only); no size requested: no scaler.
  EXPECT_EQ(KindOf(Upstream(fg->Outputs[0]->Filter)), "format");
  EXPECT_EQ(KindOf(Upstream(Upstream(fg->Outputs[0]->Filter))), "null");
}

TEST_F(FilterGraphTest, EncoderWithoutFormatListGetsNoFormatFilter) {
  OpenInput(VideoOnlySpec(320, 240));
  TFilterGraph* fg = SimpleVideo("-c:v rawvideo");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(KindOf(Upstream(fg->Outputs[0]->Filter)), "null");
}

TEST_F(FilterGraphTest, IncompatiblePixelFormatIsReplacedWithAWarning) {
  OpenInput(VideoOnlySpec(320, 240));
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4 -pix_fmt rgb24");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_TRUE(Recorder.Contains(
      llWarning, "Incompatible pixel format \"rgb24\" for codec \"mpeg4\", auto-selecting format \"yuv420p\""));
  EXPECT_EQ(av_buffersink_get_format(fg->Outputs[0]->Filter), AV_PIX_FMT_YUV420P);
}

TEST_F(FilterGraphTest, KeptPixelFormatTurnsOffAutomaticConversion) {
  OpenInput(VideoOnlySpec(320, 240));
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4 -pix_fmt +yuv420p");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_NE(fg->Graph->disable_auto_convert, 0u);
  EXPECT_EQ(av_buffersink_get_format(fg->Outputs[0]->Filter), AV_PIX_FMT_YUV420P);
  // A kept format the input does not have cannot be converted to.
  TFilterGraph* rgb = SimpleVideo("-c:v rawvideo -pix_fmt +rgb24");
  EXPECT_LT(Engine.ConfigureFilterGraph(*rgb), 0);
}

// Pushes a black 320x240 frame through a watermark graph; the luma inside the
// bottom-right 16x16 picture (5-pixel margin), elsewhere, and in the margin.
struct TCornerLuma {
  int Inside = -1, Elsewhere = -1, Margin = -1;
};

TCornerLuma PushBlackFrame(TFilterGraph* fg) {
  TCornerLuma result;
  TFramePtr in = NewFrame();
  in->format = AV_PIX_FMT_YUV420P;
  in->width = 320;
  in->height = 240;
  EXPECT_EQ(av_frame_get_buffer(in.get(), 0), 0);
  for (int y = 0; y < 240; ++y) std::memset(in->data[0] + y * in->linesize[0], 16, 320);
  for (int p = 1; p <= 2; ++p)
    for (int y = 0; y < 120; ++y) std::memset(in->data[p] + y * in->linesize[p], 128, 160);
  in->pts = 0;
  EXPECT_EQ(av_buffersrc_add_frame_flags(fg->Inputs[0]->Filter, in.get(), 0), 0);
  EXPECT_EQ(av_buffersrc_add_frame_flags(fg->Inputs[0]->Filter, nullptr, 0), 0);
  TFramePtr out = NewFrame();
  if (av_buffersink_get_frame(fg->Outputs[0]->Filter, out.get()) < 0 || out->width != 320 || out->height != 240) {
    ADD_FAILURE() << "no 320x240 frame out of the graph";
    return result;
  }
  auto luma = [&](int x, int y) { return static_cast<int>(out->data[0][y * out->linesize[0] + x]); };
  result.Inside = luma(320 - 5 - 8, 240 - 5 - 8);
  result.Elsewhere = luma(10, 10);
  result.Margin = luma(320 - 2, 240 - 2);
  return result;
}

// The recorder's watermark description for a picture path, position 9.
std::string WatermarkDescription(const std::string& path) {
  std::string escaped;
  for (char c : path) escaped += c == ':' ? std::string("\\\\:") : std::string(1, c);
  return "movie=" + escaped + " [watermark]; [in] [watermark] overlay=main_w-overlay_w-5:main_h-overlay_h-5 [out]";
}

TEST_F(FilterGraphTest, WatermarkDescriptionBlendsThePicture) {
  OpenInput(VideoOnlySpec(320, 240));
  const std::string png = Dir.Path("logo.png");
  WritePicture(png, 16, 16, 0xFFFFFFFF);
  const std::string description = WatermarkDescription(png);
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4 -vf \"" + description + "\"");
  ASSERT_EQ(Engine.OutputStreams[0]->FilterDescription, description);
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(fg->Inputs[0]->Name, "Parsed_overlay_1:main");
  EXPECT_EQ(fg->Outputs[0]->Name, "Parsed_overlay_1");

  // A black frame in, the white picture in the bottom-right corner out.
  const TCornerLuma luma = PushBlackFrame(fg);
  EXPECT_GT(luma.Inside, 200);
  EXPECT_LT(luma.Elsewhere, 40);
  EXPECT_LT(luma.Margin, 40);
}

struct TWatermarkPathCase {
  const char* Label;
  std::vector<std::string> Pictures;  // files written, relative to the test folder
  std::string Source;                 // the path the description names
};

class WatermarkPathTest : public FilterGraphTest, public ::testing::WithParamInterface<TWatermarkPathCase> {};

// Names the image reader would take for numbered sequences still open the
// picture stored under them; a real sequence pattern keeps its meaning.
TEST_P(WatermarkPathTest, PictureOpensUnderItsName) {
  const TWatermarkPathCase& c = GetParam();
  OpenInput(VideoOnlySpec(320, 240));
  for (const std::string& picture : c.Pictures) {
    const std::string path = Dir.Path(picture);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WritePicture(path, 16, 16, 0xFFFFFFFF);
  }
  const std::string description = WatermarkDescription(Dir.Path(c.Source));
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4 -vf \"" + description + "\"");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0) << description;
  // The stream keeps the description as it was written.
  EXPECT_EQ(Engine.OutputStreams[0]->FilterDescription, description);
  const TCornerLuma luma = PushBlackFrame(fg);
  EXPECT_GT(luma.Inside, 200);
  EXPECT_LT(luma.Elsewhere, 40);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WatermarkPathTest,
    ::testing::Values(TWatermarkPathCase{"FolderWithPercentD", {"wm%d/logo.png"}, "wm%d/logo.png"},
                      TWatermarkPathCase{"NameWithPercentD", {"logo%d.png"}, "logo%d.png"},
                      TWatermarkPathCase{"ZeroPaddedNumberAndColon", {"a:b/logo%03d.png"}, "a:b/logo%03d.png"},
                      TWatermarkPathCase{"SequencePattern", {"seq0.png", "seq1.png"}, "seq%d.png"}),
    [](const ::testing::TestParamInfo<TWatermarkPathCase>& info) { return std::string(info.param.Label); });

TEST_F(FilterGraphTest, LiteralMovieNamesLeaveOtherDescriptionsAlone) {
  const std::string folder = Dir.Path("w%d");
  std::filesystem::create_directories(folder);
  const std::string png = folder + "/logo.png";
  WritePicture(png, 4, 4, 0xFFFFFFFF);
  const std::string literal = ":format_opts=pattern_type=none";
  struct TCase {
    std::string Description;
    std::string Expected;
  } cases[] = {
      // Inserted right after the name; every source of the graph is looked at.
      {"movie=" + png + " [wm]; [in][wm] overlay [out]", "movie=" + png + literal + " [wm]; [in][wm] overlay [out]"},
      {"[in] null [a]; movie@pic=filename=" + png + ":loop=0 [wm]; [a][wm] overlay [out]",
       "[in] null [a]; movie@pic=filename=" + png + ":loop=0" + literal + " [wm]; [a][wm] overlay [out]"},
      {"amovie=" + png + ",anull", "amovie=" + png + literal + ",anull"},
      // Unchanged: options of its own, another demuxer, a name without a
      // number, a pattern that names no file, other filters.
      {"movie=" + png + ":format_opts=probesize=32 [wm]", ""},
      {"movie=" + png + ":png_pipe [wm]", ""},
      {"movie=" + Dir.Path("plain.png") + " [wm]", ""},
      {"movie=" + Dir.Path("none%d.png") + " [wm]", ""},
      {"drawtext=text=" + png, ""},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(LiteralMovieSources(c.Description), c.Expected.empty() ? c.Description : c.Expected) << c.Description;
}

struct TBadSimpleCase {
  const char* Description;
};

class BadSimpleGraphTest : public FilterGraphTest, public ::testing::WithParamInterface<TBadSimpleCase> {};

TEST_P(BadSimpleGraphTest, NotExactlyOneInputAndOutput) {
  OpenInput(VideoOnlySpec(320, 240));
  const std::string description = GetParam().Description;
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4 -vf \"" + description + "\"");
  EXPECT_EQ(Engine.ConfigureFilterGraph(*fg), AVERROR(EINVAL));
  EXPECT_TRUE(Recorder.Contains(
      llError, "Simple filtergraph \"" + description + "\" does not have exactly one input and output."));
}

INSTANTIATE_TEST_SUITE_P(Descriptions, BadSimpleGraphTest,
                         ::testing::Values(TBadSimpleCase{"split=2 [a][b]"}, TBadSimpleCase{"testsrc"},
                                           TBadSimpleCase{"[in] null [out]; [x] vflip [y]"}));

TEST_F(FilterGraphTest, UnparsableDescriptionReturnsTheLibraryCode) {
  OpenInput(VideoOnlySpec(320, 240));
  TFilterGraph* fg = SimpleVideo("-c:v mpeg4 -vf nosuchfilter");
  EXPECT_LT(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(fg->Reconfiguration, 0);
}

TEST_F(FilterGraphTest, AsyncAndVolumeOnTheInputSide) {
  OpenInput(VideoAudioSpec(2));
  TFilterGraph* fg = SimpleAudio("-c:a pcm_s16le -async 1 -vol 512");
  EXPECT_EQ(Engine.AudioSyncMethod, 1);
  EXPECT_EQ(Engine.AudioVolume, 512);
  Recorder.Clear();
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_TRUE(Recorder.Contains(
      llInfo, "-async is forwarded to lavfi similarly to -af aresample=async=1:min_hard_comp=0.100000:first_pts=0."));
  EXPECT_TRUE(Recorder.Contains(llInfo, "-vol is forwarded to lavfi similarly to -af volume=2.000000."));
  EXPECT_TRUE(Recorder.Contains(llWarning, "-vol has been deprecated. Use the volume audio filter instead."));

  // abuffer -> volume -> aresample -> the graph's pad.
  const AVFilterContext* resample = Get(fg, "graph 0 aresample for input stream 0:1");
  const AVFilterContext* volume = Get(fg, "graph 0 volume for input stream 0:1");
  ASSERT_NE(resample, nullptr);
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(KindOf(resample), "aresample");
  EXPECT_EQ(KindOf(volume), "volume");
  EXPECT_EQ(Upstream(resample), volume);
  EXPECT_EQ(Upstream(volume), fg->Inputs[0]->Filter);
  EXPECT_EQ(KindOf(fg->Inputs[0]->Filter), "abuffer");
  EXPECT_EQ(NameOf(fg->Inputs[0]->Filter), "graph 0 input from stream 0:1");
  EXPECT_EQ(KindOf(Upstream(Get(fg, "Parsed_anull_0"))), "aresample");

  // A reconfiguration drops first_pts and rebuilds the graph.
  Recorder.Clear();
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_TRUE(Recorder.Contains(
      llInfo, "-async is forwarded to lavfi similarly to -af aresample=async=1:min_hard_comp=0.100000."));
  EXPECT_NE(Get(fg, "graph 0 aresample for input stream 0:1"), nullptr);
  EXPECT_EQ(Get(fg, "output stream 0:0"), fg->Outputs[0]->Filter);
}

TEST_F(FilterGraphTest, DefaultsPutNeitherResampleNorVolume) {
  OpenInput(VideoAudioSpec(2));
  TFilterGraph* fg = SimpleAudio("-c:a pcm_s16le");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(Upstream(Get(fg, "Parsed_anull_0")), fg->Inputs[0]->Filter);
  EXPECT_EQ(Get(fg, "graph 0 aresample for input stream 0:1"), nullptr);
}

// Pushes one interleaved s16 stereo frame (left `l`, right `r`) and returns
// the first sample pair of the output.
std::pair<int, int> PushStereo(TFilterGraph* fg, int16_t l, int16_t r) {
  TFramePtr in = NewFrame();
  in->format = AV_SAMPLE_FMT_S16;
  in->sample_rate = 44100;
  av_channel_layout_default(&in->ch_layout, 2);
  in->nb_samples = 256;
  in->pts = 0;
  EXPECT_EQ(av_frame_get_buffer(in.get(), 0), 0);
  auto* samples = reinterpret_cast<int16_t*>(in->data[0]);
  for (int i = 0; i < 256; ++i) {
    samples[2 * i] = l;
    samples[2 * i + 1] = r;
  }
  EXPECT_EQ(av_buffersrc_add_frame_flags(fg->Inputs[0]->Filter, in.get(), 0), 0);
  EXPECT_EQ(av_buffersrc_add_frame_flags(fg->Inputs[0]->Filter, nullptr, 0), 0);
  TFramePtr out = NewFrame();
  EXPECT_GE(av_buffersink_get_frame(fg->Outputs[0]->Filter, out.get()), 0);
  EXPECT_EQ(out->format, AV_SAMPLE_FMT_S16);
  if (out->ch_layout.nb_channels != 2 || !out->data[0]) return {0, 0};
  const auto* o = reinterpret_cast<const int16_t*>(out->data[0]);
  return {o[0], o[1]};
}

TEST_F(FilterGraphTest, VolumeScalesTheSamples) {
  OpenInput(VideoAudioSpec(2));
  TFilterGraph* fg = SimpleAudio("-c:a pcm_s16le -vol 512");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(PushStereo(fg, 1000, -300), std::make_pair(2000, -600));
}

struct TChannelMapCase {
  const char* Maps;
  const char* Pan;  // the description forwarded to "pan"
  std::pair<int, int> Out;  // for a frame of left 1000, right -1000
};

class ChannelMapTest : public FilterGraphTest, public ::testing::WithParamInterface<TChannelMapCase> {};

TEST_P(ChannelMapTest, MapBecomesPanBeforeTheAudioFormat) {
  const TChannelMapCase& c = GetParam();
  OpenInput(VideoAudioSpec(2));
  TFilterGraph* fg = SimpleAudio(std::string("-c:a pcm_s16le -ac 2 ") + c.Maps);
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_TRUE(Recorder.Contains(llInfo, std::string("-map_channel is forwarded to lavfi similarly to -af pan=") + c.Pan +
                                            "."));
  EXPECT_EQ(KindOf(Upstream(Upstream(fg->Outputs[0]->Filter))), "pan");
  EXPECT_EQ(KindOf(Upstream(fg->Outputs[0]->Filter)), "aformat");
  EXPECT_EQ(PushStereo(fg, 1000, -1000), c.Out);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, ChannelMapTest,
    ::testing::Values(TChannelMapCase{"-map_channel 0.1.0 -map_channel 0.1.1", "0x3|c0=c0|c1=c1", {1000, -1000}},
                      TChannelMapCase{"-map_channel 0.1.1 -map_channel 0.1.0", "0x3|c0=c1|c1=c0", {-1000, 1000}},
                      TChannelMapCase{"-map_channel 0.1.0 -map_channel -1", "0x3|c0=c0", {1000, 0}}));

TEST_F(FilterGraphTest, RequestedAudioFormatReachesTheSink) {
  OpenInput(VideoAudioSpec(2));
  TFilterGraph* fg = SimpleAudio("-c:a pcm_s16le -ac 1 -ar 22050");
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  const AVFilterContext* sink = fg->Outputs[0]->Filter;
  EXPECT_EQ(NameOf(Upstream(sink)), "audio format for output stream 0:0");
  EXPECT_EQ(av_buffersink_get_sample_rate(sink), 22050);
  AVChannelLayout layout{};
  ASSERT_EQ(av_buffersink_get_ch_layout(sink, &layout), 0);
  EXPECT_EQ(layout.nb_channels, 1);
  av_channel_layout_uninit(&layout);
  EXPECT_EQ(av_buffersink_get_format(sink), AV_SAMPLE_FMT_S16);
  // The bare channel count became the default layout.
  EXPECT_EQ(Engine.OutputStreams[0]->CodecContext->ch_layout.order, AV_CHANNEL_ORDER_NATIVE);
}

TEST(OutputFormatListsTest, AudioListsFromRequestOrEncoder) {
  const AVCodec* pcm = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
  TCodecContextPtr ctx(avcodec_alloc_context3(pcm));
  EXPECT_EQ(OutputAudioFormats(ctx.get(), pcm), "sample_fmts=s16:");
  ctx->sample_fmt = AV_SAMPLE_FMT_FLT;
  ctx->sample_rate = 22050;
  av_channel_layout_default(&ctx->ch_layout, 1);
  EXPECT_EQ(OutputAudioFormats(ctx.get(), pcm), "sample_fmts=flt:sample_rates=22050:channel_layouts=0x4:");
  EXPECT_EQ(OutputAudioFormats(ctx.get(), nullptr), "sample_fmts=flt:sample_rates=22050:channel_layouts=0x4:");
}

TEST(OutputFormatListsTest, JpegListsUnderUnofficialCompliance) {
  const AVCodec* mjpeg = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  ASSERT_NE(mjpeg, nullptr);
  TCodecContextPtr ctx(avcodec_alloc_context3(mjpeg));
  ctx->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
  EXPECT_EQ(OutputPixelFormats(ctx.get(), mjpeg, false), "yuvj420p|yuvj422p|yuv420p|yuv422p");
  // bgra is only in the unofficial list, so it is kept there and replaced otherwise.
  EXPECT_EQ(ChooseSupportedPixelFormat(AV_PIX_FMT_YUV420P, mjpeg, ctx.get()), AV_PIX_FMT_YUV420P);
  const AVCodec* ljpeg = avcodec_find_encoder(AV_CODEC_ID_LJPEG);
  ASSERT_NE(ljpeg, nullptr);
  EXPECT_EQ(ChooseSupportedPixelFormat(AV_PIX_FMT_BGRA, ljpeg, ctx.get()), AV_PIX_FMT_BGRA);
  ctx->strict_std_compliance = FF_COMPLIANCE_NORMAL;
  EXPECT_NE(ChooseSupportedPixelFormat(AV_PIX_FMT_BGRA, mjpeg, ctx.get()), AV_PIX_FMT_BGRA);
}

TEST(OutputFormatListsTest, PixelFormatChoice) {
  const AVCodec* mpeg4 = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  const AVCodec* raw = avcodec_find_encoder(AV_CODEC_ID_RAWVIDEO);
  EXPECT_EQ(ChooseSupportedPixelFormat(AV_PIX_FMT_YUV420P, mpeg4, nullptr), AV_PIX_FMT_YUV420P);
  EXPECT_EQ(ChooseSupportedPixelFormat(AV_PIX_FMT_GBRP, mpeg4, nullptr), AV_PIX_FMT_YUV420P);
  EXPECT_EQ(ChooseSupportedPixelFormat(AV_PIX_FMT_GBRP, raw, nullptr), AV_PIX_FMT_GBRP);  // no list
  EXPECT_EQ(ChooseSupportedPixelFormat(AV_PIX_FMT_GBRP, nullptr, nullptr), AV_PIX_FMT_GBRP);
}

// --- complex graphs

TEST_F(FilterGraphTest, UnlabeledInputTakesTheFirstUnusedStream) {
  OpenInput(TwoVideosSpec(64, 48, 128, 96));
  ASSERT_GE(ParseOutput("-filter_complex hflip"), 0);
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  TFilterGraph* first = Engine.FilterGraphs[0].get();
  ASSERT_EQ(first->Inputs.size(), 1u);
  EXPECT_EQ(first->Inputs[0]->InputStream, Engine.InputStreams[0].get());
  EXPECT_EQ(first->Inputs[0]->Name, "Parsed_hflip_0");
  EXPECT_EQ(Engine.InputStreams[0]->Discard, 0);
  EXPECT_EQ(Engine.InputStreams[0]->DecodingNeeded, 1);
  EXPECT_EQ(Engine.InputStreams[0]->Stream->discard, AVDISCARD_NONE);
  // The output pad waits for an output stream.
  ASSERT_EQ(first->Outputs.size(), 1u);
  EXPECT_NE(first->Outputs[0]->PendingOutput, nullptr);
  EXPECT_EQ(first->Outputs[0]->OutputStream, nullptr);
  EXPECT_EQ(first->Reconfiguration, 1);

  // The next graph takes the second stream; after that none is left.
  ASSERT_GE(ParseOutput("-filter_complex hflip"), 0);
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  EXPECT_EQ(Engine.FilterGraphs[1]->Inputs[0]->InputStream, Engine.InputStreams[1].get());
  ASSERT_GE(ParseOutput("-filter_complex hflip"), 0);
  EXPECT_EQ(AbortText([&] { Engine.ConfigureComplexFilterGraphs(); }),
            "Cannot find a matching stream for unlabeled input pad 0 on filter Parsed_hflip_0");
}

TEST_F(FilterGraphTest, StreamUsedByAnOutputIsNotTaken) {
  OpenInput(TwoVideosSpec(64, 48, 128, 96));
  Video("-c:v mpeg4", 0);
  ASSERT_GE(ParseOutput("-filter_complex vflip"), 0);
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  EXPECT_EQ(Engine.FilterGraphs[0]->Inputs[0]->InputStream, Engine.InputStreams[1].get());
}

struct TLabelCase {
  const char* Description;
  int Stream;  // bound input stream, or -1 for an abort
  const char* Message;
};

class LabeledInputTest : public FilterGraphTest, public ::testing::WithParamInterface<TLabelCase> {};

TEST_P(LabeledInputTest, LabelNamesFileAndStream) {
  const TLabelCase& c = GetParam();
  OpenInput(TwoVideosSpec(64, 48, 128, 96));
  OpenInput(VideoAudioSpec(2));
  ASSERT_GE(ParseOutput(std::string("-filter_complex \"") + c.Description + "\""), 0);
  if (c.Stream < 0) {
    EXPECT_EQ(AbortText([&] { Engine.ConfigureComplexFilterGraphs(); }), c.Message);
    return;
  }
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  ASSERT_EQ(Engine.FilterGraphs[0]->Inputs.size(), 1u);
  EXPECT_EQ(Engine.FilterGraphs[0]->Inputs[0]->InputStream,
            Engine.InputStreams[static_cast<std::size_t>(c.Stream)].get());
}

INSTANTIATE_TEST_SUITE_P(
    Labels, LabeledInputTest,
    ::testing::Values(TLabelCase{"[0:v:1] hflip", 1, ""}, TLabelCase{"[0] hflip", 0, ""},
                      TLabelCase{"[1:a] anull", 3, ""}, TLabelCase{"[0x1:v] hflip", 2, ""},
                      TLabelCase{"[5:v] hflip", -1, "Invalid file index 5 in filtergraph description [5:v] hflip."},
                      TLabelCase{"[0:a] anull", -1,
                                 "Stream specifier \"a\" in filtergraph description [0:a] anull matches no streams."},
                      TLabelCase{"[0:v:2] hflip", -1,
                                 "Stream specifier \"v:2\" in filtergraph description [0:v:2] hflip matches no "
                                 "streams."}));

TEST_F(FilterGraphTest, BindOutputFilterCreatesTheFedStream) {
  OpenInput(TwoVideosSpec(64, 48, 128, 96));
  ASSERT_GE(ParseOutput("-filter_complex \"[0:v:1] hflip [flipped]\""), 0);
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  TFilterGraph* fg = Engine.FilterGraphs[0].get();
  TOutputFilter& ofilter = *fg->Outputs[0];
  ASSERT_NE(ofilter.PendingOutput, nullptr);
  EXPECT_STREQ(ofilter.PendingOutput->name, "flipped");

  ASSERT_GE(ParseOutput("-c:v mpeg4 -s 320x180"), 0);
  AVFormatContext* oc = Output();
  Engine.BindOutputFilter(ofilter, O, oc);
  ASSERT_EQ(Engine.OutputStreams.size(), 1u);
  TOutputStream* ost = Engine.OutputStreams[0].get();
  EXPECT_EQ(ost->Filter, &ofilter);
  EXPECT_EQ(ofilter.OutputStream, ost);
  EXPECT_EQ(ost->SourceIndex, -1);
  EXPECT_EQ(ofilter.PendingOutput, nullptr);
  EXPECT_EQ(ofilter.Name, "Parsed_hflip_0");
  EXPECT_EQ(NameOf(ofilter.Filter), "output stream 0:0");
  ASSERT_EQ(avfilter_graph_config(fg->Graph.get(), nullptr), 0);
  EXPECT_EQ(av_buffersink_get_w(ofilter.Filter), 320);
  EXPECT_EQ(av_buffersink_get_h(ofilter.Filter), 180);

  // A reconfiguration rebuilds inputs and outputs in order.
  ASSERT_EQ(Engine.ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(av_buffersink_get_w(ofilter.Filter), 320);
  EXPECT_EQ(fg->Inputs[0]->InputStream, Engine.InputStreams[1].get());
  EXPECT_EQ(Engine.InputStreams[1]->DecodingNeeded, 1);
}

TEST_F(FilterGraphTest, AudioOutputOfAComplexGraph) {
  OpenInput(VideoAudioSpec(2));
  ASSERT_GE(ParseOutput("-filter_complex \"[0:a] asplit [x][y]\""), 0);
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  TFilterGraph* fg = Engine.FilterGraphs[0].get();
  ASSERT_EQ(fg->Outputs.size(), 2u);
  ASSERT_GE(ParseOutput("-c:a pcm_s16le -ar 8000"), 0);
  AVFormatContext* oc = Output();
  for (const auto& ofilter : fg->Outputs) {
    // The pad names follow the labels, whatever order the parser lists them in.
    const std::string label = ofilter->PendingOutput->name;
    Engine.BindOutputFilter(*ofilter, O, oc);
    EXPECT_EQ(ofilter->Name, label == "x" ? "Parsed_asplit_0:output0" : "Parsed_asplit_0:output1");
  }
  ASSERT_EQ(avfilter_graph_config(fg->Graph.get(), nullptr), 0);
  EXPECT_EQ(av_buffersink_get_sample_rate(fg->Outputs[1]->Filter), 8000);
  EXPECT_EQ(Engine.OutputStreams[1]->Index, 1);
}

TEST_F(FilterGraphTest, CopyCannotBeFedByAGraph) {
  OpenInput(VideoOnlySpec());
  ASSERT_GE(ParseOutput("-filter_complex hflip"), 0);
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  ASSERT_GE(ParseOutput("-c:v copy"), 0);
  AVFormatContext* oc = Output();
  EXPECT_EQ(AbortText([&] { Engine.BindOutputFilter(*Engine.FilterGraphs[0]->Outputs[0], O, oc); }),
            "Streamcopy requested for output stream 0:0, which is fed from a complex filtergraph. Filtering and "
            "streamcopy cannot be used together.");
}

TEST_F(FilterGraphTest, SubtitleStreamGetsACanvas) {
  OpenInput(SubtitlesSpec());  // 320x240 video, a text subtitle stream
  ASSERT_EQ(Engine.InputStreams[1]->MediaType(), AVMEDIA_TYPE_SUBTITLE);
  ASSERT_GE(ParseOutput("-filter_complex \"[0:s] null\""), 0);
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  TInputStream& ist = *Engine.InputStreams[1];
  EXPECT_EQ(Engine.FilterGraphs[0]->Inputs[0]->InputStream, &ist);
  EXPECT_TRUE(Recorder.Contains(llInfo, "sub2video: using 320x240 canvas"));
  EXPECT_EQ(ist.Sub2VideoW, 320);
  EXPECT_EQ(ist.Sub2VideoH, 240);
  EXPECT_EQ(ist.ResamplePixFmt, AV_PIX_FMT_BGRA);
  EXPECT_EQ(ist.CodecContext->pix_fmt, AV_PIX_FMT_BGRA);
  ASSERT_NE(ist.Sub2VideoFrame, nullptr);
  const AVFrame* canvas = ist.Sub2VideoFrame.get();
  EXPECT_EQ(canvas->format, AV_PIX_FMT_BGRA);
  EXPECT_EQ(canvas->width, 320);
  EXPECT_EQ(canvas->height, 240);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(canvas->data[0]) % 32, 0u);
  bool zero = true;
  for (int y = 0; y < 240 && zero; ++y)
    for (int x = 0; x < 320 * 4; ++x) zero = zero && canvas->data[0][y * canvas->linesize[0] + x] == 0;
  EXPECT_TRUE(zero);
  EXPECT_EQ(av_buffersrc_get_nb_failed_requests(Engine.FilterGraphs[0]->Inputs[0]->Filter), 0u);
}

TEST_F(FilterGraphTest, SubtitleCanvasWithoutVideoIsAtLeastPal) {
  TMediaSpec media;
  media.Audios.push_back(TAudioSpec{44100, 1});
  media.Subtitles = 1;
  OpenInput(media);
  ASSERT_GE(ParseOutput("-filter_complex \"[0:s] null\""), 0);
  ASSERT_EQ(Engine.ConfigureComplexFilterGraphs(), 0);
  EXPECT_EQ(Engine.InputStreams[1]->Sub2VideoW, 720);
  EXPECT_EQ(Engine.InputStreams[1]->Sub2VideoH, 576);
}

}  // namespace
}  // namespace vexa::test
