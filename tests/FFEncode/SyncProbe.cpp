#include "SyncProbe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include "GDICapture/CaptureTestSupport.h"
#include "GDICapture/WaveInput.h"
#include "Support/MediaOpen.h"

namespace vexa::test {

// --- the flashing square ----------------------------------------------------------

TFlashSquare::TFlashSquare(int x, int y, int size)
    : Window_(std::make_unique<TTestWindow>(x, y, size, size, 0x000000)) {
  Thread_ = std::thread([this] { Run(); });
}

TFlashSquare::~TFlashSquare() {
  Quit_.store(true);
  Thread_.join();
}

void TFlashSquare::FlashAt(int64_t at) { Start_.store(at); }

void TFlashSquare::Run() {
  int shown = 0;
  while (!Quit_.load()) {
    const int64_t start = Start_.load();
    const int64_t since = start ? av_gettime() - start : -1;
    int level = 0;
    if (since >= 0 && since < (kRampMs + kHoldMs) * 1000LL)
      level = static_cast<int>(std::min<int64_t>(255, since * 255 / (kRampMs * 1000LL)));
    if (level != shown) {
      Window_->Fill(static_cast<uint32_t>(level) * 0x010101u);
      shown = level;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// --- reading the marks ---------------------------------------------------------------

namespace {

constexpr double kBlackLuma = 16, kWhiteLuma = 235;

// Flash starts from the square's mean luma per frame: the first frame that
// is neither black nor white dates the start through the fade.
class TFlashFinder {
 public:
  void Frame(double time, double luma, std::vector<double>& flashes) {
    const double level = (luma - kBlackLuma) / (kWhiteLuma - kBlackLuma);
    if (level < 0.04) {
      Armed_ = true;
      return;
    }
    if (!Armed_) return;
    Armed_ = false;
    // A frame already white (the fade fell between two frames) dates the
    // start to within the fade.
    flashes.push_back(time - std::min(level, 1.0) * TFlashSquare::kRampMs / 1000.0);
  }

 private:
  bool Armed_ = false;
};

// Beep onsets (a loud sample after 0.3 s without one) and the phase of a
// steady tone in 20 ms windows outside the beeps.
class TSoundFinder {
 public:
  TSoundFinder(int rate, double toneHz) : Rate_(rate), ToneHz_(toneHz), Window_(rate / 50) {}

  void Samples(double start, const float* s, int n, TSyncMarks& marks) {
    for (int i = 0; i < n; ++i) {
      const double t = start + static_cast<double>(i) / Rate_;
      const double v = s[i];
      if (std::fabs(v) > 0.1) {
        if (t - LastLoud_ > 0.3) marks.Beeps.push_back(t);
        LastLoud_ = t;
      }
      if (ToneHz_ > 0) Phase(t, v, marks);
    }
  }

 private:
  void Phase(double t, double v, TSyncMarks& marks) {
    I_ += v * std::sin(2 * M_PI * ToneHz_ * t);
    Q_ += v * std::cos(2 * M_PI * ToneHz_ * t);
    Energy_ += v * v;
    if (++Count_ < Window_) return;
    const double rms = std::sqrt(Energy_ / Count_);
    const double amplitude = 2 * std::hypot(I_, Q_) / Count_;
    // Only windows of the tone alone: no beep in them, no silence.
    const bool clean = amplitude > 0.02 && rms < 1.2 * amplitude / std::sqrt(2.0);
    // A gap counts once the tone is back (the end of the file may be padded).
    if (amplitude > 0.02) {
      if (ToneSeen_) marks.ToneGaps += Missing_;
      ToneSeen_ = true;
      Missing_ = 0;
    } else if (ToneSeen_) {
      ++Missing_;
    }
    const double phase = std::atan2(Q_, I_);
    if (clean && Valid_ >= 1) {
      const double advance = std::remainder(phase - Phase_, 2 * M_PI);
      if (Valid_ >= 2) marks.WorstPhaseJump = std::max(marks.WorstPhaseJump, std::fabs(advance - Advance_));
      Advance_ = advance;
    }
    Valid_ = clean ? Valid_ + 1 : 0;
    Phase_ = phase;
    I_ = Q_ = Energy_ = 0;
    Count_ = 0;
  }

  int Rate_;
  double ToneHz_;
  int Window_;
  double LastLoud_ = -1e9;
  double I_ = 0, Q_ = 0, Energy_ = 0;
  int Count_ = 0;
  int Valid_ = 0;
  bool ToneSeen_ = false;
  int Missing_ = 0;
  double Phase_ = 0, Advance_ = 0;
};

}  // namespace

TSyncMarks ReadSyncMarks(const std::string& path, int squareX, int squareY, int squareSize, double toneHz) {
  TSyncMarks marks;
  TInputPtr in = OpenMediaInput(path);
  if (!in) return marks;
  const int vi = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int ai = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (vi < 0 || ai < 0) return marks;
  TCodecPtr video = OpenDecoder(in->streams[vi]), audio = OpenDecoder(in->streams[ai]);
  if (!video || !audio) return marks;
  marks.Opened = true;
  TFlashFinder flashes;
  TSoundFinder sound(audio->sample_rate, toneHz);
  TPacketPtr pkt(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  const int margin = squareSize / 4;

  auto receive = [&](AVCodecContext* ctx, const AVStream* st) {
    while (avcodec_receive_frame(ctx, frame.get()) >= 0) {
      const double t = frame->best_effort_timestamp == AV_NOPTS_VALUE
                           ? std::numeric_limits<double>::quiet_NaN()
                           : static_cast<double>(frame->best_effort_timestamp) * av_q2d(st->time_base);
      if (ctx->codec_type == AVMEDIA_TYPE_VIDEO && frame->format == AV_PIX_FMT_YUV420P) {
        double sum = 0;
        int n = 0;
        for (int y = squareY + margin; y < squareY + squareSize - margin; ++y)
          for (int x = squareX + margin; x < squareX + squareSize - margin; ++x, ++n)
            sum += frame->data[0][static_cast<ptrdiff_t>(y) * frame->linesize[0] + x];
        flashes.Frame(t, sum / std::max(n, 1), marks.Flashes);
        ++marks.VideoFrames;
        marks.VideoEnd = t;
      } else if (ctx->codec_type == AVMEDIA_TYPE_AUDIO && frame->format == AV_SAMPLE_FMT_FLTP) {
        sound.Samples(t, reinterpret_cast<const float*>(frame->extended_data[0]), frame->nb_samples, marks);
        marks.AudioEnd = t + static_cast<double>(frame->nb_samples) / frame->sample_rate;
      } else {
        ++marks.DecodeErrors;
      }
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    AVCodecContext* ctx = pkt->stream_index == vi ? video.get() : pkt->stream_index == ai ? audio.get() : nullptr;
    if (ctx) {
      if (avcodec_send_packet(ctx, pkt.get()) < 0) ++marks.DecodeErrors;
      receive(ctx, in->streams[pkt->stream_index]);
    }
    av_packet_unref(pkt.get());
  }
  avcodec_send_packet(video.get(), nullptr);
  receive(video.get(), in->streams[vi]);
  avcodec_send_packet(audio.get(), nullptr);
  receive(audio.get(), in->streams[ai]);
  return marks;
}

std::vector<double> BeepAfterFlash(const TSyncMarks& marks) {
  std::vector<double> offsets;
  for (double f : marks.Flashes) {
    double best = std::numeric_limits<double>::quiet_NaN();
    for (double b : marks.Beeps)
      if (std::fabs(b - f) < 0.5 && !(std::fabs(b - f) >= std::fabs(best))) best = b - f;
    offsets.push_back(best);
  }
  return offsets;
}

// --- the skewed source -------------------------------------------------------------------

namespace {

// Runs a command and returns its first line of output.
std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char line[256];
    if (std::fgets(line, sizeof line, p)) out = line;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace

TSkewedSource::TSkewedSource(double skew, int rate) : Skew_(skew), Rate_(rate) {
  char dir[] = "/tmp/vexa-skewed.XXXXXX";
  if (!mkdtemp(dir)) return;
  Dir_ = dir;
  Fifo_ = Dir_ + "/source.fifo";
  Name_ = "vexa_skewed_" + std::to_string(getpid());
  // The module makes the FIFO itself.
  const std::string index = RunCommand("pactl load-module module-pipe-source source_name=" + Name_ + " file=" +
                                       Fifo_ + " format=s16le rate=" + std::to_string(rate) + " channels=2 2>/dev/null");
  if (index.empty() || index.find_first_not_of("0123456789") != std::string::npos) return;
  Module_ = std::atoi(index.c_str());
  // Non-blocking: the source reads only while it records, and the feeder
  // must be able to stop whatever it does.
  Fd_ = open(Fifo_.c_str(), O_WRONLY | O_NONBLOCK);
  if (Fd_ < 0) return;
  Ok_ = true;
  Epoch_ = av_gettime();
  Thread_ = std::thread([this] { Run(); });
}

TSkewedSource::~TSkewedSource() {
  Quit_.store(true);
  if (Thread_.joinable()) Thread_.join();
  if (Fd_ >= 0) close(Fd_);
  if (Module_ >= 0) RunCommand("pactl unload-module " + std::to_string(Module_) + " 2>/dev/null");
  if (!Fifo_.empty()) unlink(Fifo_.c_str());
  if (!Dir_.empty()) rmdir(Dir_.c_str());
}

int TSkewedSource::DeviceNumber() const {
  std::vector<std::string> names;
  if (!ListSources(names)) return -100;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == Name_) return static_cast<int>(i);
  return -100;
}

void TSkewedSource::BeepAt(int64_t at, double hz, int ms) {
  std::lock_guard<std::mutex> guard(Lock_);
  const double fps = Rate_ * (1 + Skew_);
  BeepFrom_ = std::llround(static_cast<double>(at - Epoch_) / 1e6 * fps);
  BeepTo_ = BeepFrom_ + std::llround(ms / 1000.0 * fps);
  BeepHz_ = hz;
}

void TSkewedSource::Tone(double hz) {
  std::lock_guard<std::mutex> guard(Lock_);
  ToneHz_ = hz;
}

// Frame n is written when it is due, at Epoch_ + n / (rate x (1 + skew)):
// each write carries the frames that fell due since the last one, so the
// last frame of each write is recorded the moment it is written.
void TSkewedSource::Run() {
  const double fps = Rate_ * (1 + Skew_);
  int64_t written = 0;
  std::vector<int16_t> pcm;
  while (!Quit_.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int64_t due = static_cast<int64_t>(static_cast<double>(av_gettime() - Epoch_) / 1e6 * fps);
    if (due <= written) continue;
    pcm.assign(static_cast<size_t>(due - written) * 2, 0);
    {
      std::lock_guard<std::mutex> guard(Lock_);
      for (int64_t n = written; n < due; ++n) {
        // Phases count in frames of the source, as a device would play them.
        double v = 0;
        if (ToneHz_ > 0) v += 0.08 * std::sin(2 * M_PI * ToneHz_ * static_cast<double>(n) / Rate_);
        if (n >= BeepFrom_ && n < BeepTo_)
          v += 0.35 * std::sin(2 * M_PI * BeepHz_ * static_cast<double>(n - BeepFrom_) / Rate_);
        const auto s = static_cast<int16_t>(std::lround(v * 32767));
        pcm[static_cast<size_t>(n - written) * 2] = pcm[static_cast<size_t>(n - written) * 2 + 1] = s;
      }
    }
    const char* p = reinterpret_cast<const char*>(pcm.data());
    size_t left = pcm.size() * sizeof(int16_t);
    while (left > 0 && !Quit_.load()) {
      const ssize_t n = write(Fd_, p, left);
      if (n < 0 && errno == EAGAIN) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      if (n <= 0) return;
      p += n;
      left -= static_cast<size_t>(n);
    }
    written = due;
  }
}

}  // namespace vexa::test
