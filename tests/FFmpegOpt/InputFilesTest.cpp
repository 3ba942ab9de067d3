// OpenInputFile against real media files and the test program formats.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "Base/ProgramFormats.h"
#include "OptFixtures.h"
#include "Support/MediaFixtures.h"
#include "Support/TestProgramFormat.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace vexa::test {
namespace {

using ::testing::HasSubstr;

class InputFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestProgramFormats();
    ClearOptionErrorText();
    Engine.InitFileOptions(O);
  }
  void TearDown() override { Engine.FreeFileOptions(O); }

  int Open(const std::string& line, const std::string& name) {
    Engine.FreeFileOptions(O);
    Engine.InitFileOptions(O);
    return Engine.OpenInputFile(O, line, name);
  }
  AVFormatContext* Context(int file = 0) { return Engine.InputFiles.at(file)->FormatContext; }

  TLogRecorder Recorder{llDebug, TMediaLog::Hook};
  TTestEngine Engine;
  TFileOptions O;
  TTempDir Dir;
};

struct TProgramCase {
  const char* Line;
  const char* Format;
  const char* VideoSize;
  const char* FrameRate;  // what the format received ("" when it has no such option)
  int Channels;
  int SampleRate;
};

class ProgramFormatLineTest : public InputFilesTest, public ::testing::WithParamInterface<TProgramCase> {};

