// Screen recordings through vexaenc with the recorder's own option lines, on
// a private 1280x720 display and sound server that each test starts itself:
// every output profile, the end of the sound at a stop, and faults in
// mid-recording (the display or the sound server killed, the disk full, a
// failing trailer). The files are decoded again after every run.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include "Support/MediaFixtures.h"
#include "Support/MediaOpen.h"
#include "Tools/PrivateServers.h"

namespace vexa::test {
namespace {

constexpr int kWidth = 640, kHeight = 480;  // the captured region, at 0,0
constexpr int kBarsTop = 360;               // the still colour bars below the demo's window
constexpr uint32_t kBars[4] = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff};

// The recorder's input line for the region, with sound.
std::string InputLine() {
  return " -f gdicapture  -capture_offset 0,0 -capture_flags +showframe+client+cursor  -s " + std::to_string(kWidth) +
         "x" + std::to_string(kHeight) + " -r 15 -ar 44100 -ac 2 -sample_fmt s16 ";
}

struct TProfile {
  const char* Name;
  const char* Extension;
  const char* Codecs;  // the format's codec text; mp4's codecs come first
  std::vector<std::string> Expected;  // decoded codec names, video then audio
};

const TProfile kProfiles[] = {
    {"mp4", ".mp4", "", {"mpeg4", "aac"}},
    {"swf", ".swf", " -c:a libmp3lame", {"flv1", "mp3"}},
    {"flv", ".flv", " -c:a libmp3lame", {"flv1", "mp3"}},
    {"wmv", ".wmv", " -c:v wmv2 -c:a wmav2", {"wmv2", "wmav2"}},
    {"mkv", ".mkv", " -pix_fmt yuv420p  -c:v libx264 ", {"h264", "vorbis"}},
    {"avi", ".avi", " -c:v rawvideo", {"rawvideo", "mp3"}},
    {"webm", ".webm", " -f webm  -c:v libvpx -c:a libvorbis", {"vp8", "vorbis"}},
};

// The recorder's output line of a profile (two processors).
std::string OutputLine(const TProfile& p) {
  std::string line = std::string(p.Name) == "mp4" ? " -c:v mpeg4 -c:a aac" : "";
  line += " -s " + std::to_string(kWidth) + "x" + std::to_string(kHeight) + p.Codecs;
  line += " -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6  -threads 2   -async 1 -vsync 1 ";
  return line;
}

// Still colour bars (a window of the test's own) under the moving demo.
class TColourBars {
 public:
  explicit TColourBars(const std::string& display) : Display_(XOpenDisplay(display.c_str())) {
    if (!Display_) return;
    const int screen = DefaultScreen(Display_);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = BlackPixel(Display_, screen);
    Window_ = XCreateWindow(Display_, RootWindow(Display_, screen), 0, kBarsTop, kWidth, kHeight - kBarsTop, 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    // The bars are the window's background: the server repaints them itself.
    const int depth = DefaultDepth(Display_, screen);
    Pixmap bars = XCreatePixmap(Display_, Window_, kWidth, kHeight - kBarsTop, static_cast<unsigned>(depth));
    GC gc = XCreateGC(Display_, bars, 0, nullptr);
    for (int i = 0; i < 4; ++i) {
      XSetForeground(Display_, gc, kBars[i]);
      XFillRectangle(Display_, bars, gc, i * kWidth / 4, 0, kWidth / 4, kHeight - kBarsTop);
    }
    XFreeGC(Display_, gc);
    XSetWindowBackgroundPixmap(Display_, Window_, bars);
    XFreePixmap(Display_, bars);
    XMapRaised(Display_, Window_);
    XSync(Display_, False);
  }
  ~TColourBars() {
    if (Display_) XCloseDisplay(Display_);
  }
  bool Ok() const { return Display_ != nullptr; }

 private:
  Display* Display_ = nullptr;
  Window Window_ = 0;
};

// What a recorded file holds, decoded again.
struct TDecoded {
  bool Opened = false;
  bool ReachedEnd = false;
  int DecodeErrors = 0;
  std::vector<std::string> Codecs;
  int64_t VideoFrames = 0;
  double VideoEnd = 0;  // end of the last frame, seconds
  double AudioStart = -1, AudioEnd = 0;
  int64_t AudioSamples = 0;
  double Peak = 0;  // loudest sample, 0..1
  // The middle bar row of a decoded raw frame in the middle of the file,
  // 0xRRGGBB per bar; empty unless the video is raw with B, G, R bytes.
  std::vector<uint32_t> BarColours;
  std::string PixelFormat;
};

TDecoded Decode(const std::string& path) {
  TDecoded r;
  TInputPtr in = OpenMediaInput(path);
  if (!in) return r;
  const int vi = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int ai = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (vi < 0 || ai < 0) return r;
  r.Opened = true;
  r.Codecs = {avcodec_get_name(in->streams[vi]->codecpar->codec_id),
              avcodec_get_name(in->streams[ai]->codecpar->codec_id)};
  TCodecPtr video = OpenDecoder(in->streams[vi]), audio = OpenDecoder(in->streams[ai]);
  if (!video || !audio) return r;
  const double frameTime = 1.0 / av_q2d(in->streams[vi]->avg_frame_rate.num ? in->streams[vi]->avg_frame_rate
                                                                           : AVRational{15, 1});
  TPacketPtr pkt(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  std::vector<std::vector<uint32_t>> bars;
  auto receive = [&](AVCodecContext* ctx, const AVStream* st) {
    while (avcodec_receive_frame(ctx, frame.get()) >= 0) {
      const double t = frame->best_effort_timestamp == AV_NOPTS_VALUE
                           ? 0
                           : static_cast<double>(frame->best_effort_timestamp) * av_q2d(st->time_base);
      if (ctx->codec_type == AVMEDIA_TYPE_VIDEO) {
        ++r.VideoFrames;
        r.VideoEnd = std::max(r.VideoEnd, t + frameTime);
        const AVPixelFormat f = static_cast<AVPixelFormat>(frame->format);
        r.PixelFormat = av_get_pix_fmt_name(f) ? av_get_pix_fmt_name(f) : "?";
        if ((f == AV_PIX_FMT_BGR0 || f == AV_PIX_FMT_BGRA) && frame->height == kHeight) {
          std::vector<uint32_t> row;
          const int y = (kBarsTop + kHeight) / 2;
          for (int i = 0; i < 4; ++i) {
            const uint8_t* px = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0] +
                                static_cast<ptrdiff_t>(i * kWidth / 4 + kWidth / 8) * 4;
            row.push_back(static_cast<uint32_t>(px[2]) << 16 | static_cast<uint32_t>(px[1]) << 8 | px[0]);
          }
          bars.push_back(row);
        }
      } else {
        if (r.AudioStart < 0) r.AudioStart = t;
        r.AudioSamples += frame->nb_samples;
        r.AudioEnd = std::max(r.AudioEnd, t + static_cast<double>(frame->nb_samples) / frame->sample_rate);
        if (frame->format == AV_SAMPLE_FMT_FLTP || frame->format == AV_SAMPLE_FMT_FLT) {
          const float* s = reinterpret_cast<const float*>(frame->extended_data[0]);
          for (int i = 0; i < frame->nb_samples; ++i) r.Peak = std::max(r.Peak, std::fabs(static_cast<double>(s[i])));
        } else if (frame->format == AV_SAMPLE_FMT_S16P || frame->format == AV_SAMPLE_FMT_S16) {
          const int16_t* s = reinterpret_cast<const int16_t*>(frame->extended_data[0]);
          for (int i = 0; i < frame->nb_samples; ++i) r.Peak = std::max(r.Peak, std::abs(s[i]) / 32768.0);
        }
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
  receive(video.get(), in->streams[vi]);
  avcodec_send_packet(audio.get(), nullptr);
  receive(audio.get(), in->streams[ai]);
  if (!bars.empty()) r.BarColours = bars[bars.size() / 2];
  return r;
}

// One recording: the demo's moving picture and tone with the colour bars,
// vexaenc with the recorder's lines; `during` runs `faultAtMs` after the
// recording started; SIGINT ends it `totalMs` after the start unless it has
// ended by itself.
struct TRecording {
  int ExitStatus = -2;
  std::string Log;
};

class RecordingFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/Xvfb", X_OK) != 0 || access("/usr/bin/pulseaudio", X_OK) != 0)
      GTEST_SKIP() << "needs Xvfb and pulseaudio";
    ASSERT_TRUE(Servers.Ok()) << Servers.Error();
  }

  TRecording Record(const std::string& out, const std::string& outputLine, int totalMs,
                    const std::function<void()>& during = {}, int faultAtMs = 0, int64_t fileSizeLimit = -1) {
    TRecording r;
    const std::vector<std::string> env = Servers.ClientEnvironment();
    TChildProcess demo({VEXADEMO_PATH, "--x", "0", "--y", "0", "--width", std::to_string(kWidth), "--height",
                        std::to_string(kBarsTop)},
                       env, Dir.Path("demo.out"), Dir.Path("demo.err"));
    Bars = std::make_unique<TColourBars>(Servers.DisplayName());
    EXPECT_TRUE(Bars->Ok());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the demo's window and tone are up
    // Each run writes files of its own: a file of the run before must not
    // pass for this run's progress.
    const std::string name = "vexaenc" + std::to_string(++Runs);
    TChildProcess run({VEXAENC_PATH, "--progress-interval", "100", "video=0:audio=-1", InputLine(), out, outputLine},
                      env, Dir.Path(name + ".out"), Dir.Path(name + ".err"), fileSizeLimit);
    // The recording has started with its first progress line.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadTextFile(Dir.Path(name + ".out")).find("progress:") == std::string::npos && run.Running() &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = std::chrono::steady_clock::now();
    if (during) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(faultAtMs));
      during();
    }
    while (run.Running() && std::chrono::steady_clock::now() < start + std::chrono::milliseconds(totalMs))
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    run.Signal(SIGINT);
    r.ExitStatus = run.Wait(60000);
    demo.Signal(SIGTERM);
    demo.Wait(5000);
    r.Log = ReadTextFile(Dir.Path(name + ".err"));
    Bars.reset();
    return r;
  }

