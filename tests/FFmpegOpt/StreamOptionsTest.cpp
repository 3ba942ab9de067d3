// Output stream creation: encoder choice and the per-stream settings of an
// output line, on streams of real inputs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "OutputStreamFixture.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/channel_layout.h>
}

namespace vexa::test {
namespace {

using ::testing::HasSubstr;

class StreamOptionsTest : public OutputStreamTest {
 protected:
  void SetUp() override {
    OutputStreamTest::SetUp();
    OpenInput(VideoAudioSpec(2));  // stream 0 video 320x240, stream 1 stereo PCM
  }
};

TEST_F(StreamOptionsTest, QScaleChoosesFixedQualityAndWarnsOfAmbiguity) {
  Recorder.Clear();
  TOutputStream* ost = Video("-c:v mpeg4 -qscale 5");
  ASSERT_NE(ost->Encoder, nullptr);
  EXPECT_STREQ(ost->Encoder->name, "mpeg4");
  EXPECT_EQ(ost->CodecContext->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_TRUE(ost->CodecContext->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(ost->CodecContext->global_quality, 590);
  EXPECT_TRUE(Recorder.Contains(llWarning, "Please use -q:a or -q:v, -qscale is ambiguous"));
  EXPECT_EQ(ost->FilterDescription, "null");
  // The source is now in use.
  EXPECT_EQ(ost->SourceIndex, 0);
  EXPECT_EQ(ost->SyncInput, Engine.InputStreams[0].get());
  EXPECT_EQ(Engine.InputStreams[0]->Discard, 0);
  EXPECT_EQ(Engine.InputStreams[0]->Stream->discard, AVDISCARD_NONE);
  EXPECT_EQ(Engine.InputStreams[1]->Discard, 1);
  ASSERT_EQ(Engine.OutputStreams.size(), 1u);
  EXPECT_EQ(Engine.OutputStreams[0].get(), ost);
}

TEST_F(StreamOptionsTest, WithoutQualityNoFixedQuality) {
  TOutputStream* ost = Video("-c:v mpeg4");
  EXPECT_FALSE(ost->CodecContext->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(ost->CodecContext->global_quality, 0);
}

TEST_F(StreamOptionsTest, CopyIgnoresPictureSettingsButTakesTheRate) {
  TOutputStream* ost = Video("-c:v copy -s 640x480 -aspect 16:9 -pix_fmt yuv420p -r 30 -copyinkf");
  EXPECT_EQ(ost->StreamCopy, 1);
  EXPECT_EQ(ost->Encoder, nullptr);
  EXPECT_EQ(ost->CodecContext->width, 0);
  EXPECT_EQ(ost->CodecContext->height, 0);
  EXPECT_EQ(ost->FrameAspectRatio, 0.0f);
  EXPECT_EQ(ost->CodecContext->pix_fmt, AV_PIX_FMT_NONE);
  EXPECT_EQ(ost->FrameRate.num, 30);
  EXPECT_EQ(ost->FrameRate.den, 1);
  EXPECT_EQ(ost->CopyInitialNonKeyframes, 1);
  EXPECT_TRUE(ost->FilterDescription.empty());
}

TEST_F(StreamOptionsTest, EncodedStreamTakesSizeAspectAndRate) {
  TOutputStream* ost = Video("-c:v mpeg4 -s 640x480 -aspect 16:9 -r ntsc");
  EXPECT_EQ(ost->CodecContext->width, 640);
  EXPECT_EQ(ost->CodecContext->height, 480);
  EXPECT_NEAR(ost->FrameAspectRatio, 16.0 / 9.0, 1e-6);
  EXPECT_EQ(ost->FrameRate.num, 30000);
  EXPECT_EQ(ost->FrameRate.den, 1001);
}

TEST_F(StreamOptionsTest, DefaultCodecComesFromTheFormatAndFileName) {
  ASSERT_GE(ParseOutput(""), 0);
  AVFormatContext* oc = Output("out.avi");
  TOutputStream* ost = Engine.NewVideoStream(O, oc, 0);
  ASSERT_NE(ost->Encoder, nullptr);
  EXPECT_EQ(ost->Encoder->id, oc->oformat->video_codec);
  EXPECT_EQ(ost->CodecContext->codec_id, oc->oformat->video_codec);
  EXPECT_EQ(ost->StreamCopy, 0);
}

struct TPixFmtCase {
  const char* Arg;
  AVPixelFormat Format;
  int Keep;
};

class PixelFormatTest : public StreamOptionsTest, public ::testing::WithParamInterface<TPixFmtCase> {};

TEST_P(PixelFormatTest, PlusKeepsTheFormat) {
  const TPixFmtCase& c = GetParam();
  TOutputStream* ost = Video(std::string("-c:v mpeg4 -pix_fmt ") + c.Arg);
  EXPECT_EQ(ost->CodecContext->pix_fmt, c.Format);
  EXPECT_EQ(ost->KeepPixFmt, c.Keep);
}

INSTANTIATE_TEST_SUITE_P(Formats, PixelFormatTest,
                         ::testing::Values(TPixFmtCase{"yuv420p", AV_PIX_FMT_YUV420P, 0},
                                           TPixFmtCase{"+yuv420p", AV_PIX_FMT_YUV420P, 1},
                                           TPixFmtCase{"+", AV_PIX_FMT_NONE, 1},
                                           TPixFmtCase{"rgb24", AV_PIX_FMT_RGB24, 0}));

struct TAbortCase {
  const char* Line;
  const char* Message;
};

class VideoAbortTest : public StreamOptionsTest, public ::testing::WithParamInterface<TAbortCase> {};

TEST_P(VideoAbortTest, AbortsWithTheMessage) {
  const TAbortCase& c = GetParam();
  ASSERT_GE(ParseOutput(c.Line), 0) << Engine.LastErrorText;
  AVFormatContext* oc = Output();
  EXPECT_EQ(AbortText([&] { Engine.NewVideoStream(O, oc, 0); }), c.Message);
  EXPECT_EQ(Engine.LastErrorText, c.Message);
  EXPECT_TRUE(Recorder.Contains(llFatal, c.Message));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, VideoAbortTest,
    ::testing::Values(TAbortCase{"-c:v mpeg4 -pix_fmt foo", "Unknown pixel format requested: foo."},
                      TAbortCase{"-c:v mpeg4 -pix_fmt +foo", "Unknown pixel format requested: foo."},
                      TAbortCase{"-c:v mpeg4 -aspect 0:1", "Invalid aspect ratio: 0:1"},
                      TAbortCase{"-c:v mpeg4 -aspect wide", "Invalid aspect ratio: wide"},
                      TAbortCase{"-c:v mpeg4 -r fast", "Invalid framerate value: fast"},
                      TAbortCase{"-c:v copy -r fast", "Invalid framerate value: fast"},
                      TAbortCase{"-c:v mpeg4 -s 12", "Invalid frame size: 12."},
                      TAbortCase{"-c:v mpeg4 -rc_override 0,100", "error parsing rc_override"},
                      TAbortCase{"-c:v mpeg4 -rc_override 0,100,2/x", "error parsing rc_override"},
                      TAbortCase{"-c:v nosuchcodec", "Unknown encoder \"nosuchcodec\""},
                      TAbortCase{"-c:v pcm_s16le", "Invalid encoder type \"pcm_s16le\""},
                      TAbortCase{"-c:v mpeg4 -bsf:v null,nosuchbsf", "Unknown bitstream filter \"nosuchbsf\""}));

TEST_F(StreamOptionsTest, RateControlOverrides) {
  TOutputStream* ost = Video("-c:v mpeg4 -rc_override 0,100,2/101,200,-50");
  const AVCodecContext* ctx = ost->CodecContext.get();
  ASSERT_EQ(ctx->rc_override_count, 2);
  EXPECT_EQ(ctx->rc_override[0].start_frame, 0);
  EXPECT_EQ(ctx->rc_override[0].end_frame, 100);
  EXPECT_EQ(ctx->rc_override[0].qscale, 2);
  EXPECT_FLOAT_EQ(ctx->rc_override[0].quality_factor, 1.0f);
  EXPECT_EQ(ctx->rc_override[1].start_frame, 101);
  EXPECT_EQ(ctx->rc_override[1].end_frame, 200);
  EXPECT_EQ(ctx->rc_override[1].qscale, 0);
  EXPECT_FLOAT_EQ(ctx->rc_override[1].quality_factor, 0.5f);
}

TEST_F(StreamOptionsTest, PassThreeSetsBothPassesAfterExistingFlags) {
  TOutputStream* ost = Video("-c:v mpeg4 -flags +mv4 -pass 3 -passlogfile stats");
  EXPECT_TRUE(ost->CodecContext->flags & AV_CODEC_FLAG_PASS1);
  EXPECT_TRUE(ost->CodecContext->flags & AV_CODEC_FLAG_PASS2);
  ASSERT_NE(ost->EncoderOptions.Value("flags"), nullptr);
  EXPECT_STREQ(ost->EncoderOptions.Value("flags"), "+mv4+pass1+pass2");
  EXPECT_EQ(ost->LogFilePrefix, "stats");
}

TEST_F(StreamOptionsTest, PassTwoOnly) {
  TOutputStream* ost = Video("-c:v mpeg4 -pass 2");
  EXPECT_FALSE(ost->CodecContext->flags & AV_CODEC_FLAG_PASS1);
  EXPECT_TRUE(ost->CodecContext->flags & AV_CODEC_FLAG_PASS2);
  EXPECT_STREQ(ost->EncoderOptions.Value("flags"), "+pass2");
}

std::string Coefficients(int count, int first = 1) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(first + i);
  return text;
}

TEST_F(StreamOptionsTest, IntraMatrixWith64ValuesIsTaken) {
  TOutputStream* ost =
      Video("-c:v mpeg4 -intra_matrix " + Coefficients(64) + " -inter_matrix " + Coefficients(64, 100) + ",999,1000");
  const AVCodecContext* ctx = ost->CodecContext.get();
  ASSERT_NE(ctx->intra_matrix, nullptr);
  ASSERT_NE(ctx->inter_matrix, nullptr);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(ctx->intra_matrix[i], i + 1);
    EXPECT_EQ(ctx->inter_matrix[i], 100 + i);  // values after the 64th are ignored
  }
}

TEST_F(StreamOptionsTest, IntraMatrixWith63ValuesAbortsAtCoefficient62) {
  const std::string text = Coefficients(63);
  ASSERT_GE(ParseOutput("-c:v mpeg4 -intra_matrix " + text), 0);
  AVFormatContext* oc = Output();
  EXPECT_EQ(AbortText([&] { Engine.NewVideoStream(O, oc, 0); }), "Syntax error in matrix \"" + text + "\" at coeff 62");
}

TEST_F(StreamOptionsTest, ParseMatrixReadsLikeAtoi) {
  uint16_t m[64] = {};
  Engine.ParseMatrix(m, " 7,x,-1," + Coefficients(60) + ",+9");
  EXPECT_EQ(m[0], 7);
  EXPECT_EQ(m[1], 0);       // no digits
  EXPECT_EQ(m[2], 0xFFFF);  // -1 as a 16-bit coefficient
  EXPECT_EQ(m[3], 1);
  EXPECT_EQ(m[63], 9);
  EXPECT_THAT(AbortText([&] { Engine.ParseMatrix(m, ""); }), HasSubstr("at coeff 0"));
}

TEST_F(StreamOptionsTest, VideoFieldsFromTheirLists) {
  Engine.IntraOnly = 1;
  Engine.IntraDcPrecision = 10;
  Engine.DoPsnr = 1;
  Engine.FrameBitsPerRawSample = 10;
  TOutputStream* ost =
      Video("-c:v mpeg4 -frames:v 10 -force_key_frames 0,5 -force_fps -top 1 -copypriorss 0 -vf hflip -tag:v XVID");
  const AVCodecContext* ctx = ost->CodecContext.get();
  EXPECT_EQ(ctx->gop_size, 0);
  EXPECT_EQ(ctx->intra_dc_precision, 2);
  EXPECT_TRUE(ctx->flags & AV_CODEC_FLAG_PSNR);
  EXPECT_EQ(ctx->bits_per_raw_sample, 10);
  EXPECT_EQ(ost->MaxFrames, 10);
  EXPECT_EQ(ost->ForcedKeyFrames, "0,5");
  EXPECT_EQ(ost->ForceFps, 1);
  EXPECT_EQ(ost->TopFieldFirst, 1);
  EXPECT_EQ(ost->CopyPriorStart, 0);
  EXPECT_EQ(ost->FilterDescription, "hflip");
  EXPECT_EQ(ctx->codec_tag, MKTAG('X', 'V', 'I', 'D'));
}

TEST_F(StreamOptionsTest, DefaultsWithoutOptions) {
  TOutputStream* ost = Video("-c:v mpeg4");
  EXPECT_EQ(ost->MaxFrames, NoLimit);
  EXPECT_EQ(ost->CopyPriorStart, -1);
  EXPECT_EQ(ost->TopFieldFirst, -1);
  EXPECT_EQ(ost->KeepPixFmt, 0);
  EXPECT_EQ(ost->CodecContext->gop_size, 12);  // the encoder's default
  EXPECT_EQ(ost->CodecContext->intra_matrix, nullptr);
  EXPECT_EQ(ost->CodecContext->rc_override_count, 0);
}

TEST_F(StreamOptionsTest, NumericCodecTag) {
  TOutputStream* ost = Video("-c:v mpeg4 -tag:v 0x20");
  EXPECT_EQ(ost->CodecContext->codec_tag, 0x20u);
}

TEST_F(StreamOptionsTest, StreamSpecifiersSelectTheStream) {
  // Only entries whose specifier matches the new stream count; the last one wins.
  TOutputStream* ost = Video("-c:v libnosuch -c:a pcm_s16le -c:v:0 mpeg4 -s:a 100x100 -s 200x200 -s:v 320x200");
  EXPECT_STREQ(ost->Encoder->name, "mpeg4");
  EXPECT_EQ(ost->CodecContext->width, 320);
  EXPECT_EQ(ost->CodecContext->height, 200);
}

TEST_F(StreamOptionsTest, GlobalHeaderFollowsTheMuxer) {
  EXPECT_TRUE(Video("-c:v mpeg4", 0, "a.mp4")->CodecContext->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
  EXPECT_FALSE(Video("-c:v mpeg4", 0, "a.avi")->CodecContext->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
}

TEST_F(StreamOptionsTest, StreamIdAndIndices) {
  ASSERT_GE(ParseOutput("-c:v mpeg4 -c:a pcm_s16le -streamid 1:33"), 0);
  AVFormatContext* oc = Output();
  TOutputStream* v = Engine.NewVideoStream(O, oc, 0);
  TOutputStream* a = Engine.NewAudioStream(O, oc, 1);
  EXPECT_EQ(v->Index, 0);
  EXPECT_EQ(a->Index, 1);
  EXPECT_EQ(v->Stream, oc->streams[0]);
  EXPECT_EQ(a->Stream->id, 33);
  EXPECT_EQ(v->FileIndex, 0);
  EXPECT_EQ(a->CodecContext->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(a->Stream->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
}

TEST_F(StreamOptionsTest, BitstreamFiltersInOrder) {
  TOutputStream* ost = Video("-c:v copy -bsf:v null,dump_extra");
  ASSERT_EQ(ost->BitstreamFilters.size(), 2u);
  EXPECT_STREQ(ost->BitstreamFilters[0]->filter->name, "null");
  EXPECT_STREQ(ost->BitstreamFilters[1]->filter->name, "dump_extra");
}

TEST_F(StreamOptionsTest, EncoderOptionsAndScalerFlags) {
  TOutputStream* ost = Video("-c:v mpeg4 -b:v 1000k -b:a 64k -sws_flags lanczos");
  EXPECT_STREQ(ost->EncoderOptions.Value("b"), "1000k");
  EXPECT_EQ(ost->SwsFlags, SWS_LANCZOS);
}

TEST_F(StreamOptionsTest, ScalerFlagsDefaultToBicubic) { EXPECT_EQ(Video("-c:v mpeg4")->SwsFlags, SWS_BICUBIC); }

TEST_F(StreamOptionsTest, TwentyFourBitEncoderGetsTheResamplerBits) {
  EXPECT_STREQ(Audio("-c:a pcm_s24le", 1)->SwrOptions.Value("output_sample_bits"), "24");
  EXPECT_EQ(Audio("-c:a pcm_s16le", 1)->SwrOptions.Value("output_sample_bits"), nullptr);
}

TEST_F(StreamOptionsTest, AudioSettings) {
  TOutputStream* ost = Audio("-c:a pcm_s16le -ac 1 -ar 22050 -sample_fmt s16 -af volume=2", 1);
  const AVCodecContext* ctx = ost->CodecContext.get();
  EXPECT_EQ(ctx->ch_layout.nb_channels, 1);
  EXPECT_EQ(ctx->sample_rate, 22050);
  EXPECT_EQ(ctx->sample_fmt, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(ost->FilterDescription, "volume=2");
}

TEST_F(StreamOptionsTest, AudioCopyIgnoresTheSettings) {
  TOutputStream* ost = Audio("-c:a copy -ac 1 -ar 22050 -sample_fmt s16", 1);
  EXPECT_EQ(ost->StreamCopy, 1);
  EXPECT_EQ(ost->CodecContext->ch_layout.nb_channels, 0);
  EXPECT_EQ(ost->CodecContext->sample_rate, 0);
  EXPECT_EQ(ost->CodecContext->sample_fmt, AV_SAMPLE_FMT_NONE);
}

TEST_F(StreamOptionsTest, AudioWithoutFilterIsAnull) {
  EXPECT_EQ(Audio("-c:a pcm_s16le", 1)->FilterDescription, "anull");
}

TEST_F(StreamOptionsTest, UnknownSampleFormatAborts) {
  ASSERT_GE(ParseOutput("-c:a pcm_s16le -sample_fmt s17"), 0);
  AVFormatContext* oc = Output();
  EXPECT_EQ(AbortText([&] { Engine.NewAudioStream(O, oc, 1); }), "Invalid sample format \"s17\"");
}

TEST_F(StreamOptionsTest, ChannelMapsOfTheSourceAndMutedChannels) {
  // 0.1.x name this stream's source, -1 is muted; the last two name other outputs.
  TOutputStream* ost = Audio(
      "-c:a pcm_s16le -map_channel 0.1.1 -map_channel -1 "
      "-map_channel 0.1.0:0.0 -map_channel 0.1.0:1.0 -map_channel 0.1.0:0.1",
      1);
  ASSERT_EQ(ost->AudioChannelsMapped, 3);
  EXPECT_EQ(ost->AudioChannelsMap[0], 1);
  EXPECT_EQ(ost->AudioChannelsMap[1], -1);
  EXPECT_EQ(ost->AudioChannelsMap[2], 0);
}

TEST_F(StreamOptionsTest, StreamWithoutSourceTakesOnlyMutedChannels) {
  TOutputStream* ost = Audio("-c:a pcm_s16le -map_channel 0.1.1 -map_channel -1", -1);
  ASSERT_EQ(ost->AudioChannelsMapped, 1);
  EXPECT_EQ(ost->AudioChannelsMap[0], -1);
}

TEST_F(StreamOptionsTest, ChannelMapHoldsAtMost32Entries) {
  std::string line = "-c:a pcm_s16le";
  for (int i = 0; i < 34; ++i) line += " -map_channel 0.1." + std::to_string(i % 2);
  TOutputStream* ost = Audio(line, 1);
  EXPECT_EQ(ost->AudioChannelsMapped, 32);
  EXPECT_EQ(ost->AudioChannelsMap[31], 1);
  EXPECT_EQ(Recorder.Count("Max channel mapping for output 0.0 reached"), 2);
}

TEST_F(StreamOptionsTest, SubtitleSizeOnlyWhenEncoded) {
  ASSERT_GE(ParseOutput("-c:s ass -s 640x360"), 0);
  AVFormatContext* oc = Output();
  TOutputStream* encoded = Engine.NewSubtitleStream(O, oc, -1);
  EXPECT_EQ(encoded->CodecContext->width, 640);
  EXPECT_EQ(encoded->CodecContext->height, 360);
  ASSERT_GE(ParseOutput("-c:s copy -s 640x360"), 0);
  TOutputStream* copied = Engine.NewSubtitleStream(O, Output(), -1);
  EXPECT_EQ(copied->CodecContext->width, 0);
}

TEST_F(StreamOptionsTest, DataStreamsAreOnlyCopied) {
  ASSERT_GE(ParseOutput(""), 0);
  AVFormatContext* oc = Output();
  EXPECT_EQ(AbortText([&] { Engine.NewDataStream(O, oc, -1); }),
            "Data stream encoding not supported yet (only streamcopy)");
  ASSERT_GE(ParseOutput("-c:d copy"), 0);
  EXPECT_EQ(Engine.NewDataStream(O, Output(), -1)->StreamCopy, 1);
}

TEST_F(StreamOptionsTest, AttachmentsAreCopied) {
  ASSERT_GE(ParseOutput(""), 0);
  TOutputStream* ost = Engine.NewAttachmentStream(O, Output(), -1);
  EXPECT_EQ(ost->StreamCopy, 1);
  EXPECT_EQ(ost->SourceIndex, -1);
  EXPECT_EQ(ost->SyncInput, nullptr);
  EXPECT_EQ(ost->CodecContext->codec_type, AVMEDIA_TYPE_ATTACHMENT);
}

}  // namespace
}  // namespace vexa::test