TEST_P(ProgramFormatLineTest, OptionsReachTheFormatOnlyWhenItHasThem) {
  const TProgramCase& c = GetParam();
  const int opens = TestFormatOpenCount();
  ASSERT_EQ(Open(c.Line, "video=0:audio=-1"), 0) << Engine.LastErrorText;
  ASSERT_EQ(TestFormatOpenCount(), opens + 1);
  const TTestFormatOpen seen = LastTestFormatOpen();
  EXPECT_EQ(seen.Format, c.Format);
  EXPECT_EQ(seen.Url, "video=0:audio=-1");
  EXPECT_EQ(seen.VideoSize, c.VideoSize);
  EXPECT_EQ(seen.FrameRate, c.FrameRate);
  EXPECT_EQ(seen.Channels, c.Channels);
  EXPECT_EQ(seen.SampleRate, c.SampleRate);
  // Every key was consumed: no leftover message.
  EXPECT_EQ(Engine.LastErrorText, "");

  ASSERT_EQ(Engine.InputFiles.size(), 1u);
  const TInputFile& file = *Engine.InputFiles[0];
  EXPECT_EQ(file.StreamCount, c.Channels > 0 ? 2 : 1);
  EXPECT_EQ(file.FirstStreamIndex, 0);
  ASSERT_EQ(Engine.InputStreams.size(), static_cast<size_t>(file.StreamCount));
  const TInputStream& video = *Engine.InputStreams[0];
  // -r has an empty specifier, so it matches the video stream as well.
  EXPECT_EQ(video.FrameRate.num, 15);
  EXPECT_EQ(video.FrameRate.den, 1);
  EXPECT_EQ(video.ResampleWidth, 320);
  EXPECT_EQ(video.ResampleHeight, 240);
  EXPECT_EQ(video.ResamplePixFmt, AV_PIX_FMT_BGRA);
  EXPECT_EQ(video.Discard, 1);
  EXPECT_EQ(video.Stream->discard, AVDISCARD_ALL);
  ASSERT_NE(video.Decoder, nullptr);
  EXPECT_STREQ(video.Decoder->name, "rawvideo");
  if (c.Channels > 0) {
    const TInputStream& audio = *Engine.InputStreams[1];
    EXPECT_EQ(audio.ResampleChannels, c.Channels);
    EXPECT_EQ(audio.ResampleSampleRate, c.SampleRate);
    EXPECT_EQ(audio.ResampleChannelLayout, static_cast<int64_t>(AV_CH_LAYOUT_STEREO));
    EXPECT_EQ(audio.FrameRate.num, 0);  // frame rates are for video only
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgramFormatLineTest,
    ::testing::Values(TProgramCase{"-f vexatest -s 320x240 -r 15", "vexatest", "320x240", "15", 0, 44100},
                      TProgramCase{"-f vexatest_plain -s 320x240 -r 15", "vexatest_plain", "320x240", "", 0, 44100},
                      TProgramCase{"-f vexatest -s 160x120 -s 320x240 -r 15 -ar 22050 -ac 2", "vexatest",
                                   "320x240", "15", 2, 22050},
                      TProgramCase{"-f vexatest_plain -s 320x240 -r 15 -ar 22050 -ac 2 -sample_fmt s16",
                                   "vexatest_plain", "320x240", "", 0, 22050}));

TEST_F(InputFilesTest, ProgramFormatDeliversPacketsAndClosesOnce) {
  ASSERT_EQ(Open("-f vexatest -s 64x48 -r 10", "video=0"), 0) << Engine.LastErrorText;
  const TInputFile& file = *Engine.InputFiles[0];
  ASSERT_NE(file.ProgramFormat, nullptr);
  // A live input has no length and no container start: none is made up.
  EXPECT_EQ(file.FormatContext->duration, AV_NOPTS_VALUE);
  EXPECT_EQ(file.FormatContext->start_time, AV_NOPTS_VALUE);
  EXPECT_EQ(Engine.LongestInputDuration, -1);
  AVPacket* pkt = av_packet_alloc();
  int packets = 0;
  int ret = 0;
  while ((ret = ReadProgramInput(file.FormatContext, file.ProgramFormat, pkt)) >= 0) {
    EXPECT_EQ(pkt->size, 64 * 48 * 4);
    EXPECT_EQ(pkt->time_base.num, 1);
    EXPECT_EQ(pkt->time_base.den, 10);
    ++packets;
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  EXPECT_EQ(ret, AVERROR_EOF);
  EXPECT_EQ(packets, FramesPerInput);
  const int closes = TestFormatCloseCount();
  Engine.InputStreams.clear();
  Engine.InputFiles.clear();
  EXPECT_EQ(TestFormatCloseCount(), closes + 1);
}

TEST_F(InputFilesTest, UnknownInputFormatFailsWithInvalidArgument) {
  EXPECT_EQ(Open("-f nosuchformat", "x"), AVERROR(EINVAL));
  EXPECT_EQ(Engine.LastErrorText, "Unknown input format: \"nosuchformat\"");
  EXPECT_TRUE(Recorder.Contains(llFatal, "Unknown input format: \"nosuchformat\""));
  EXPECT_TRUE(Engine.InputFiles.empty());
}

TEST_F(InputFilesTest, LeftoverPrivateOptionRaisesWithStrictOptions) {
  Engine.StrictOptions = true;
  const int closes = TestFormatCloseCount();
  try {
    Open("-f vexatest_plain -capture_offset 10,10", "video=0");
    FAIL() << "expected FFmpegException";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Option capture_offset not found.");
  }
  EXPECT_EQ(Engine.LastErrorText, "Option capture_offset not found.");
  // The half-opened input was closed again and left no records.
  EXPECT_EQ(TestFormatCloseCount(), closes + 1);
  EXPECT_TRUE(Engine.InputFiles.empty());
  EXPECT_TRUE(Engine.InputStreams.empty());
}

TEST_F(InputFilesTest, LeftoverPrivateOptionOnlyRecordedWithoutStrictOptions) {
  Engine.StrictOptions = false;
  EXPECT_EQ(Open("-f vexatest_plain -capture_offset 10,10", "video=0"), 0);
  EXPECT_EQ(Engine.LastErrorText, "Option capture_offset not found.");
  EXPECT_EQ(Engine.InputFiles.size(), 1u);
  // The same option is used by a format that has it.
  Engine.LastErrorText.clear();
  EXPECT_EQ(Open("-f vexatest -capture_offset 10,10", "video=0"), 1);
  EXPECT_EQ(Engine.LastErrorText, "");
  EXPECT_EQ(LastTestFormatOpen().CaptureOffset, "10,10");
}

TEST_F(InputFilesTest, StartTimeIsAddedToTheContainerStartTime) {
  TMediaSpec layout = VideoOnlySpec(160, 120);
  layout.Seconds = 2.0;
  layout.StartOffset = 1.4;
  const std::string path = WriteMediaFile(Dir.Path("late.mkv"), layout);

  ASSERT_EQ(Open("-ss 0.5 -itsoffset 2", path), 0) << Engine.LastErrorText;
  AVFormatContext* ic = Context();
  ASSERT_NE(ic->start_time, AV_NOPTS_VALUE);
  EXPECT_NEAR(ic->start_time, 1400000, 50000);
  const int64_t target = 500000 + ic->start_time;
  EXPECT_EQ(Engine.InputFiles[0]->TsOffset, 2000000 - target);
  EXPECT_EQ(Engine.LongestInputDuration, ic->duration - 500000);

  // The demuxer was positioned near the target: the next packet lies past the
  // container start, on the key frame at or before 1.9 s.
  Context()->streams[0]->discard = AVDISCARD_DEFAULT;
  AVPacket* pkt = av_packet_alloc();
  ASSERT_GE(av_read_frame(ic, pkt), 0);
  const double t = pkt->pts * av_q2d(ic->streams[pkt->stream_index]->time_base);
  av_packet_free(&pkt);
  EXPECT_GT(t, 1.7);
  EXPECT_LE(t, 1.9 + 1e-6);
}

TEST_F(InputFilesTest, CopyTsKeepsOnlyTheInputOffset) {
  TMediaSpec layout = VideoOnlySpec(160, 120);
  layout.StartOffset = 1.4;
  const std::string path = WriteMediaFile(Dir.Path("late.mkv"), layout);
  Engine.CopyTs = 1;
  ASSERT_EQ(Open("-ss 0.2 -itsoffset 3", path), 0) << Engine.LastErrorText;
  EXPECT_EQ(Engine.InputFiles[0]->TsOffset, 3000000);
}

TEST_F(InputFilesTest, DecoderNamedOnTheLineForcesTheCodecId) {
  const std::string path = WriteMediaFile(Dir.Path("va.mkv"), VideoAudioSpec());
  ASSERT_EQ(Open("-c:v h264", path), 0) << Engine.LastErrorText;
  ASSERT_EQ(Engine.InputStreams.size(), 2u);
  const TInputStream& video = *Engine.InputStreams[0];
  ASSERT_NE(video.Decoder, nullptr);
  EXPECT_STREQ(video.Decoder->name, "h264");
  EXPECT_EQ(video.Stream->codecpar->codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(Context()->video_codec_id, AV_CODEC_ID_H264);
  // The audio stream keeps its own decoder.
  ASSERT_NE(Engine.InputStreams[1]->Decoder, nullptr);
  EXPECT_STREQ(Engine.InputStreams[1]->Decoder->name, "pcm_s16le");
}

const char* EncoderOnlyName() {
  for (const char* name : {"libx264", "libmp3lame", "libopenh264", "libvpx-vp9", "a64multi"})
    if (avcodec_find_encoder_by_name(name) && !avcodec_find_decoder_by_name(name) &&
        !avcodec_descriptor_get_by_name(name))
      return name;
  return nullptr;
}

TEST_F(InputFilesTest, CodecNamesThatNameNoDecoderAbort) {
  const std::string path = WriteMediaFile(Dir.Path("v.mkv"), VideoOnlySpec());
  const char* encoderOnly = EncoderOnlyName();
  ASSERT_NE(encoderOnly, nullptr);
  struct TCase {
    std::string Line;
    std::string Message;
  } cases[] = {{std::string("-c:v ") + encoderOnly, std::string("Unknown decoder \"") + encoderOnly + "\""},
               {"-c:v pcm_s16le", "Invalid decoder type \"pcm_s16le\""},
               {"-c:v nosuchcodec", "Unknown decoder \"nosuchcodec\""}};
  for (const TCase& c : cases) {
    try {
      Open(c.Line, path);
      ADD_FAILURE() << c.Line << ": expected FFmpegException";
    } catch (const FFmpegException& e) {
      EXPECT_EQ(std::string(e.what()), c.Message) << c.Line;
      EXPECT_EQ(Engine.LastErrorText, c.Message);
    }
    EXPECT_TRUE(Engine.InputFiles.empty());
    EXPECT_TRUE(Engine.InputStreams.empty());
  }
}

TEST_F(InputFilesTest, MissingFileReportsNameAndErrorText) {
  const std::string path = Dir.Path("missing.mkv");
  const int ret = Open("", path);
  EXPECT_EQ(ret, AVERROR(ENOENT));
  EXPECT_THAT(Engine.LastErrorText, ::testing::StartsWith(path + ": "));
  EXPECT_GT(Engine.LastErrorText.size(), path.size() + 2);
  EXPECT_TRUE(Engine.InputFiles.empty());
}

TEST_F(InputFilesTest, StreamRecordsFollowPerStreamLists) {
  const std::string path = WriteMediaFile(Dir.Path("va.mkv"), VideoAudioSpec(2));
  ASSERT_EQ(Open("-itsscale:a 2.5 -top:v 1 -reinit_filter 0 -r:v 30000/1001 -threads 3", path), 0)
      << Engine.LastErrorText;
  const TInputStream& video = *Engine.InputStreams[0];
  const TInputStream& audio = *Engine.InputStreams[1];
  EXPECT_DOUBLE_EQ(video.TsScale, 1.0);
  EXPECT_DOUBLE_EQ(audio.TsScale, 2.5);
  EXPECT_EQ(video.TopFieldFirst, 1);
  EXPECT_EQ(video.ReinitFilters, 0);
  EXPECT_EQ(audio.ReinitFilters, 0);
  EXPECT_EQ(video.FrameRate.num, 30000);
  EXPECT_EQ(video.FrameRate.den, 1001);
  EXPECT_EQ(video.FilterInRescaleDeltaLast, AV_NOPTS_VALUE);
  EXPECT_STREQ(video.DecoderOptions.Value("threads"), "3");
  EXPECT_EQ(audio.ResampleSampleRate, 44100);
  EXPECT_EQ(audio.ResampleChannels, 2);
  EXPECT_EQ(audio.ResampleSampleFmt, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(video.ResampleWidth, 320);
  EXPECT_EQ(video.ResamplePixFmt, AV_PIX_FMT_YUV420P);
}

TEST_F(InputFilesTest, UnparsableInputFrameRateAborts) {
  const std::string path = WriteMediaFile(Dir.Path("v.mkv"), VideoOnlySpec());
  try {
    Open("-r abc", path);
    FAIL() << "expected FFmpegException";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Error parsing framerate abc.");
  }
  EXPECT_TRUE(Engine.InputStreams.empty());
}

TEST_F(InputFilesTest, ChannelLayoutIsGuessedUpToGuessLayoutMax) {
  TMediaSpec layout;
  layout.Audios.push_back(TAudioSpec{8000, 2});
  const std::string path = WriteMediaFile(Dir.Path("a.wav"), layout);

  ASSERT_EQ(Open("", path), 0) << Engine.LastErrorText;
  const TInputStream& guessed = *Engine.InputStreams[0];
  if (guessed.Stream->codecpar->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
    GTEST_SKIP() << "the wav demuxer already reports a layout";
  EXPECT_EQ(guessed.ResampleChannelLayout, static_cast<int64_t>(AV_CH_LAYOUT_STEREO));
  EXPECT_TRUE(Recorder.Contains(llWarning, "Guessed Channel Layout for  Input Stream #0.0 : stereo"));

  Recorder.Clear();
  ASSERT_EQ(Open("-guess_layout_max 1", path), 1) << Engine.LastErrorText;
  const TInputStream& kept = *Engine.InputStreams[1];
  EXPECT_EQ(kept.GuessLayoutMax, 1);
  EXPECT_EQ(kept.ResampleChannelLayout, 0);
  EXPECT_EQ(kept.ResampleChannels, 2);
  EXPECT_FALSE(Recorder.ContainsText("Guessed Channel Layout"));
}

TEST_F(InputFilesTest, SecondInputFollowsTheFirstInTheLists) {
  const std::string a = WriteMediaFile(Dir.Path("a.mkv"), VideoAudioSpec());
  const std::string b = WriteMediaFile(Dir.Path("b.mkv"), VideoOnlySpec());
  ASSERT_EQ(Open("", a), 0);
  ASSERT_EQ(Open("", b), 1);
  ASSERT_EQ(Engine.InputStreams.size(), 3u);
  EXPECT_EQ(Engine.InputFiles[1]->FirstStreamIndex, 2);
  EXPECT_EQ(Engine.InputFiles[1]->StreamCount, 1);
  EXPECT_EQ(Engine.InputStreams[2]->FileIndex, 1);
}

TEST_F(InputFilesTest, BeforeFindStreamInfoSeesTheOpenedContext) {
  const std::string path = WriteMediaFile(Dir.Path("v.mkv"), VideoOnlySpec());
  int calls = 0;
  Engine.OnBeforeFindStreamInfo = [&](TCustomFFmpegOpt* sender, AVFormatContext* ic) {
    ++calls;
    EXPECT_EQ(sender, &Engine);
    ASSERT_NE(ic, nullptr);
    EXPECT_STREQ(ic->url, path.c_str());
    EXPECT_TRUE(Engine.InputFiles.empty());  // before the record exists
  };
  ASSERT_EQ(Open("", path), 0);
  EXPECT_EQ(calls, 1);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(InputFilesTest, AttachmentsAreDumpedOnRequest) {
  TMediaSpec layout = VideoOnlySpec();
  layout.AttachmentName = "font.ttf";
  layout.AttachmentData = "0123456789-font";
  const std::string path = WriteMediaFile(Dir.Path("att.mkv"), layout);
  const std::string out = Dir.Path("dumped.bin");

  ASSERT_EQ(Open("-dump_attachment:t " + out, path), 0) << Engine.LastErrorText;
  EXPECT_EQ(ReadAll(out), "0123456789-font");

  // An existing file is left alone without -y.
  std::ofstream(out, std::ios::binary) << "old";
  ASSERT_EQ(Open("-dump_attachment:t " + out, path), 1);
  EXPECT_EQ(ReadAll(out), "old");
  EXPECT_EQ(Engine.LastErrorText, "File \"" + out + "\" already exists. Ignore.");

  // With -y it is overwritten.
  ASSERT_EQ(Open("-y -dump_attachment:t " + out, path), 2);
  EXPECT_EQ(ReadAll(out), "0123456789-font");
}

TEST_F(InputFilesTest, AttachmentDumpWithoutExtradataOnlyWarns) {
  const std::string path = WriteMediaFile(Dir.Path("va.mkv"), VideoAudioSpec());
  ASSERT_EQ(Engine.InputStreams.size(), 0u);
  const std::string out = Dir.Path("nothing.bin");
  // PCM audio carries no extradata: the dump is only reported.
  ASSERT_EQ(Open("-dump_attachment:a " + out, path), 0) << Engine.LastErrorText;
  ASSERT_EQ(Engine.InputStreams[1]->Stream->codecpar->extradata_size, 0);
  EXPECT_TRUE(Recorder.Contains(llWarning, "No extradata to dump in stream #0:1."));
  EXPECT_FALSE(FileExists(out));
}

TEST_F(InputFilesTest, AttachmentDumpWithoutANameAborts) {
  TMediaSpec layout = VideoOnlySpec();
  layout.AttachmentName = "font.ttf";
  const std::string path = WriteMediaFile(Dir.Path("att.mkv"), layout);
  // The video stream has extradata but no "filename" tag.
  try {
    Open("-dump_attachment:v \"\"", path);
    FAIL() << "expected FFmpegException";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "No filename specified and no \"filename\" tag in stream #0:0.");
  }
  // The half-made input was closed again.
  EXPECT_TRUE(Engine.InputFiles.empty());
  EXPECT_TRUE(Engine.InputStreams.empty());
}

}  // namespace
}  // namespace vexa::test
