// Sound capture from the test sink's monitor: format, buffers, timestamps,
// pause, and its timing against the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavutil/time.h>
}

#include "CaptureTestSupport.h"
#include "GDICapture/WaveInput.h"

namespace vexa {
namespace {

using test::OfStream;
using test::TCaptureInput;
using test::TLogCapture;
using test::TTonePlayer;

class SoundCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveSound()) GTEST_SKIP() << "no PULSE_SERVER (run under scripts/test-env.sh)";
    // A stream playing into the sink keeps its latency low, so that its
    // monitor delivers steadily (with none, a null sink renders in bursts of
    // up to seconds).
    ASSERT_TRUE(test::SharedPlayer().Ok());
  }
  TLogCapture Log;
};

// The source number of the test sink's monitor.
int MonitorNumber() {
  std::vector<std::string> names;
  if (!ListSources(names)) return -100;
  const char* sink = std::getenv("VEXA_TEST_SINK");
  const std::string monitor = std::string(sink ? sink : "vexa_null") + ".monitor";
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == monitor) return static_cast<int>(i);
  return -100;
}

class ToneTest : public SoundCaptureTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ToneTest, CapturedAtItsFrequency) {
  const int number = GetParam() ? MonitorNumber() : -1;
  ASSERT_NE(number, -100) << "the test sink's monitor is not listed";
  TTonePlayer& player = test::SharedPlayer();
  ASSERT_TRUE(player.Ok());
  player.Tone(1000);
  struct Quiet {
    TTonePlayer& P;
    ~Quiet() { P.Silence(); }
  } quiet{player};
  TCaptureInput input;
  ASSERT_EQ(input.Open("audio=" + std::to_string(number), {{"wavebufsize", "8820"}}), 0);
  EXPECT_TRUE(Log.Has("waveIn device opened."));
  EXPECT_TRUE(Log.Has("ready for wave recording..."));
  const auto packets = input.ReadFor(1200);
  const auto audio = OfStream(packets, 0);
  ASSERT_GE(audio.size(), 10u);
  std::vector<int16_t> left = test::LeftChannel(audio);
  left.erase(left.begin(), left.begin() + std::min<size_t>(left.size(), 8820));  // settle
  EXPECT_NEAR(test::MeasureFrequency(left, 44100), 1000.0, 10.0);
  const int16_t peak = *std::max_element(left.begin(), left.end());
  EXPECT_GT(peak, 10000);
}

INSTANTIATE_TEST_SUITE_P(Sources, ToneTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return std::string(i.param ? "MonitorByNumber" : "DefaultSource");
                         });

struct BufferCase {
  const char* Name;
  const char* WaveBufSize;
  const char* SampleFormat;
  const char* Channels;
  int PacketSize;
  int BlockAlign;
  AVCodecID Codec;
};

class BufferTest : public SoundCaptureTest, public ::testing::WithParamInterface<BufferCase> {};

TEST_P(BufferTest, PacketsHoldOneBufferEach) {
  const BufferCase& b = GetParam();
  TCaptureInput input;
  ASSERT_EQ(input.Open("audio=",
                       {{"wavebufsize", b.WaveBufSize}, {"sample_fmt", b.SampleFormat}, {"channels", b.Channels}}),
            0);
  const AVCodecParameters* par = input.Format()->streams[0]->codecpar;
  EXPECT_EQ(par->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(par->codec_id, b.Codec);
  EXPECT_EQ(par->block_align, b.BlockAlign);
  EXPECT_EQ(par->sample_rate, 44100);
  EXPECT_EQ(par->ch_layout.nb_channels, std::atoi(b.Channels));
  EXPECT_EQ(par->bit_rate, 44100LL * b.BlockAlign * 8);
  EXPECT_EQ(input.Format()->streams[0]->id, 1);
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>& p) { return p.size() >= 3; }, 3000);
  ASSERT_EQ(packets.size(), 3u);
  for (const TPacketPtr& p : packets) EXPECT_EQ(p->size, b.PacketSize);
  // Audio only: the first buffer after the first read starts the clock.
  EXPECT_EQ(packets[0]->pts, 0);
  const double duration = 1e6 * b.PacketSize / (44100.0 * b.BlockAlign);
  EXPECT_NEAR(static_cast<double>(packets[2]->pts - packets[0]->pts), 2 * duration, 25000.0 + duration * 0.1);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, BufferTest,
    ::testing::Values(BufferCase{"Default", "65536", "s16", "2", 65536, 4, AV_CODEC_ID_PCM_S16LE},
                      BufferCase{"RoundedToBlocks", "1001", "s16", "2", 1000, 4, AV_CODEC_ID_PCM_S16LE},
                      BufferCase{"UnsignedMono", "777", "u8", "1", 777, 1, AV_CODEC_ID_PCM_U8},
                      BufferCase{"BelowOneMeansDefault", "0", "s16", "2", 65536, 4, AV_CODEC_ID_PCM_S16LE}),
    [](const ::testing::TestParamInfo<BufferCase>& i) { return std::string(i.param.Name); });

