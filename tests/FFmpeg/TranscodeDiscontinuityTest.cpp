// A timestamp jump in an MPEG-TS input (a format with discontinuous
// timestamps) is taken out of the output's timeline; with -copyts it stays.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "Support/MediaOpen.h"
#include "TranscodeTestSupport.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vexa::test {
namespace {

constexpr int kFps = 25;
constexpr double kSeconds = 1.0;
constexpr int64_t kJumpSeconds = 100;

TInputPtr OpenSource(const std::string& path) {
  TInputPtr in = OpenMediaInput(path);
  if (!in) throw std::runtime_error("open and probe " + path);
  return in;
}

// Writes the packets of `source` twice into an MPEG-TS file; the second copy
// is shifted by kJumpSeconds.
void WriteWithJump(const std::string& source, const std::string& target) {
  TInputPtr in = OpenSource(source);
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, "mpegts", target.c_str()) < 0) throw std::runtime_error("mux");
  TOutputPtr out(raw);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream* st = avformat_new_stream(out.get(), nullptr);
    if (!st || avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar) < 0) throw std::runtime_error("st");
    st->codecpar->codec_tag = 0;
    st->time_base = in->streams[i]->time_base;
  }
  if (avio_open(&out->pb, target.c_str(), AVIO_FLAG_WRITE) < 0) throw std::runtime_error("write " + target);
  if (avformat_write_header(out.get(), nullptr) < 0) throw std::runtime_error("header");
  TPacketPtr pkt(av_packet_alloc());
  for (int copy = 0; copy < 2; ++copy) {
    if (copy > 0) in = OpenSource(source);
    while (av_read_frame(in.get(), pkt.get()) >= 0) {
      const AVRational inTb = in->streams[pkt->stream_index]->time_base;
      const AVRational outTb = out->streams[pkt->stream_index]->time_base;
      av_packet_rescale_ts(pkt.get(), inTb, outTb);
      const int64_t shift = av_rescale_q(copy * kJumpSeconds, AVRational{1, 1}, outTb);
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += shift;
      pkt->pos = -1;
      if (av_interleaved_write_frame(out.get(), pkt.get()) < 0) throw std::runtime_error("write packet");
    }
  }
  if (av_write_trailer(out.get()) < 0) throw std::runtime_error("trailer");
}

class TranscodeDiscontinuityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string plain = Dir.Path("plain.ts");
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, kFps, kSeconds), "-f lavfi"));
    ASSERT_GE(task.AddOutput(plain, "-f mpegts -c:v mpeg2video -qscale 4 -g 5"), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    Jumped = Dir.Path("jumped.ts");
    ASSERT_EQ(DecodeFile(plain).First(AVMEDIA_TYPE_VIDEO)->Frames, kFps * kSeconds);
    WriteWithJump(plain, Jumped);
    const TDecodedStream source = *DecodeFile(Jumped).First(AVMEDIA_TYPE_VIDEO);
    ASSERT_EQ(source.Frames, 2 * kFps * kSeconds);
    ASSERT_GT(source.LastPts - source.FirstPts, static_cast<double>(kJumpSeconds));
  }

  TDecodedStream Transcode(const std::string& extra) {
    const std::string out = Dir.Path("out" + std::to_string(++Count) + ".mkv");
    TTestTask task;
    if (!task.AddInput(Jumped, "")) return {};
    EXPECT_GE(task.AddOutput(out, "-c:v mpeg4 -qscale 4 " + extra), 0) << task.LastErrorText;
    task.RunInline();
    EXPECT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << Log.Text();
    return *DecodeFile(out).First(AVMEDIA_TYPE_VIDEO);
  }

  TTempDir Dir;
  TTranscodeLog Log;
  std::string Jumped;
  int Count = 0;
};

TEST_F(TranscodeDiscontinuityTest, JumpIsRemovedFromTheTimeline) {
  const TDecodedStream v = Transcode("");
  EXPECT_EQ(v.Frames, 2 * kFps * kSeconds);
  // Both copies follow each other: no gap of kJumpSeconds.
  EXPECT_LT(v.LastPts, 2 * kSeconds + 0.5) << v.LastPts;
  EXPECT_TRUE(Log.Contains("timestamp discontinuity ")) << Log.Text();
  for (size_t i = 1; i < v.FramePts.size(); ++i) EXPECT_LT(v.FramePts[i] - v.FramePts[i - 1], 0.5) << "frame " << i;
}

TEST_F(TranscodeDiscontinuityTest, CopyTsKeepsTheJump) {
  const TDecodedStream v = Transcode("-copyts");
  EXPECT_EQ(v.Frames, 2 * kFps * kSeconds);
  EXPECT_GT(v.LastPts, static_cast<double>(kJumpSeconds)) << v.LastPts;
  EXPECT_FALSE(Log.Contains("timestamp discontinuity ")) << Log.Text();
}

}  // namespace
}  // namespace vexa::test
