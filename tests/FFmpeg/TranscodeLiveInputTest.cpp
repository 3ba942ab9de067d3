// A live input that often has nothing ready (EAGAIN): its output waits, the
// loop sleeps instead of spinning, and every frame still arrives.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "Base/ProgramFormats.h"
#include "Support/TestProgramFormat.h"
#include "TranscodeTestSupport.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace vexa::test {
namespace {

constexpr int kFrames = 10;

struct TLiveContext {
  const AVClass* Class;
  int Calls;
  int Sent;
};

const AVClass kLiveClass = TestOptionClass("LiveTestFormat", nullptr);

int gAgainAnswers = 0;

// One 16x16 GRAY8 raw video stream at `rate` frames per second.
int AddGrayVideo(AVFormatContext* s, AVRational timeBase, AVRational rate) {
  AVStream* st = avformat_new_stream(s, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  st->codecpar->format = AV_PIX_FMT_GRAY8;
  st->codecpar->width = 16;
  st->codecpar->height = 16;
  st->time_base = timeBase;
  st->avg_frame_rate = rate;
  st->r_frame_rate = rate;
  return 0;
}

int LiveReadHeader(AVFormatContext* s) { return AddGrayVideo(s, AVRational{1, 25}, AVRational{25, 1}); }

int LiveReadPacket(AVFormatContext* s, AVPacket* pkt) {
  auto* ctx = static_cast<TLiveContext*>(s->priv_data);
  if (++ctx->Calls % 3 != 0) {
    ++gAgainAnswers;
    return AVERROR(EAGAIN);
  }
  if (ctx->Sent == kFrames) return AVERROR_EOF;
  const int ret = av_new_packet(pkt, 16 * 16);
  if (ret < 0) return ret;
  memset(pkt->data, 16 * ctx->Sent, pkt->size);
  pkt->pts = pkt->dts = ctx->Sent++;
  pkt->duration = 1;
  pkt->flags |= AV_PKT_FLAG_KEY;
  pkt->stream_index = 0;
  return 0;
}

int LiveReadClose(AVFormatContext*) { return 0; }

const TProgramInputFormat kLiveFormat = [] {
  TProgramInputFormat f;
  f.Name = "vexalive";
  f.LongName = "live test input";
  f.Flags = AVFMT_NOFILE;
  f.PrivClass = &kLiveClass;
  f.PrivDataSize = sizeof(TLiveContext);
  f.ReadHeader = LiveReadHeader;
  f.ReadPacket = LiveReadPacket;
  f.ReadClose = LiveReadClose;
  return f;
}();

TEST(TranscodeLiveInputTest, WaitsForAnInputThatAnswersAgain) {
  RegisterProgramInputFormat(&kLiveFormat);
  gAgainAnswers = 0;
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  const auto start = std::chrono::steady_clock::now();
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput("live", "-f vexalive"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4"), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    EXPECT_TRUE(task.Finished);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(DecodeFile(out).First(AVMEDIA_TYPE_VIDEO)->Frames, kFrames);
  // Two answers of EAGAIN before each packet and before the end.
  EXPECT_EQ(gAgainAnswers, 2 * (kFrames + 1));
  // Each answer parks the output; with every output parked the loop sleeps
  // 10 ms before asking again.
  EXPECT_GE(seconds, gAgainAnswers / 2 * 0.010);
}

}  // namespace
}  // namespace vexa::test

namespace vexa::test {
namespace {

// A program input format shaped like the capture device (BGRA video, s16
// sound) through the recorder's mp4 output line.
TEST(TranscodeLiveInputTest, CaptureShapedInputThroughTheMp4Profile) {
  RegisterTestProgramFormats();
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("rec.mp4");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput("video=0:audio=-1", " -f vexatest -s 320x240 -r 25 -ar 44100 -ac 2 -sample_fmt s16 "));
    ASSERT_GE(task.AddOutput(out, " -c:v mpeg4 -c:a aac -s 320x240 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k "
                                  "-qscale 6   -async 1 -vsync 1 "),
              0)
        << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
    EXPECT_TRUE(task.Finished);
  }
  const TDecodedFile f = DecodeFile(out);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  const TDecodedStream* a = f.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_NE(v, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(v->Codec, "mpeg4");
  EXPECT_EQ(v->Frames, FramesPerInput);
  EXPECT_EQ(a->Codec, "aac");
  EXPECT_EQ(a->DecodeErrors, 0);
  EXPECT_GT(a->Samples, 0);
}

}  // namespace
}  // namespace vexa::test