TEST_F(SoundCaptureTest, UnsignedSamplesAreCenteredOnSilence) {
  test::SharedPlayer().Silence();
  TCaptureInput input;
  ASSERT_EQ(input.Open("audio=-1", {{"wavebufsize", "4410"}, {"sample_fmt", "u8"}, {"channels", "1"}}), 0);
  const auto packets = input.ReadUntil([](const std::vector<TPacketPtr>& p) { return p.size() >= 4; }, 3000);
  ASSERT_EQ(packets.size(), 4u);
  const AVPacket* last = packets.back().get();
  for (int i = 0; i < last->size; i += 97) EXPECT_NEAR(last->data[i], 0x80, 2) << i;
}

TEST_F(SoundCaptureTest, WithVideoSoundStartsAtTheFirstFrame) {
  if (!test::HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0:audio=-1", {{"video_size", "32x32"}, {"capture_flags", "0"}, {"wavebufsize", "17640"}}),
            0);
  ASSERT_EQ(input.Format()->nb_streams, 2u);
  EXPECT_EQ(input.Format()->streams[0]->codecpar->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(input.Format()->streams[1]->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
  const auto packets = input.ReadFor(1200);
  const auto video = OfStream(packets, 0), audio = OfStream(packets, 1);
  ASSERT_FALSE(video.empty());
  ASSERT_GE(audio.size(), 3u);
  EXPECT_EQ(video.front()->pts, 0);
  int64_t previous = -1;
  for (const AVPacket* a : audio) {
    EXPECT_GE(a->pts, 0);
    EXPECT_GT(a->pts, previous);
    previous = a->pts;
  }
  // The first buffer is cut to the samples recorded from the first frame on.
  EXPECT_LT(audio.front()->pts, 150000);
  EXPECT_LE(audio.front()->size, 17640);
  EXPECT_EQ(audio.front()->size % 4, 0);
}

TEST_F(SoundCaptureTest, PausedSoundIsDiscarded) {
  std::atomic<int32_t> paused{1};
  TCaptureInput input;
  ASSERT_EQ(input.Open("audio=-1", {{"wavebufsize", "8820"},
                                    {"pause_pointer", std::to_string(reinterpret_cast<intptr_t>(&paused))}}),
            0);
  const auto during = input.ReadFor(700);
  EXPECT_TRUE(during.empty());
  paused.store(0);
  auto packets = input.ReadFor(500);
  ASSERT_GE(packets.size(), 5u);
  EXPECT_EQ(packets.front()->pts, 0);  // the clock starts with the first kept buffer
  paused.store(1);
  input.ReadFor(1000);
  paused.store(0);
  auto after = input.ReadUntil([](const std::vector<TPacketPtr>& p) { return !p.empty(); }, 2000);
  ASSERT_EQ(after.size(), 1u);
  // One second of paused sound left a gap in the timestamps.
  EXPECT_GT(after[0]->pts - packets.back()->pts, 900000);
}

struct SyncCase {
  const char* Name;
  const char* WaveBufSize;
};

class SyncTest : public SoundCaptureTest, public ::testing::WithParamInterface<SyncCase> {};

// A flash on screen and a beep heard at the same moment carry timestamps
// within one video frame of each other.
TEST_P(SyncTest, FlashAndBeepLandTogether) {
  if (!test::HaveDisplay()) GTEST_SKIP() << "no DISPLAY";
  test::TTestWindow window(600, 400, 64, 64, 0x000000);
  TTonePlayer& player = test::SharedPlayer();
  ASSERT_TRUE(player.Ok());
  player.Silence();
  TCaptureInput input;
  ASSERT_EQ(input.Open("video=0:audio=-1", {{"capture_offset", "600,400"},
                                            {"video_size", "64x64"},
                                            {"framerate", "30000/1001"},
                                            {"capture_flags", "0"},
                                            {"wavebufsize", GetParam().WaveBufSize}}),
            0);
  std::vector<TPacketPtr> packets;
  std::thread reader([&] { packets = input.ReadFor(3500); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const int64_t heard = player.Beep(1000, 300);
  const int64_t wait = heard - av_gettime();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
  window.Fill(0xffffff);
  reader.join();

  int64_t flashPts = -1;
  for (const AVPacket* v : OfStream(packets, 0))
    if (test::PixelAt(v, 64, 32, 32) == 0xffffff) {
      flashPts = v->pts;
      break;
    }
  int64_t beepPts = -1;
  for (const AVPacket* a : OfStream(packets, 1)) {
    const int16_t* s = reinterpret_cast<const int16_t*>(a->data);
    for (int i = 0; i < a->size / 4 && beepPts < 0; ++i)
      if (std::abs(s[2 * i]) > 3000) beepPts = a->pts + static_cast<int64_t>(i) * 1000000 / 44100;
    if (beepPts >= 0) break;
  }
  ASSERT_GE(flashPts, 0) << "flash not captured";
  ASSERT_GE(beepPts, 0) << "beep not captured";
  // The flash shows in the first frame grabbed after it: up to one frame
  // period later, plus the grabber's scheduling jitter.
  const double frame = 1001000.0 / 30;
  EXPECT_NEAR(static_cast<double>(flashPts - beepPts), 0.0, frame + 10000)
      << "flash at " << flashPts << " us, beep at " << beepPts << " us";
}

INSTANTIATE_TEST_SUITE_P(Buffers, SyncTest,
                         ::testing::Values(SyncCase{"DefaultBuffer", "65536"}, SyncCase{"SmallBuffer", "4410"}),
                         [](const ::testing::TestParamInfo<SyncCase>& i) { return std::string(i.param.Name); });

}  // namespace
}  // namespace vexa
