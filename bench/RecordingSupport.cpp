#include "RecordingSupport.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>

extern "C" {
#include <libavutil/time.h>
}

#include "Base/MainThread.h"
#include "FFEncode/FFEncode.h"
#include "FFLog/FFLog.h"
#include "GDICapture/CaptureFormat.h"

namespace vexabench {

TSquare MovingSquare(long n, int width, int height) {
  const int box = height / 4;
  const int span = width - box;
  const int x = span > 0 ? static_cast<int>(n * 12 % (2 * span)) : 0;
  return TSquare{x < span ? x : 2 * span - x, (height - box) / 2, box,
                 0xe0c020 + static_cast<unsigned long>(n % 64)};
}

TMovingPicture::TMovingPicture(int fps) {
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
    for (long frame = 0; !Quit_.load(); ++frame) {
      const TSquare s = MovingSquare(frame, Width_, Height_);
      XSetForeground(Display_, Gc_, kMovingPictureBackground);
      XFillRectangle(Display_, Window_, Gc_, 0, 0, static_cast<unsigned>(Width_), static_cast<unsigned>(Height_));
      XSetForeground(Display_, Gc_, s.Colour);
      XFillRectangle(Display_, Window_, Gc_, s.X, s.Y, static_cast<unsigned>(s.Size), static_cast<unsigned>(s.Size));
      XSync(Display_, False);
      due += period;
      std::this_thread::sleep_until(due);
    }
  });
}

TMovingPicture::~TMovingPicture() {
  if (!Display_) return;
  Quit_.store(true);
  Thread_.join();
  XFreeGC(Display_, Gc_);
  XDestroyWindow(Display_, Window_);
  XCloseDisplay(Display_);
}

const char* ProfileName(TProfile p) {
  static const char* const names[] = {"mp4", "swf", "flv", "wmv", "mkv", "avi", "webm"};
  return names[p];
}

const char* ProfileExtension(TProfile p) {
  static const char* const extensions[] = {".mp4", ".swf", ".flv", ".wmv", ".mkv", ".avi", ".webm"};
  return extensions[p];
}

std::string RecorderInputLine(const std::string& size, int rate, bool audio) {
  std::string line = " -f gdicapture  -capture_offset 0,0 -capture_flags +showframe+client+cursor  -s " + size +
                     " -r " + std::to_string(rate);
  if (audio) line += " -ar 44100 -ac 2 -sample_fmt s16 ";
  return line;
}

std::string RecorderOutputLine(TProfile p, const std::string& size, bool audio, bool realTime) {
  // The recorder's own table; mp4's sound encoder is the libraries' aac.
  static const char* const codecs[] = {"",
                                       " -c:a libmp3lame",
                                       " -c:a libmp3lame",
                                       " -c:v wmv2 -c:a wmav2",
                                       " -pix_fmt yuv420p  -c:v libx264 ",
                                       " -c:v rawvideo",
                                       " -f webm  -c:v libvpx -c:a libvorbis"};
  // Live capture: encoder settings that keep up with the screen.
  static const char* const realTimeOptions[] = {"", "", "", "", " -preset superfast ", "",
                                                " -deadline realtime -cpu-used 8 "};
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  std::string line = p == pfMp4 ? " -c:v mpeg4 -c:a aac" : "";
  line += " -s " + size + codecs[p];
  if (realTime) line += realTimeOptions[p];
  line += " -ac 2 ";
  if (audio) line += " -b:a 128k -ar 44100";
  line += " -sn -b:v 768k -qscale 6 ";
  if (cpus > 1) line += "  -threads " + std::to_string(cpus);
  line += "   -async 1 -vsync 1 ";
  return line;
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

namespace {

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

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  return 0;
}

// Starts a new peak of resident memory (VmHWM).
void ResetPeakMemory() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

struct TLogFigures {
  std::mutex Lock;
  int64_t CaptureStart = 0;  // av_gettime of the first read of the input
  int Lost = 0;
  std::atomic<int64_t> StopAt{0};
  int GrabberDrops = 0;
  int Dup = 0, Drop = 0;
  std::string FinalLine;
};

}  // namespace

