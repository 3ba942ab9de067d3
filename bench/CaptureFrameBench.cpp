// Cost of one captured frame of the "gdicapture" input: the screen copy, the
// cursor drawn into it and the packet queued (allocation and copy), on the
// whole screen. Run on a 1920x1080 screen:
//   VEXA_TEST_SCREEN=1920x1080x24 scripts/test-env.sh build/release/bench/bench_GDICapture
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <string>

#include "Base/ProgramFormats.h"
#include "GDICapture/CaptureContext.h"
#include "GDICapture/CaptureFormat.h"
#include "GDICapture/ScreenSource.h"
#include "GDICapture/ScreenThread.h"

namespace {

using vexa::TCaptureContext;
using vexa::TCaptureOptions;

class TOpenInput {
 public:
  explicit TOpenInput(const char* flags) {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "capture_flags", flags, 0);
    Result = vexa::OpenProgramInput(&S, vexa::CaptureInputFormat(), "video=0", &options);
    av_dict_free(&options);
  }
  ~TOpenInput() { vexa::CloseProgramInput(&S, vexa::CaptureInputFormat()); }
  TCaptureContext& Context() { return *static_cast<TCaptureOptions*>(S->priv_data)->Context; }
  AVFormatContext* S = nullptr;
  int Result = -1;
};

void Capture(benchmark::State& state, const char* flags) {
  if (!std::getenv("DISPLAY")) {
    state.SkipWithError("no DISPLAY: run under scripts/test-env.sh");
    return;
  }
  TOpenInput input(flags);
  if (input.Result < 0) {
    state.SkipWithError("open failed");
    return;
  }
  // The input's own grabber idles until a read starts it; the frames here
  // are taken by the benchmark thread, one pass each.
  TCaptureContext& c = input.Context();
  for (auto _ : state) {
    if (!vexa::TScreenThread::CaptureFrame(c)) {
      state.SkipWithError("capture failed");
      break;
    }
    state.PauseTiming();
    c.Queue.Clear();
    state.ResumeTiming();
  }
  state.counters["width"] = c.Width;
  state.counters["height"] = c.Height;
  state.counters["MiB/frame"] = c.FrameBytes / 1048576.0;
}

void BM_CaptureFrame(benchmark::State& state) { Capture(state, "+cursor"); }
void BM_CaptureFrameNoCursor(benchmark::State& state) { Capture(state, "0"); }

}  // namespace

BENCHMARK(BM_CaptureFrame)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_CaptureFrameNoCursor)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

BENCHMARK_MAIN();
