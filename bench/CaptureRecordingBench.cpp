// Whole screen recordings with sound through the encoder component, one per
// profile of the recorder, with the recorder's lines: frames written against
// frames due, frames lost by the grabber, frames dropped (by the grabber's full
// buffer and by the output's constant rate), CPU per frame, peak memory and
// the resident memory early and late in the recording (flat when nothing
// piles up).
//
//   VEXA_TEST_SCREEN=1920x1080x24 scripts/test-env.sh build/release/bench/bench_CaptureRecording
//     [SECONDS] [RATE] [PROFILE...] [--plain]   (the arguments of the line above)
//
// PROFILE is mp4, swf, flv, wmv, mkv, avi or webm (all by default); --plain
// leaves out the real-time encoder settings of the live lines.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "RecordingSupport.h"

using namespace vexabench;

int main(int argc, char** argv) {
  double seconds = 15;
  int rate = 30;
  bool realTime = true;
  std::vector<TProfile> profiles;
  int number = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--plain")) {
      realTime = false;
      continue;
    }
    bool named = false;
    for (int p = 0; p < pfCount; ++p)
      if (!std::strcmp(argv[i], ProfileName(static_cast<TProfile>(p)))) {
        profiles.push_back(static_cast<TProfile>(p));
        named = true;
      }
    if (named) continue;
    if (number++ == 0)
      seconds = std::atof(argv[i]);
    else
      rate = std::atoi(argv[i]);
  }
  if (profiles.empty())
    for (int p = 0; p < pfCount; ++p) profiles.push_back(static_cast<TProfile>(p));
  if (!std::getenv("DISPLAY") || seconds <= 0 || rate <= 0) {
    std::fprintf(stderr,
                 "usage (under scripts/test-env.sh or on a desktop): bench_CaptureRecording [SECONDS] [RATE] "
                 "[PROFILE...] [--plain]\n");
    return 2;
  }
  TMovingPicture picture(rate);
  if (!picture.Ok()) {
    std::fprintf(stderr, "bench_CaptureRecording: cannot open the display\n");
    return 1;
  }
  const std::string size = std::to_string(picture.Width() / 2 * 2) + "x" + std::to_string(picture.Height() / 2 * 2);
  std::printf("capture recordings with sound: %s at %d fps, %.0f s each, %ld processors, %s lines\n", size.c_str(),
              rate, seconds, sysconf(_SC_NPROCESSORS_ONLN), realTime ? "real-time" : "plain");
  std::printf("%-5s %7s %7s %5s %6s %6s %6s %9s %8s %8s %8s %8s  %s\n", "", "due", "written", "lost", "bufdrop",
              "drop", "dup", "cpu/frame", "x cpu%", "peak MB", "rss 1/4", "rss end", "load");
  int failures = 0;
  for (TProfile p : profiles) {
    const TRecordingFigures r = Record(p, size, rate, seconds, true, realTime);
    if (r.Failed) {
      std::printf("%-5s the run failed: %s\n", ProfileName(p), r.Error.c_str());
      ++failures;
      continue;
    }
    std::printf("%-5s %7.0f %7d %5d %6d %6d %6d %7.2fms %7.0f%% %8.0f %8.0f %8.0f  %s\n", ProfileName(p), r.Due,
                r.Written, r.Lost, r.GrabberDrops, r.Drop, r.Dup, r.Written ? 1000.0 * r.Cpu / r.Written : 0.0,
                100.0 * r.XCpu / r.Wall, r.PeakKb / 1024.0, r.RssEarlyKb / 1024.0, r.RssLateKb / 1024.0,
                LoadAverage().c_str());
    std::fflush(stdout);
  }
  return failures ? 1 : 0;
}