TRecordingFigures Record(TProfile p, const std::string& size, int rate, double seconds, bool audio, bool realTime) {
  TRecordingFigures r;
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
    const int64_t stop = figures.StopAt.load();
    const bool beforeStop = !stop || av_gettime() < stop;
    if (beforeStop && std::regex_search(msg, m, lost)) figures.Lost += std::stoi(m[1]);
    if (beforeStop && msg.find("frame dropped!") != std::string::npos) ++figures.GrabberDrops;
    if (msg.find("Lsize=") != std::string::npos) {
      figures.FinalLine = msg;
      if (std::regex_search(msg, m, dupDrop)) {
        figures.Dup = std::stoi(m[1]);
        figures.Drop = std::stoi(m[2]);
      }
    }
  });

  auto fail = [&](const std::string& text) {
    r.Failed = true;
    r.Error = text;
    logger.SetOnLog(nullptr);
    return r;
  };

  vexa::TFFEncoder encoder;
  if (!encoder.LoadLibraries("")) return fail(encoder.LastErrMsg());
  vexa::RegisterCaptureInput();
  int written = 0;
  bool ended = false;
  vexa::TTerminateInfo result;
  encoder.SetOnProgress([&](void*, vexa::PProgressInfo info) {
    if (info->FileIndex == -1) written = info->FrameNumber;
  });
  encoder.SetOnTerminate([&](void*, const vexa::TTerminateInfo& info) {
    if (info.TaskIndex >= 0)
      result = info;
    else
      ended = true;
  });

  ResetPeakMemory();
  vexa::TInputOptions in;
  vexa::InitInputOptions(&in);
  in.FileOptions = RecorderInputLine(size, rate, audio);
  const int task = encoder.AddTask(audio ? "video=0:audio=-1" : "video=0", &in);
  if (task < 0) return fail(encoder.LastErrMsg());
  char dir[] = "/tmp/vexa-bench.XXXXXX";
  if (!mkdtemp(dir)) return fail("no temporary folder");
  const std::string file = std::string(dir) + "/recording" + ProfileExtension(p);
  vexa::TOutputOptions out;
  vexa::InitOutputOptions(&out);
  out.FileOptions = RecorderOutputLine(p, size, audio, realTime);
  if (encoder.SetOutput(task, file, &out) < 0) {
    rmdir(dir);
    return fail(encoder.LastErrMsg());
  }

  const int xvfb = FindXvfb();
  const double xCpu0 = xvfb ? CpuSecondsOf(xvfb) : 0;
  const double cpu0 = ProcessCpuSeconds();
  encoder.StartTask(1);
  const int64_t started = av_gettime();
  const int64_t length = static_cast<int64_t>(seconds * 1e6);
  while (av_gettime() - started < length) {
    vexa::CheckSynchronize(20);
    if (!r.RssEarlyKb && av_gettime() - started >= length / 4) r.RssEarlyKb = StatusKb("VmRSS");
  }
  r.RssLateKb = StatusKb("VmRSS");
  const int64_t stopAt = av_gettime();
  figures.StopAt.store(stopAt);
  encoder.Stop(true);
  while (!ended) vexa::CheckSynchronize(20);
  r.Cpu = ProcessCpuSeconds() - cpu0;
  r.XCpu = xvfb ? CpuSecondsOf(xvfb) - xCpu0 : 0;
  r.Wall = static_cast<double>(av_gettime() - started) / 1e6;
  r.PeakKb = StatusKb("VmHWM");
  logger.SetOnLog(nullptr);

  std::lock_guard<std::mutex> guard(figures.Lock);
  r.Recorded = figures.CaptureStart ? static_cast<double>(stopAt - figures.CaptureStart) / 1e6 : 0;
  r.Due = r.Recorded * rate;
  r.Written = written;
  r.Lost = figures.Lost;
  r.GrabberDrops = figures.GrabberDrops;
  r.Drop = figures.Drop;
  r.Dup = figures.Dup;
  r.FinalLine = figures.FinalLine;
  if (result.Exception) {
    r.Failed = true;
    r.Error = result.ExceptionMsg;
  }
  std::remove(file.c_str());
  rmdir(dir);
  return r;
}

}  // namespace vexabench
