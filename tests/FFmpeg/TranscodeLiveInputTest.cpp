// A live input that often has nothing ready (EAGAIN): its output waits, the
// loop sleeps instead of spinning, and every frame still arrives.
#include <gtest/gtest.h>

#include <chrono>

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

const AVClass kLiveClass = [] {
  AVClass c{};
  c.class_name = "LiveTestFormat";
  c.item_name = av_default_item_name;
  c.version = LIBAVUTIL_VERSION_INT;
  return c;
}();

int gAgainAnswers = 0;

int LiveReadHeader(AVFormatContext* s) {
  AVStream* st = avformat_new_stream(s, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  st->codecpar->format = AV_PIX_FMT_GRAY8;
  st->codecpar->width = 16;
  st->codecpar->height = 16;
  st->time_base = AVRational{1, 25};
  st->avg_frame_rate = AVRational{25, 1};
  st->r_frame_rate = AVRational{25, 1};
  return 0;
}

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
