// Screen recordings with sound through the encoder component, with the
// recorder's own input and mp4 output lines, decoded again from the file: the
// picture, its place, size and frame count, the timestamps, the tone, and a
// flash and a beep that must land together in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include "Base/MainThread.h"
#include "EncoderTestSupport.h"
#include "FFEncode/FFEncode.h"
#include "GDICapture/CaptureFormat.h"
#include "GDICapture/CaptureTestSupport.h"
#include "Support/MediaFixtures.h"
#include "Support/MediaOpen.h"

namespace vexa::test {
namespace {

// The captured rectangle and what the test client shows in it (frame
// coordinates): a light grey background larger than the rectangle, the
// counter window and the flash square.
constexpr int kLeft = 100, kTop = 80, kWidth = 320, kHeight = 240;
constexpr int kCounterX = 40, kCounterY = 30;
constexpr int kFlashX = 200, kFlashY = 150, kFlashSize = 64;
constexpr uint32_t kBackground = 0xc0c0c0;
constexpr int kCounterStepMs = 20;  // the counter shows the client's clock in these steps

// --- the decoded file ---------------------------------------------------------

struct TVideoFrame {
  double Time = 0;  // seconds
  int Width = 0, Height = 0;
  std::vector<uint8_t> Y, U, V;  // planes of yuv420p, tightly packed