namespace vexa::test {
namespace {

// A live input whose packets carry capture times in microseconds, with a gap
// where the device lost five frames: frames every 100 ms, none between 0.4 s
// and 1.0 s. Packet i shows the grey level 20 * i.
constexpr int64_t kCaptureTimes[] = {0, 100000, 200000, 300000, 400000, 1000000, 1100000, 1200000, 1300000, 1400000};
constexpr int kTimedPackets = static_cast<int>(sizeof(kCaptureTimes) / sizeof(kCaptureTimes[0]));

int TimedReadHeader(AVFormatContext* s) {
  const int ret = AddGrayVideo(s, AVRational{1, 1000000}, AVRational{10, 1});
  if (ret >= 0) s->streams[0]->start_time = 0;  // the first capture time
  return ret;
}

int TimedReadPacket(AVFormatContext* s, AVPacket* pkt) {
  auto* ctx = static_cast<TLiveContext*>(s->priv_data);
  if (ctx->Sent == kTimedPackets) return AVERROR_EOF;
  const int ret = av_new_packet(pkt, 16 * 16);
  if (ret < 0) return ret;
  memset(pkt->data, 20 * ctx->Sent, pkt->size);
  pkt->pts = kCaptureTimes[ctx->Sent++];
  pkt->stream_index = 0;
  return 0;
}

TProgramInputFormat TimedFormat(const char* name, bool captureTimestamps) {
  TProgramInputFormat f = kLiveFormat;
  f.Name = name;
  f.CaptureTimestamps = captureTimestamps;
  f.ReadHeader = TimedReadHeader;
  f.ReadPacket = TimedReadPacket;
  return f;
}

const TProgramInputFormat kCaptureTimedFormat = TimedFormat("vexacapturetimed", true);
const TProgramInputFormat kNumberedFormat = TimedFormat("vexanumbered", false);

struct ForcedRateCase {
  const char* Name;
  const char* Format;
  std::vector<int> Levels;  // grey level of each output frame, 10 fps
};

class ForcedInputRateTest : public ::testing::TestWithParam<ForcedRateCase> {};

// With "-r 10" on the input line and a constant-rate output: a device with
// capture times keeps its gap, which the output fills by repeating the last
// frame, so every picture stays at the time it was captured; any other input
// is renumbered frame by frame.
TEST_P(ForcedInputRateTest, LostFramesAndTheOutputClock) {
  RegisterProgramInputFormat(&kCaptureTimedFormat);
  RegisterProgramInputFormat(&kNumberedFormat);
  const ForcedRateCase& c = GetParam();
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput("live", std::string("-f ") + c.Format + " -r 10"));
    ASSERT_GE(task.AddOutput(out, "-c:v ffv1 -pix_fmt gray -vsync 1"), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
  }
  const TDecodedFile f = DecodeFile(out);
  const TDecodedStream* v = f.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(v->FramePts.size(), c.Levels.size());
  for (size_t i = 0; i < c.Levels.size(); ++i) {
    EXPECT_NEAR(v->FramePts[i], 0.1 * static_cast<double>(i), 0.002) << "frame " << i;
    EXPECT_EQ(PixelAt(out, static_cast<int>(i), 8, 8).R, c.Levels[i]) << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ForcedInputRateTest,
    ::testing::Values(ForcedRateCase{"CaptureTimes", "vexacapturetimed",
                                     {0, 20, 40, 60, 80, 80, 80, 80, 80, 80, 100, 120, 140, 160, 180}},
                      ForcedRateCase{"Renumbered", "vexanumbered", {0, 20, 40, 60, 80, 100, 120, 140, 160, 180}}),
    [](const ::testing::TestParamInfo<ForcedRateCase>& i) { return std::string(i.param.Name); });

}  // namespace
}  // namespace vexa::test
