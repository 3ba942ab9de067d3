// A whole screen recording through the encoder component with the recorder's
// mp4 profile: the screen (with a moving picture on it) and the default sound
// source for SECONDS, then the figures: frames written against frames due,
// frames lost by the grabber, frames dropped (by the grabber's full buffer and
// by the output's constant rate), and the CPU used by this process and by the
// X server.
//
//   VEXA_TEST_SCREEN=1920x1080x24 scripts/test-env.sh build/release/bench/bench_CaptureRecording [SECONDS] [RATE]
#include <X11/Xlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

extern "C" {
#include <libavutil/time.h>
}

#include "Base/MainThread.h"
#include "FFEncode/FFEncode.h"
#include "FFLog/FFLog.h"
#include "GDICapture/CaptureFormat.h"

namespace {

// A full-screen window with a square crossing it, redrawn at `fps`.
class TMovingPicture {
 public:
  explicit TMovingPicture(int fps) {
    Display_ = XOpenDisplay(nullptr);
    if (!Display_) return;
    const int screen = DefaultScreen(Display_);
    Width_ = DisplayWidth(Display_, screen);
    Height_ = DisplayHeight(Display_, screen);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = BlackPixel(Display_, screen);
    Window_ = XCreateWindow(Display_, RootWindow(Display_, screen), 0, 0, static_cast<unsigned>(Width_),
                            static_cast<unsigned>(Height_), 0, CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(Display_, Window_);
    Gc_ = XCreateGC(Display_, Window_, 0, nullptr);
    XSync(Display_, False);
    Thread_ = std::thread([this, fps] {
      const auto period = std::chrono::microseconds(1000000 / fps);
      auto due = std::chrono::steady_clock::now();
      const int box = Height_ / 4;
      for (long frame = 0; !Quit_.load(); ++frame) {
        const int span = Width_ - box;
        const int x = static_cast<int>(frame * 12 % (2 * span));
        XSetForeground(Display_, Gc_, 0x203040);
        XFillRectangle(Display_, Window_, Gc_, 0, 0, static_cast<unsigned>(Width_), static_cast<unsigned>(Height_));
        XSetForeground(Display_, Gc_, 0xe0c020 + static_cast<unsigned long>(frame % 64));
        XFillRectangle(Display_, Window_, Gc_, x < span ? x : 2 * span - x, (Height_ - box) / 2,
                       static_cast<unsigned>(box), static_cast<unsigned>(box));
        XSync(Display_, False);
        due += period;
        std::this_thread::sleep_until(due);
      }
    });
  }
  ~TMovingPicture() {
    if (!Display_) return;
    Quit_.store(true);
    Thread_.join();
    XFreeGC(Display_, Gc_);
    XDestroyWindow(Display_, Window_);
    XCloseDisplay(Display_);
  }
  bool Ok() const { return Display_ != nullptr; }
  int Width() const { return Width_; }
  int Height() const { return Height_; }

 private:
  Display* Display_ = nullptr;
  Window Window_ = 0;
  GC Gc_ = nullptr;
  int Width_ = 0, Height_ = 0;
  std::atomic<bool> Quit_{false};
  std::thread Thread_;
};

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The X server of $DISPLAY when it is an Xvfb of this session (started by
// scripts/test-env.sh): its pid, or 0.
int FindXvfb() {
  const char* display = std::getenv("DISPLAY");
  if (!display) return 0;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  int found = 0;
  while (dirent* e = readdir(proc)) {
    const int pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    std::ifstream in(std::string("/proc/") + e->d_name + "/cmdline");
    std::string cmd((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t end = cmd.find('\0');
    const std::string program = cmd.substr(0, end);
    const std::string first = end == std::string::npos ? "" : cmd.substr(end + 1, cmd.find('\0', end + 1) - end - 1);
    if (program.size() >= 4 && program.compare(program.size() - 4, 4, "Xvfb") == 0 && first == display) {
      found = pid;
      break;
    }
  }
  closedir(proc);
  return found;
}

// User + system CPU seconds of a process, from /proc/PID/stat.
double CpuSecondsOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  double utime = 0, stime = 0;
  for (int i = 3; fields >> f; ++i) {
    if (i == 14) utime = std::atof(f.c_str());
    if (i == 15) {
      stime = std::atof(f.c_str());
      break;
    }
  }
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

// What the log tells about the run.
struct TLogFigures {
  std::mutex Lock;
  int64_t CaptureStart = 0;  // av_gettime of the first read of the input
  int Lost = 0;              // sum over "We lost N frames" up to the stop
  int LostAfterStop = 0;     // the same while the run ends (not in the file)
  std::atomic<int64_t> StopAt{0};
  int GrabberDrops = 0;      // "real-time buffer ... frame dropped!"
  int Dup = 0, Drop = 0;     // the output's constant rate, from the last report line
  std::string FinalLine;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
  const int rate = argc > 2 ? std::atoi(argv[2]) : 30;
  if (!std::getenv("DISPLAY") || seconds <= 0 || rate <= 0) {
    std::fprintf(stderr, "usage (under scripts/test-env.sh or on a desktop): bench_CaptureRecording [SECONDS] [RATE]\n");
    return 2;
  }
  TMovingPicture picture(rate);
  if (!picture.Ok()) {
    std::fprintf(stderr, "bench_CaptureRecording: cannot open the display\n");
    return 1;
  }
  const int width = picture.Width() / 2 * 2, height = picture.Height() / 2 * 2;
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);

  TLogFigures figures;
  vexa::TFFLogger& logger = vexa::GetFFLogger();
  logger.SetTriggerEventInMainThread(false);
  logger.SetLogLevel(vexa::llDebug);
  const std::regex lost("We lost (\\d+) frames");
  const std::regex dupDrop("dup=(\\d+) drop=(\\d+)");
  logger.SetOnLog([&](const void*, uint32_t, vexa::TLogLevel level, const std::string& msg) {
    std::smatch m;
    std::lock_guard<std::mutex> guard(figures.Lock);
    if (figures.CaptureStart == 0 && msg.find("Count of GDI objects") != std::string::npos)
      figures.CaptureStart = av_gettime();
    if (level > vexa::llInfo) return;
    if (std::regex_search(msg, m, lost)) {
      const int64_t stop = figures.StopAt.load();
      (stop && av_gettime() >= stop ? figures.LostAfterStop : figures.Lost) += std::stoi(m[1]);
    }
    if (msg.find("frame dropped!") != std::string::npos) ++figures.GrabberDrops;
    if (msg.find("Lsize=") != std::string::npos) {
      figures.FinalLine = msg;
      if (std::regex_search(msg, m, dupDrop)) {
        figures.Dup = std::stoi(m[1]);
        figures.Drop = std::stoi(m[2]);
      }
    }
  });

  vexa::TFFEncoder encoder;
  if (!encoder.LoadLibraries("")) {
    std::fprintf(stderr, "bench_CaptureRecording: %s\n", encoder.LastErrMsg().c_str());
    return 1;
  }
  vexa::RegisterCaptureInput();
  int written = 0;
  int64_t outputTime = 0;
  bool ended = false;
  vexa::TTerminateInfo result;
  encoder.SetOnProgress([&](void*, vexa::PProgressInfo p) {
    if (p->FileIndex == -1) {
      written = p->FrameNumber;
      outputTime = p->CurrentDuration;
    }
  });
  encoder.SetOnTerminate([&](void*, const vexa::TTerminateInfo& info) {
    if (info.TaskIndex >= 0) result = info;
    else ended = true;
  });

  // The recorder's lines: the whole screen, the mp4 profile, one thread per
  // processor.
  vexa::TInputOptions in;
  vexa::InitInputOptions(&in);
  in.FileOptions = " -f gdicapture  -capture_offset 0,0 -capture_flags +showframe+client+cursor  -s " + size +
                   " -r " + std::to_string(rate) + " -ar 44100 -ac 2 -sample_fmt s16 ";
  const int task = encoder.AddTask("video=0:audio=-1", &in);
  if (task < 0) {
    std::fprintf(stderr, "bench_CaptureRecording: %s\n", encoder.LastErrMsg().c_str());
    return 1;
  }
  char dir[] = "/tmp/vexa-bench.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string file = std::string(dir) + "/recording.mp4";
  vexa::TOutputOptions out;
  vexa::InitOutputOptions(&out);
  out.FileOptions = " -c:v mpeg4 -c:a aac -s " + size + " -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6 " +
                    (cpus > 1 ? "  -threads " + std::to_string(cpus) : std::string()) + "   -async 1 -vsync 1 ";
  if (encoder.SetOutput(task, file, &out) < 0) {
    std::fprintf(stderr, "bench_CaptureRecording: %s\n", encoder.LastErrMsg().c_str());
    return 1;
  }

  const std::string loadBefore = LoadAverage();
  const int xvfb = FindXvfb();
  const double xCpu0 = xvfb ? CpuSecondsOf(xvfb) : 0;
  const double cpu0 = ProcessCpuSeconds();
  encoder.StartTask(1);
  const int64_t started = av_gettime();
  while (av_gettime() - started < static_cast<int64_t>(seconds * 1e6)) vexa::CheckSynchronize(20);
  const int64_t stopAt = av_gettime();
  figures.StopAt.store(stopAt);
  encoder.Stop(true);
  while (!ended) vexa::CheckSynchronize(20);
  const double cpu = ProcessCpuSeconds() - cpu0;
  const double xCpu = xvfb ? CpuSecondsOf(xvfb) - xCpu0 : 0;
  const double wall = static_cast<double>(av_gettime() - started) / 1e6;

  int64_t captureStart;
  {
    std::lock_guard<std::mutex> guard(figures.Lock);
    captureStart = figures.CaptureStart;
  }
  const double recorded = captureStart ? static_cast<double>(stopAt - captureStart) / 1e6 : 0;
  const double due = recorded * rate;
  std::printf("capture recording: %s at %d fps, mp4 profile (mpeg4 + aac), %.0f s, %ld processors\n", size.c_str(),
              rate, seconds, cpus);
  std::printf("  load average before / after:   %s / %s\n", loadBefore.c_str(), LoadAverage().c_str());
  if (result.Exception) std::printf("  the run failed: %s\n", result.ExceptionMsg.c_str());
  std::printf("  recorded (first read to stop): %.2f s\n", recorded);
  std::printf("  frames due:                    %.0f\n", due);
  std::printf("  frames written:                %d (%.1f%% of due), output time %.2f s\n", written,
              due > 0 ? 100.0 * written / due : 0.0, static_cast<double>(outputTime) / 1e6);
  std::printf("  frames lost by the grabber:    %d (and %d more while the run ended)\n", figures.Lost,
              figures.LostAfterStop);
  std::printf("  frames dropped, full buffer:   %d\n", figures.GrabberDrops);
  std::printf("  frames dropped / duplicated by the constant-rate output: %d / %d\n", figures.Drop, figures.Dup);
  std::printf("  CPU, this process:             %.1f s = %.0f%% of one processor\n", cpu, 100.0 * cpu / wall);
  if (xvfb) std::printf("  CPU, the X server:             %.1f s = %.0f%% of one processor\n", xCpu, 100.0 * xCpu / wall);
  std::printf("  last report: %s\n", figures.FinalLine.c_str());
  std::remove(file.c_str());
  rmdir(dir);
  logger.SetOnLog(nullptr);
  return result.Exception ? 1 : 0;
}