  int Luma(int x, int y) const { return Y[static_cast<size_t>(y) * Width + x]; }
  int ChromaU(int x, int y) const { return U[static_cast<size_t>(y / 2) * (Width / 2) + x / 2]; }
  int ChromaV(int x, int y) const { return V[static_cast<size_t>(y / 2) * (Width / 2) + x / 2]; }
  // Mean luma of the (2r+1)^2 square around (x, y).
  int MeanLuma(int x, int y, int r = 3) const {
    int sum = 0, n = 0;
    for (int j = y - r; j <= y + r; ++j)
      for (int i = x - r; i <= x + r; ++i, ++n) sum += Luma(i, j);
    return sum / n;
  }
};

struct TRecording {
  bool Opened = false;
  bool ReachedEnd = false;
  int DecodeErrors = 0;
  std::string VideoCodec, AudioCodec;
  int Width = 0, Height = 0;
  double FrameRate = 0;
  int SampleRate = 0, Channels = 0;
  std::vector<TVideoFrame> Frames;
  std::vector<double> AudioFrameTimes;  // start of each decoded audio frame, seconds
  double AudioStart = 0;                // time of Samples[0]
  std::vector<float> Samples;           // first channel, frames laid end to end
};

TRecording DecodeRecording(const std::string& path) {
  TRecording r;
  TInputPtr in = OpenMediaInput(path);
  if (!in) return r;
  const int vi = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int ai = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (vi < 0 || ai < 0) return r;
  const AVStream* vs = in->streams[vi];
  const AVStream* as = in->streams[ai];
  r.Opened = true;
  r.VideoCodec = avcodec_get_name(vs->codecpar->codec_id);
  r.AudioCodec = avcodec_get_name(as->codecpar->codec_id);
  r.Width = vs->codecpar->width;
  r.Height = vs->codecpar->height;
  r.FrameRate = av_q2d(vs->avg_frame_rate);
  r.SampleRate = as->codecpar->sample_rate;
  r.Channels = as->codecpar->ch_layout.nb_channels;
  TCodecPtr video = OpenDecoder(vs), audio = OpenDecoder(as);
  if (!video || !audio) {
    r.Opened = false;
    return r;
  }
  TPacketPtr pkt(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());

  auto receive = [&](AVCodecContext* ctx, const AVStream* st) {
    while (avcodec_receive_frame(ctx, frame.get()) >= 0) {
      const double t = frame->best_effort_timestamp == AV_NOPTS_VALUE
                           ? -1.0
                           : static_cast<double>(frame->best_effort_timestamp) * av_q2d(st->time_base);
      if (ctx->codec_type == AVMEDIA_TYPE_VIDEO && frame->format == AV_PIX_FMT_YUV420P) {
        TVideoFrame f;
        f.Time = t;
        f.Width = frame->width;
        f.Height = frame->height;
        auto copy = [&](int plane, int w, int h, std::vector<uint8_t>& out) {
          out.resize(static_cast<size_t>(w) * h);
          for (int y = 0; y < h; ++y)
            std::copy_n(frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane], w,
                        out.begin() + static_cast<ptrdiff_t>(y) * w);
        };
        copy(0, f.Width, f.Height, f.Y);
        copy(1, f.Width / 2, f.Height / 2, f.U);
        copy(2, f.Width / 2, f.Height / 2, f.V);
        r.Frames.push_back(std::move(f));
      } else if (ctx->codec_type == AVMEDIA_TYPE_AUDIO && frame->format == AV_SAMPLE_FMT_FLTP) {
        if (r.AudioFrameTimes.empty()) r.AudioStart = t;
        r.AudioFrameTimes.push_back(t);
        const float* s = reinterpret_cast<const float*>(frame->extended_data[0]);
        r.Samples.insert(r.Samples.end(), s, s + frame->nb_samples);
      } else {
        ++r.DecodeErrors;  // an unexpected format
      }
      av_frame_unref(frame.get());
    }
  };
  int ret;
  while ((ret = av_read_frame(in.get(), pkt.get())) >= 0) {
    AVCodecContext* ctx = pkt->stream_index == vi ? video.get() : pkt->stream_index == ai ? audio.get() : nullptr;
    if (ctx) {
      if (avcodec_send_packet(ctx, pkt.get()) < 0) ++r.DecodeErrors;
      receive(ctx, in->streams[pkt->stream_index]);
    }
    av_packet_unref(pkt.get());
  }
  r.ReachedEnd = ret == AVERROR_EOF;
  avcodec_send_packet(video.get(), nullptr);
  receive(video.get(), vs);
  avcodec_send_packet(audio.get(), nullptr);
  receive(audio.get(), as);
  return r;
}

// Limited-range luma of an RGB colour.
int LumaOf(uint32_t rgb) {
  const double r = (rgb >> 16) & 0xff, g = (rgb >> 8) & 0xff, b = rgb & 0xff;
  return static_cast<int>(std::lround(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255));
}

// The counter blocks of TTestWindow::DrawCounter with the window's corner at
// (ox, oy): white blocks are set bits, grey ones clear; -1 when a block is
// neither.
int ReadCounter(const TVideoFrame& f, int ox, int oy) {
  const int white = LumaOf(TTestWindow::kWhite), grey = LumaOf(TTestWindow::kGrey);
  int value = 0;
  for (int i = 0; i < 8; ++i) {
    const int y = f.MeanLuma(ox + 16 + 20 * i, oy + 16);
    if (std::abs(y - white) < 30)
      value |= 1 << i;
    else if (std::abs(y - grey) >= 30)
      return -1;
  }
  return value;
}

// First column (row) at which the luma leaves the background, scanning a row
// (column) from `from` towards `to`.
int EdgeAlongRow(const TVideoFrame& f, int y, int from, int to) {
  const int threshold = LumaOf(kBackground) - 35;
  for (int x = from; x <= to; ++x)
    if (f.Luma(x, y) < threshold) return x;
  return -1;
}
int EdgeAlongColumn(const TVideoFrame& f, int x, int from, int to) {
  const int threshold = LumaOf(kBackground) - 35;
  for (int y = from; y <= to; ++y)
    if (f.Luma(x, y) < threshold) return y;
  return -1;
}

// --- the test client ------------------------------------------------------------

// What the recording shows: a background larger than the captured rectangle
// (so the region frame's ring, just outside it, lies on known pixels), a
// counter of the client's clock, and a square that flashes white.
class TScene {
 public:
  TScene()
      : Background_(kLeft - 40, kTop - 40, kWidth + 80, kHeight + 80, kBackground),
        Counter_(kLeft + kCounterX, kTop + kCounterY, 180, 40, 0x000080),
        Flash_(kLeft + kFlashX, kTop + kFlashY, kFlashSize, kFlashSize, 0x000000) {
    Counter_.DrawCounter(0);
    Start_ = av_gettime();
    Thread_ = std::thread([this] {
      int shown = -1;
      while (!Quit_.load()) {
        const int value = static_cast<int>((av_gettime() - Start_) / (kCounterStepMs * 1000));
        if (value != shown) {
          Counter_.DrawCounter(value & 0xff);
          shown = value;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  ~TScene() {
    Quit_.store(true);
    Thread_.join();
  }
  void Flash() { Flash_.Fill(0xffffff); }
  int64_t Start() const { return Start_; }

 private:
  TTestWindow Background_;
  TTestWindow Counter_;
  TTestWindow Flash_;
  int64_t Start_ = 0;
  std::atomic<bool> Quit_{false};
  std::thread Thread_;
};

// Sum of N over the grabber's "We lost N frames" lines.
int LostFrames(const TLogCapture& log) {
  int lost = 0;
  const std::regex re("^We lost (\\d+) frames\\.");
  for (const std::string& line : log.LinesWith("We lost")) {
    std::smatch m;
    if (std::regex_search(line, m, re)) lost += std::stoi(m[1]);
  }
  return lost;
}

// --- the recordings ---------------------------------------------------------------

// What happens to the capture for a second in mid-recording: nothing, the X
// server stands still (the grabber loses its frames), or the capture is
// paused through its pause flag.
enum class TDisturbance { None, Stall, Pause };
constexpr int kDisturbanceMs = 1000;

struct RecordingCase {
  const char* Name;
  const char* Rate;  // as the recorder writes it
  double Fps;
  const char* WaveBufSize;  // nullptr: the default
  TDisturbance Disturbance = TDisturbance::None;
};

class CaptureRecordingTest : public ::testing::TestWithParam<RecordingCase> {
 protected:
  void SetUp() override {
    if (!HaveDisplay() || !HaveSound()) GTEST_SKIP() << "needs DISPLAY and PULSE_SERVER (scripts/test-env.sh)";
    ASSERT_TRUE(Encoder.LoadLibraries("")) << Encoder.LastErrMsg();
    RegisterCaptureInput();
    // The shared player keeps the null sink's latency settled; a sink whose
    // first stream has just started re-tunes for a while, so let it settle
    // before the first recording.
    static bool settled = false;
    if (!settled) {
      for (int i = 0; i < 100 && !SharedPlayer().Ok(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ASSERT_TRUE(SharedPlayer().Ok()) << "the test tone player did not start";
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      settled = true;
    }
    Encoder.SetProgressInterval(200);
    Encoder.SetOnProgress([this](void*, PProgressInfo p) { Reports.push_back(*p); });
    Encoder.SetOnTerminate([this](void*, const TTerminateInfo& info) {
      if (info.TaskIndex >= 0) Result = info;
      else Ended = true;
    });
  }

  // The recorder's lines for this rectangle, rate and buffer.
  std::string InputLine(const RecordingCase& c) const {
    std::string line = " -f gdicapture  -capture_offset " + std::to_string(kLeft) + "," + std::to_string(kTop) +
                       " -capture_flags +showframe+client+cursor  -s " + std::to_string(kWidth) + "x" +
                       std::to_string(kHeight) + " -r " + c.Rate + " -ar 44100 -ac 2 -sample_fmt s16 ";
    if (c.WaveBufSize) line += std::string(" -wavebufsize ") + c.WaveBufSize + " ";
    if (c.Disturbance == TDisturbance::Pause)
      line += " -pause_pointer " + std::to_string(reinterpret_cast<intptr_t>(&Paused)) + " ";
    return line;
  }
  static std::string OutputLine() {
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    return " -c:v mpeg4 -c:a aac -s " + size +
           " -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6    -async 1 -vsync 1 ";
  }

  std::atomic<int32_t> Paused{0};
  TLogCapture Log;
  TFFEncoder Encoder;
  TTempDir Dir;
  std::vector<TProgressInfo> Reports;
  TTerminateInfo Result;
  bool Ended = false;
};

TEST_P(CaptureRecordingTest, PictureSoundAndSyncInTheFile) {
  const RecordingCase& rc = GetParam();
  TTonePlayer& player = SharedPlayer();
  ASSERT_TRUE(player.Ok()) << "no playback into the test sink";
  player.Silence();
  MovePointer(1, 1);  // the cursor stays out of the picture
  TScene scene;
  const std::string out = Dir.Path("recording.mp4");

  TInputOptions in;
  InitInputOptions(&in);
  in.FileOptions = InputLine(rc);
  const int task = Encoder.AddTask("video=0:audio=-1", &in);
  ASSERT_EQ(task, 0) << Encoder.LastErrMsg();
  TOutputOptions outOptions;
  InitOutputOptions(&outOptions);
  outOptions.FileOptions = OutputLine();
  ASSERT_GE(Encoder.SetOutput(task, out, &outOptions), 0) << Encoder.LastErrMsg();

  Encoder.StartTask(1);
  ASSERT_TRUE(Encoder.Working());
  // Let the recording run (through the disturbance), then flash the square
  // and beep at the moment the beep is heard; stop mid-run about 1.8 s later.
  const bool disturbed = rc.Disturbance != TDisturbance::None;
  PumpFor(disturbed ? 700 : 1200);
  if (rc.Disturbance == TDisturbance::Stall) StallDisplay(kDisturbanceMs);
  if (rc.Disturbance == TDisturbance::Pause) {
    Paused.store(1);
    PumpFor(kDisturbanceMs);
    Paused.store(0);
  }
  if (disturbed) PumpFor(700);
  const int64_t heard = player.Beep(1000, 300);
  const int64_t wait = heard - av_gettime();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
  scene.Flash();
  const int64_t flashDrawn = av_gettime();
  PumpFor(1800);
  Encoder.Stop(true);
  ASSERT_TRUE(PumpUntil([this] { return Ended; }, 20000));
  EXPECT_FALSE(Result.Exception) << Result.ExceptionMsg;

  const TRecording file = DecodeRecording(out);
  ASSERT_TRUE(file.Opened) << "the stopped recording is not a finished file";
  EXPECT_TRUE(file.ReachedEnd);
  EXPECT_EQ(file.DecodeErrors, 0);
  EXPECT_EQ(file.VideoCodec, "mpeg4");
  EXPECT_EQ(file.AudioCodec, "aac");
  EXPECT_EQ(file.Width, kWidth);
  EXPECT_EQ(file.Height, kHeight);
  EXPECT_NEAR(file.FrameRate, rc.Fps, 0.01);
  EXPECT_EQ(file.SampleRate, 44100);
  EXPECT_EQ(file.Channels, 2);
  ASSERT_GE(file.Frames.size(), 10u);
  const double period = 1.0 / rc.Fps;

  // Timestamps increase, one period apart (constant frame rate output).
  for (size_t i = 1; i < file.Frames.size(); ++i)
    EXPECT_NEAR(file.Frames[i].Time - file.Frames[i - 1].Time, period, 0.002) << "frame " << i;
  for (size_t i = 1; i < file.AudioFrameTimes.size(); ++i)
    EXPECT_GT(file.AudioFrameTimes[i], file.AudioFrameTimes[i - 1]);

  // Every frame shows the client's picture at its place: the counter window's
  // corner at (kCounterX, kCounterY), a valid counter, background elsewhere,
  // and at no edge the region frame's yellow or blue ring.
  const int background = LumaOf(kBackground);
  std::vector<double> shownTimes;  // client clock per frame, seconds
  int counterBase = 0, previous = -1;
  for (size_t i = 0; i < file.Frames.size(); ++i) {
    const TVideoFrame& f = file.Frames[i];
    SCOPED_TRACE("frame " + std::to_string(i) + " at " + std::to_string(f.Time) + " s");
    EXPECT_NEAR(EdgeAlongRow(f, kCounterY + 34, 10, 80), kCounterX, 1);
    EXPECT_NEAR(EdgeAlongColumn(f, kCounterX + 170, 5, 60), kCounterY, 1);
    const int counter = ReadCounter(f, kCounterX, kCounterY);
    ASSERT_GE(counter, 0) << "counter unreadable";
    // The counter wraps at 256 and only moves forward.
    if (previous >= 0 && counter < previous) counterBase += 256;
    previous = counter;
    shownTimes.push_back((counterBase + counter) * kCounterStepMs / 1000.0);
    for (int x = 0; x < kWidth; x += 7) {
      for (int y : {0, 1, kHeight - 2, kHeight - 1}) {
        EXPECT_NEAR(f.Luma(x, y), background, 20) << x << "," << y;
        EXPECT_NEAR(f.ChromaU(x, y), 128, 12) << x << "," << y;
      }
    }
    for (int y = 0; y < kHeight; y += 7) {
      for (int x : {0, 1, kWidth - 2, kWidth - 1}) {
        EXPECT_NEAR(f.Luma(x, y), background, 20) << x << "," << y;
        EXPECT_NEAR(f.ChromaU(x, y), 128, 12) << x << "," << y;
      }
    }
    if (HasFatalFailure() || HasFailure()) break;  // one broken frame tells enough
  }

  // Frame count against the time the picture covered (the client's clock from
  // the first frame to the last), within two frames: frames the grabber did
  // not take are filled by repeating the picture before them.
  const double covered = shownTimes.back() - shownTimes.front();
  EXPECT_NEAR(static_cast<double>(file.Frames.size()), covered * rc.Fps + 1, 2.0)
      << "covered " << covered << " s, lost " << LostFrames(Log);
  std::vector<bool> repeated(file.Frames.size(), false);
  int repeats = 0;
  for (size_t i = 1; i < file.Frames.size(); ++i) {
    if (shownTimes[i] != shownTimes[i - 1]) continue;
    repeated[i] = true;
    ++repeats;
  }
  if (disturbed) {
    // The second without frames really happened, and the file holds it as
    // the last picture before it.
    const double missed = kDisturbanceMs / 1000.0 * rc.Fps;
    EXPECT_GE(LostFrames(Log), 0.8 * missed);
    EXPECT_GE(repeats, 0.8 * missed);
    EXPECT_LE(repeats, missed + 3);
  } else {
    EXPECT_LE(repeats, 2);
  }
  // Each frame sits at the time its picture was shown: the offset between
  // file time and client time stays within half a period (plus a counter
  // step) of its median; on a loaded machine a frame or two may be grabbed
  // late.
  std::vector<double> offsets;
  for (size_t i = 0; i < file.Frames.size(); ++i)
    if (!repeated[i]) offsets.push_back(file.Frames[i].Time - shownTimes[i]);
  std::vector<double> sorted = offsets;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(sorted.size() / 2), sorted.end());
  const double median = sorted[sorted.size() / 2];
  int misplaced = 0;
  for (double o : offsets)
    if (std::fabs(o - median) > period / 2 + kCounterStepMs / 1000.0 + 0.005) ++misplaced;
  EXPECT_LE(misplaced, disturbed ? 3 : 2) << "of " << offsets.size() << " frames";

  // The flash: the first frame with the square white.
  double flashTime = -1;
  for (const TVideoFrame& f : file.Frames) {
    if (f.MeanLuma(kFlashX + kFlashSize / 2, kFlashY + kFlashSize / 2) > 200) {
      flashTime = f.Time;
      break;
    }
  }
  // The beep: the first loud sample, and its pitch over the next 200 ms.
  double beepTime = -1;
  size_t beepAt = 0;
  for (size_t i = 0; i < file.Samples.size(); ++i) {
    if (std::fabs(file.Samples[i]) > 0.1f) {
      beepTime = file.AudioStart + static_cast<double>(i) / file.SampleRate;
      beepAt = i;
      break;
    }
  }
  ASSERT_GE(flashTime, 0) << "flash not recorded";
  ASSERT_GE(beepTime, 0) << "beep not recorded";
  const size_t window = static_cast<size_t>(file.SampleRate) / 5;
  ASSERT_GE(file.Samples.size(), beepAt + window + 2205);
  std::vector<int16_t> beep;
  for (size_t i = beepAt + 2205; i < beepAt + 2205 + window; ++i)
    beep.push_back(static_cast<int16_t>(std::lround(file.Samples[i] * 32767)));
  EXPECT_NEAR(MeasureFrequency(beep, file.SampleRate), 1000.0, 10.0);
  // Together within one video frame: the flash shows in the first frame
  // grabbed after it was drawn (up to a period later), plus 10 ms for the
  // grabber's scheduling; a late drawing of the flash by the test itself
  // moves the window by that much.
  const double drawnLate = static_cast<double>(flashDrawn - heard) / 1e6;
  EXPECT_GE(flashTime - beepTime, -period - 0.010) << "flash at " << flashTime << " s, beep at " << beepTime << " s";
  EXPECT_LE(flashTime - beepTime, period + 0.010 + drawnLate)
      << "flash at " << flashTime << " s, beep at " << beepTime << " s, drawn " << drawnLate << " s late";
  // Sound covers the picture.
  const double soundEnd = file.AudioStart + static_cast<double>(file.Samples.size()) / file.SampleRate;
  EXPECT_NEAR(file.AudioStart, 0.0, 0.05);
  EXPECT_GT(soundEnd, file.Frames.back().Time - 0.5);

  // The progress reports count the bytes written so far, before the end too.
  ASSERT_FALSE(Reports.empty());
  const TProgressInfo& last = Reports.back();
  EXPECT_EQ(last.FileIndex, -1);
  int checked = 0;
  int64_t previousSize = 0;
  for (const TProgressInfo& p : Reports) {
    EXPECT_GE(p.CurrentSize, previousSize);
    previousSize = p.CurrentSize;
    // From 2 s on (the muxer holds the first packets until the sound,
    // which comes in 0.37 s buffers, catches up; slower in the sanitizer build).
    if (p.FileIndex == -1 || p.CurrentDuration < 2000000) continue;
    ++checked;
    EXPECT_GE(static_cast<double>(p.CurrentSize),
              0.3 * static_cast<double>(last.CurrentSize) * static_cast<double>(p.CurrentDuration) /
                  static_cast<double>(last.CurrentDuration))
        << "at " << p.CurrentDuration << " us";
  }
  EXPECT_GE(checked, 2);
}

INSTANTIATE_TEST_SUITE_P(Recordings, CaptureRecordingTest,
                         ::testing::Values(RecordingCase{"Fps15", "15", 15.0, nullptr},
                                           RecordingCase{"Fps15SmallSoundBuffer", "15", 15.0, "4410"},
                                           RecordingCase{"Ntsc", "29.97", 29.97, nullptr},
                                           RecordingCase{"StalledDisplay", "15", 15.0, nullptr, TDisturbance::Stall},
                                           RecordingCase{"PausedCapture", "15", 15.0, nullptr, TDisturbance::Pause}),
                         [](const ::testing::TestParamInfo<RecordingCase>& i) { return std::string(i.param.Name); });

}  // namespace
}  // namespace vexa::test
