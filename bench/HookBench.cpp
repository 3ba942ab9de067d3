// The cost of the video input hook: a 1920x1080 BGRA source recorded with
// the recorder's mp4 video settings through a whole task, without a hook,
// with a hook that draws nothing and with one that fills a 400x40 rectangle.
// Each iteration runs the three one after the other (in turn-about order),
// so the ratios compare runs made under the same machine load.
//
// Counters: cpu_s_per_frame_none (process CPU per frame without a hook),
// ratio_empty and ratio_fill (CPU per frame with that hook / without).
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "FFLoad/FFLoad.h"
#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

namespace {

using namespace vexa;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 24;
constexpr int kFps = 25;

enum THook { kNone, kEmpty, kFill };

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::string TempName(const std::string& name) { return "/tmp/vexa-hookbench-" + std::to_string(getpid()) + "-" + name; }

// kFrames BGRA frames with a moving pattern.
std::string SourceFile() {
  static const std::string path = [] {
    const std::string name = TempName("source.bgra");
    FILE* f = fopen(name.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + name);
    std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 4);
    for (int n = 0; n < kFrames; ++n) {
      for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = frame.data() + static_cast<size_t>(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
          row[x * 4 + 0] = static_cast<uint8_t>(x + 3 * n);
          row[x * 4 + 1] = static_cast<uint8_t>(y + n);
          row[x * 4 + 2] = static_cast<uint8_t>((x ^ y) + 5 * n);
          row[x * 4 + 3] = 255;
        }
      }
      fwrite(frame.data(), 1, frame.size(), f);
    }
    fclose(f);
    return name;
  }();
  return path;
}

std::string Threads() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 1 ? "  -threads " + std::to_string(n) : "";
}

// One recording; returns its process CPU seconds.
double Run(THook hook) {
  TCustomFFmpeg task;
  task.BuildOptionTable();
  TFileOptions o;
  task.InitFileOptions(o);
  const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  const std::string in = " -f rawvideo -pix_fmt bgra -s " + size + " -r " + std::to_string(kFps);
  if (task.OpenInputFile(o, in, SourceFile()) < 0) throw std::runtime_error(task.LastErrorText);
  task.FreeFileOptions(o);
  task.InitFileOptions(o);
  const std::string out = " -c:v mpeg4 -s " + size + " -an -sn -b:v 768k -qscale 6 " + Threads() + "   -vsync 1 ";
  if (task.OpenOutputFile(o, out, false, TempName("out.mp4")) < 0) throw std::runtime_error(task.LastErrorText);
  task.FreeFileOptions(o);
  if (hook == kEmpty) task.VideoInputHook = [](TCustomFFmpeg*, TBitmap*, bool&, bool&, int64_t, int) {};
  if (hook == kFill)
    task.VideoInputHook = [](TCustomFFmpeg*, TBitmap* bitmap, bool&, bool&, int64_t, int) {
      for (int y = 100; y < 140; ++y) memset(bitmap->ScanLine(y) + 100 * 4, 0xff, 400 * 4);
    };
  const double cpu0 = CpuSeconds();
  task.Start(false);
  const double cpu = CpuSeconds() - cpu0;
  if (task.ExceptionRaised) throw std::runtime_error(task.ExceptionMsg);
  return cpu;
}

void Hooks(benchmark::State& state) {
  static const bool loaded = [] {
    avdevice_register_all();
    GetFFLogger().SetLogLevel(llError);
    return FFLoader().LoadLibs(EncoderLibs);
  }();
  if (!loaded) {
    state.SkipWithError("media libraries not loaded");
    return;
  }
  try {
    SourceFile();
    Run(kNone);  // warm-up: file cache, encoder tables
    double cpu[3] = {0, 0, 0};
    int turn = 0;
    for (auto _ : state) {
      const THook order[2][3] = {{kNone, kEmpty, kFill}, {kFill, kEmpty, kNone}};
      for (THook hook : order[turn++ % 2]) cpu[hook] += Run(hook);
    }
    const double frames = static_cast<double>(state.iterations()) * kFrames;
    state.counters["cpu_s_per_frame_none"] = cpu[kNone] / frames;
    state.counters["ratio_empty"] = cpu[kEmpty] / cpu[kNone];
    state.counters["ratio_fill"] = cpu[kFill] / cpu[kNone];
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

BENCHMARK(Hooks)->Name("Hooks/1920x1080/mp4")->Unit(benchmark::kSecond)->UseRealTime()->Iterations(6);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(TempName("source.bgra").c_str());
  std::remove(TempName("out.mp4").c_str());
  return 0;
}