  // The test's own connection goes before the display is killed.
  void KillDisplay() {
    Bars.reset();
    Servers.KillDisplay();
  }

  TTempDir Dir;
  int Runs = 0;
  std::unique_ptr<TColourBars> Bars;
  TPrivateServers Servers;
};

TEST_F(RecordingFaultsTest, EveryProfileRecordsPictureAndSound) {
  for (const TProfile& p : kProfiles) {
    SCOPED_TRACE(p.Name);
    const std::string out = Dir.Path(std::string("profile") + p.Extension);
    const TRecording run = Record(out, OutputLine(p), 5000);
    EXPECT_EQ(run.ExitStatus, 0) << run.Log;
    const TDecoded file = Decode(out);
    ASSERT_TRUE(file.Opened) << run.Log;
    EXPECT_TRUE(file.ReachedEnd);
    EXPECT_EQ(file.DecodeErrors, 0);
    EXPECT_EQ(file.Codecs, p.Expected);
    // Five seconds of picture (on a loaded machine a slow encoder, libvpx
    // above all, falls so far behind the capture that the real-time buffer
    // overflows and the stop cuts the rest) and the demo's tone with it.
    EXPECT_GT(file.VideoEnd, std::string(p.Name) == "webm" ? 1.5 : 4.0) << run.Log;
    EXPECT_LT(file.VideoEnd, 6.5);
    EXPECT_GE(file.VideoFrames, 10);
    // When the drain after the stop runs out of time (libvpx far behind in
    // the sanitizer build), what was still queued is cut: the ends may then
    // differ by the queue's length.
    EXPECT_NEAR(file.AudioEnd, file.VideoEnd, std::string(p.Name) == "webm" ? 1.5 : 0.3);
    EXPECT_GT(file.Peak, 0.05) << "no tone in the sound";
    if (std::string(p.Name) == "avi") {
      // Raw pictures of four bytes a pixel (the header says so): the bars'
      // exact colours.
      EXPECT_TRUE(file.PixelFormat == "bgr0" || file.PixelFormat == "bgra") << file.PixelFormat;
      EXPECT_EQ(file.BarColours, std::vector<uint32_t>(std::begin(kBars), std::end(kBars)));
    }
  }
}

TEST_F(RecordingFaultsTest, SoundAndPictureEndTogetherAtAStop) {
  const std::string out = Dir.Path("tail.mp4");
  const TRecording run = Record(out, OutputLine(kProfiles[0]), 4000);
  EXPECT_EQ(run.ExitStatus, 0) << run.Log;
  const TDecoded file = Decode(out);
  ASSERT_TRUE(file.Opened);
  EXPECT_NEAR(file.VideoEnd, 4.0, 0.5);
  // Default sound buffers of 65536 bytes (0.37 s): the last one, partly
  // filled at the stop, is in the file too. Within a frame period, plus
  // the last AAC frame (1024 samples) that the encoder pads to its end.
  EXPECT_NEAR(file.AudioEnd, file.VideoEnd, 1.0 / 15 + 1024.0 / 44100) << "sound ends at " << file.AudioEnd << " s, picture at "
                                                      << file.VideoEnd << " s";
}

TEST_F(RecordingFaultsTest, LostDisplayEndsTheRecordingWithAFinishedFile) {
  const std::string out = Dir.Path("display.mp4");
  const TRecording run = Record(out, OutputLine(kProfiles[0]), 10000, [this] { KillDisplay(); }, 3000);
  EXPECT_EQ(run.ExitStatus, 1) << "the run failed and says so\n" << run.Log;
  EXPECT_NE(run.Log.find("Lost the connection to the X display"), std::string::npos) << run.Log;
  EXPECT_NE(run.Log.find("vexaenc: video=0:audio=-1: Lost the connection to the X display"), std::string::npos);
  const TDecoded file = Decode(out);
  ASSERT_TRUE(file.Opened) << "the file of the first three seconds is lost";
  EXPECT_TRUE(file.ReachedEnd);
  EXPECT_EQ(file.DecodeErrors, 0);
  // Three seconds after the first progress line, which a loaded machine
  // shows late.
  EXPECT_GT(file.VideoEnd, 2.0);
  EXPECT_LT(file.VideoEnd, 4.5);
  EXPECT_NEAR(file.AudioEnd, file.VideoEnd, 0.5);
}

TEST_F(RecordingFaultsTest, LostSoundServerLeavesSilenceAndTheRecordingGoesOn) {
  const std::string out = Dir.Path("sound.mp4");
  const TRecording run = Record(out, OutputLine(kProfiles[0]), 6000, [this] { Servers.KillSound(); }, 2500);
  EXPECT_EQ(run.ExitStatus, 0) << run.Log;
  EXPECT_NE(run.Log.find("[Warning] The sound server has gone away"), std::string::npos) << run.Log;
  const TDecoded file = Decode(out);
  ASSERT_TRUE(file.Opened);
  EXPECT_EQ(file.DecodeErrors, 0);
  // The picture goes on to the stop, the sound (silence after the loss)
  // with it.
  EXPECT_NEAR(file.VideoEnd, 6.0, 0.5);
  EXPECT_NEAR(file.AudioEnd, file.VideoEnd, 0.2);
}

// A small file system for the output: a tmpfs when this process may mount
// one, else nothing (the file-size limit stands in).
class TSmallDisk {
 public:
  TSmallDisk(const std::string& dir, int megabytes) : Dir_(dir) {
    mkdir(Dir_.c_str(), 0700);
    const std::string size = "size=" + std::to_string(megabytes) + "m";
    Mounted_ = mount("tmpfs", Dir_.c_str(), "tmpfs", 0, size.c_str()) == 0;
  }
  ~TSmallDisk() {
    if (Mounted_) umount2(Dir_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return Mounted_; }

 private:
  std::string Dir_;
  bool Mounted_ = false;
};

TEST_F(RecordingFaultsTest, FullDiskStopsTheRecordingWhileTheFileCanBeFinished) {
  // Big pictures fill the room fast: the avi profile writes raw frames.
  const TProfile& avi = kProfiles[5];
  constexpr int kDiskMb = 128;
  TSmallDisk disk(Dir.Path("disk"), kDiskMb);
  const std::string out = (disk.Mounted() ? Dir.Path("disk") : Dir.Root()) + "/full.avi";
  const TRecording run = Record(out, OutputLine(avi), 15000, {}, 0, disk.Mounted() ? -1 : kDiskMb << 20);
  EXPECT_EQ(run.ExitStatus, 1) << run.Log;
  EXPECT_NE(run.Log.find("Recording stopped: "), std::string::npos) << run.Log;
  EXPECT_NE(run.Log.find(disk.Mounted() ? "is nearly full" : "near the file size limit"), std::string::npos);
  EXPECT_EQ(run.Log.find("No space left on device"), std::string::npos) << run.Log;
  const TDecoded file = Decode(out);
  ASSERT_TRUE(file.Opened) << run.Log;
  EXPECT_TRUE(file.ReachedEnd);
  EXPECT_EQ(file.DecodeErrors, 0);
  // Up to the clean stop: the frames that fit less a reserve of a few
  // seconds of data, picture and sound together.
  const double frameBytes = kWidth * kHeight * 4.0;
  EXPECT_GE(static_cast<double>(file.VideoFrames), 0.25 * (kDiskMb << 20) / frameBytes) << run.Log;
  EXPECT_LT(file.VideoEnd, 14.0);
  EXPECT_NEAR(file.AudioEnd, file.VideoEnd, 0.5);
}

TEST_F(RecordingFaultsTest, FailingTrailerIsReportedAsAFailure) {
  // A file-size limit the header fits in but not the rest: a short run fits
  // the write buffer, so the first write past the limit is the trailer's.
  const std::string out = Dir.Path("trailer.mp4");
  TChildProcess run({VEXAENC_PATH, "--quiet-progress", "testsrc=size=32x32:rate=5:duration=0.4", "-f lavfi", out,
                     "-c:v mpeg4"},
                    EnvironmentWith({}), Dir.Path("trailer.out"), Dir.Path("trailer.err"), 200);
  const int status = run.Wait();
  const std::string log = ReadTextFile(Dir.Path("trailer.err"));
  EXPECT_EQ(status, 1) << log;
  EXPECT_NE(log.find("vexaenc: "), std::string::npos) << log;
  EXPECT_NE(log.find("Could not write the trailer of output file #0 (" + out + "): File too large"),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace vexa::test
