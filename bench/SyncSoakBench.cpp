// A long recording with the recorder's default line (800x600 at 15 fps, mp4,
// sound from the default source) of a square that flashes every 5 s while a
// beep plays through the same sound server: how far each beep lands from its
// flash in the file, from start to end; memory at start and end; frames
// lost; the time from Stop to the closed file.
//
//   scripts/test-env.sh build/release/bench/bench_SyncSoak [SECONDS=1800]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/time.h>
}

#include "Base/MainThread.h"
#include "FFEncode/FFEncode.h"
#include "FFEncode/SyncProbe.h"
#include "FFLog/FFLog.h"
#include "GDICapture/CaptureFormat.h"
#include "GDICapture/CaptureTestSupport.h"

namespace {

constexpr int kLeft = 100, kTop = 80, kWidth = 800, kHeight = 600;
constexpr int kSquareX = 368, kSquareY = 268, kSquareSize = 64;  // frame coordinates
constexpr int kFlashEveryMs = 5000;

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

// Least-squares slope of y over x.
double Slope(const std::vector<double>& x, const std::vector<double>& y) {
  const double n = static_cast<double>(x.size());
  double mx = 0, my = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    mx += x[i] / n;
    my += y[i] / n;
  }
  double sxx = 0, sxy = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  return sxx > 0 ? sxy / sxx : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1800.0;
  if (!vexa::test::HaveDisplay() || !vexa::test::HaveSound() || seconds < 20) {
    std::fprintf(stderr, "usage (under scripts/test-env.sh): bench_SyncSoak [SECONDS >= 20]\n");
    return 2;
  }
  vexa::test::TTonePlayer& player = vexa::test::SharedPlayer();
  for (int i = 0; i < 100 && !player.Ok(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!player.Ok()) {
    std::fprintf(stderr, "bench_SyncSoak: no playback into the sink\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the sink's latency settles
  vexa::test::TTestWindow background(kLeft - 20, kTop - 20, kWidth + 40, kHeight + 40, 0x606060);
  vexa::test::TFlashSquare square(kLeft + kSquareX, kTop + kSquareY, kSquareSize);
  vexa::test::MovePointer(1, 1);

  std::mutex lock;
  int lost = 0;
  std::string finalLine;
  std::atomic<int64_t> stopAt{0};
  vexa::TFFLogger& logger = vexa::GetFFLogger();
  logger.SetTriggerEventInMainThread(false);
  logger.SetLogLevel(vexa::llDebug);
  const std::regex lostRe("We lost (\\d+) frames");
  std::vector<std::string> clockLines;
  logger.SetOnLog([&](const void*, uint32_t, vexa::TLogLevel level, const std::string& msg) {
    std::smatch m;
    std::lock_guard<std::mutex> guard(lock);
    if (msg.rfind("wave clock", 0) == 0) clockLines.push_back(msg);
    if (level > vexa::llInfo) return;
    if (std::regex_search(msg, m, lostRe) && !stopAt.load()) lost += std::stoi(m[1]);
    if (msg.find("Lsize=") != std::string::npos) finalLine = msg;
  });

  vexa::TFFEncoder encoder;
  if (!encoder.LoadLibraries("")) {
    std::fprintf(stderr, "bench_SyncSoak: %s\n", encoder.LastErrMsg().c_str());
    return 1;
  }
  vexa::RegisterCaptureInput();
  std::atomic<bool> ended{false};
  vexa::TTerminateInfo result;
  int64_t endedAt = 0;
  encoder.SetOnTerminate([&](void*, const vexa::TTerminateInfo& info) {
    if (info.TaskIndex >= 0) {
      result = info;
    } else {
      endedAt = av_gettime();
      ended.store(true);
    }
  });
  vexa::TInputOptions in;
  vexa::InitInputOptions(&in);
  in.FileOptions = " -f gdicapture  -capture_offset " + std::to_string(kLeft) + "," + std::to_string(kTop) +
                   " -capture_flags +showframe+client+cursor  -s 800x600 -r 15 -ar 44100 -ac 2 -sample_fmt s16 ";
  const int task = encoder.AddTask("video=0:audio=-1", &in);
  char dir[] = "/tmp/vexa-soak.XXXXXX";
  if (task < 0 || !mkdtemp(dir)) {
    std::fprintf(stderr, "bench_SyncSoak: %s\n", encoder.LastErrMsg().c_str());
    return 1;
  }
  const std::string file = std::string(dir) + "/soak.mp4";
  vexa::TOutputOptions out;
  vexa::InitOutputOptions(&out);
  out.FileOptions = " -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6   -async 1 -vsync 1 ";
  if (encoder.SetOutput(task, file, &out) < 0) {
    std::fprintf(stderr, "bench_SyncSoak: %s\n", encoder.LastErrMsg().c_str());
    return 1;
  }

  const std::string loadBefore = LoadAverage();
  encoder.StartTask(1);
  const int64_t started = av_gettime();
  long rssStart = 0, rssPeak = 0;
  std::vector<double> lateness;  // per flash: flash start - the beep's heard time, s
  int64_t nextFlash = started + 2000000;
  while (av_gettime() - started < static_cast<int64_t>(seconds * 1e6)) {
    vexa::CheckSynchronize(20);
    const int64_t now = av_gettime();
    if (!rssStart && now - started > 60000000) rssStart = RssKb();
    rssPeak = std::max(rssPeak, RssKb());
    if (now < nextFlash || now - started > static_cast<int64_t>(seconds * 1e6) - 2000000) continue;
    nextFlash += kFlashEveryMs * 1000LL;
    const int64_t heard = player.Beep(1000, 150);
    int64_t t;
    while ((t = av_gettime()) < heard) vexa::CheckSynchronize(1);
    square.FlashAt(t);
    lateness.push_back(static_cast<double>(t - heard) / 1e6);
  }
  const long rssEnd = RssKb();
  const int64_t stop = av_gettime();
  stopAt.store(stop);
  encoder.Stop(false);
  while (!ended.load()) vexa::CheckSynchronize(20);
  const double stopToClosed = static_cast<double>(endedAt - stop) / 1e6;

  const vexa::test::TSyncMarks marks = vexa::test::ReadSyncMarks(file, kSquareX, kSquareY, kSquareSize, 0);
  const std::vector<double> offsets = vexa::test::BeepAfterFlash(marks);
  std::vector<double> times, values;
  for (size_t i = 0; i < offsets.size(); ++i) {
    if (std::isnan(offsets[i])) continue;
    // The flash began `lateness` after the beep was heard: count from that.
    const double late = i < lateness.size() ? lateness[i] : 0;
    times.push_back(marks.Flashes[i]);
    values.push_back((offsets[i] + late) * 1000);
  }
  std::printf("sync soak: %.0f s, 800x600 at 15 fps, mp4 (mpeg4 + aac), default source, flash + beep every %d s\n",
              seconds, kFlashEveryMs / 1000);
  std::printf("  load average before / after:   %s / %s\n", loadBefore.c_str(), LoadAverage().c_str());
  if (result.Exception) std::printf("  the run failed: %s\n", result.ExceptionMsg.c_str());
  std::printf("  file: %d frames, video to %.1f s, sound to %.1f s, %d decode errors\n", marks.VideoFrames,
              marks.VideoEnd, marks.AudioEnd, marks.DecodeErrors);
  std::printf("  flashes %zu, beeps %zu, paired %zu\n", marks.Flashes.size(), marks.Beeps.size(), values.size());
  if (values.size() >= 6) {
    auto mean = [](std::vector<double>::const_iterator a, std::vector<double>::const_iterator b) {
      double s = 0;
      for (auto i = a; i != b; ++i) s += *i;
      return s / static_cast<double>(b - a);
    };
    std::printf("  beep - flash at the start (first 3):  %+.1f ms\n", mean(values.begin(), values.begin() + 3));
    std::printf("  beep - flash at the end (last 3):     %+.1f ms\n", mean(values.end() - 3, values.end()));
    std::printf("  beep - flash, least / most:           %+.1f / %+.1f ms\n",
                *std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end()));
    std::printf("  drift (least squares):                %+.2f ms per 10 minutes\n", Slope(times, values) * 600);
    std::printf("  every offset (file time s: ms):");
    for (size_t i = 0; i < values.size(); ++i) std::printf("%s %.0f:%+.1f", i % 8 ? "" : "\n   ", times[i], values[i]);
    std::printf("\n");
  }
  std::printf("  memory (RSS) at 60 s / at the end / peak: %ld / %ld / %ld kB\n", rssStart, rssEnd, rssPeak);
  std::printf("  frames lost by the grabber:    %d\n", lost);
  std::printf("  Stop -> file closed:           %.2f s\n", stopToClosed);
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!clockLines.empty()) std::printf("  sound clock (last report):     %s\n", clockLines.back().c_str());
    std::printf("  last report: %s\n", finalLine.c_str());
  }
  logger.SetOnLog(nullptr);
  std::remove(file.c_str());
  rmdir(dir);
  return result.Exception ? 1 : 0;
}
