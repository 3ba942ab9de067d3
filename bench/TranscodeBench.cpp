// The engine's own overhead: a raw BGRA source encoded through a whole task
// (demuxer, filter graph, encoder, muxer) with the recorder's mp4 and mkv
// video settings, beside the same encode done by hand in this process
// (swscale to yuv420p, the encoder, the muxer).
//
// Counters: fps (frames per wall-clock second), cpu_s_per_frame (process CPU
// time per frame, all threads), and for the engine runs overhead_ratio =
// engine CPU per frame / direct CPU per frame of the same case.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FFLoad/FFLoad.h"
#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

using namespace vexa;

constexpr int kFrames = 24;
constexpr int kFps = 25;

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct TCase {
  int Width;
  int Height;
  bool Mkv;  // libx264 in Matroska; else MPEG-4 in MP4
};

std::string TempName(const std::string& name) { return "/tmp/vexa-bench-" + std::to_string(getpid()) + "-" + name; }

// The source: kFrames BGRA frames with a moving pattern.
const std::vector<uint8_t>& Source(int w, int h) {
  static std::map<std::pair<int, int>, std::vector<uint8_t>> cache;
  auto& data = cache[{w, h}];
  if (data.empty()) {
    data.resize(static_cast<size_t>(w) * h * 4 * kFrames);
    for (int n = 0; n < kFrames; ++n)
      for (int y = 0; y < h; ++y) {
        uint8_t* row = data.data() + (static_cast<size_t>(n) * h + y) * w * 4;
        for (int x = 0; x < w; ++x) {
          row[x * 4 + 0] = static_cast<uint8_t>(x + 3 * n);
          row[x * 4 + 1] = static_cast<uint8_t>(y + n);
          row[x * 4 + 2] = static_cast<uint8_t>((x ^ y) + 5 * n);
          row[x * 4 + 3] = 255;
        }
      }
  }
  return data;
}

std::string SourceFile(int w, int h) {
  const std::string path = TempName(std::to_string(w) + "x" + std::to_string(h) + ".bgra");
  static std::map<std::string, bool> written;
  if (!written[path]) {
    const auto& data = Source(w, h);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    written[path] = true;
  }
  return path;
}

std::string Threads() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 1 ? "  -threads " + std::to_string(n) : "";
}

// The video part of the recorder's output line for the format.
std::string OutputLine(const TCase& c) {
  const std::string size = " -s " + std::to_string(c.Width) + "x" + std::to_string(c.Height);
  if (c.Mkv) return size + " -pix_fmt yuv420p  -c:v libx264  -an -sn -b:v 768k -qscale 6 " + Threads() + "   -vsync 1 ";
  return " -c:v mpeg4" + size + " -an -sn -b:v 768k -qscale 6 " + Threads() + "   -vsync 1 ";
}

std::map<std::string, double> gDirectCpuPerFrame;

std::string Key(const TCase& c) {
  return std::to_string(c.Width) + "x" + std::to_string(c.Height) + (c.Mkv ? "mkv" : "mp4");
}

void RunEngine(const TCase& c) {
  TCustomFFmpeg task;
  task.BuildOptionTable();
  TFileOptions o;
  task.InitFileOptions(o);
  const std::string in = " -f rawvideo -pix_fmt bgra -s " + std::to_string(c.Width) + "x" + std::to_string(c.Height) +
                         " -r " + std::to_string(kFps);
  if (task.OpenInputFile(o, in, SourceFile(c.Width, c.Height)) < 0) throw std::runtime_error(task.LastErrorText);
  task.FreeFileOptions(o);
  task.InitFileOptions(o);
  if (task.OpenOutputFile(o, OutputLine(c), false, TempName(c.Mkv ? "engine.mkv" : "engine.mp4")) < 0)
    throw std::runtime_error(task.LastErrorText);
  task.FreeFileOptions(o);
  task.Start(false);
  if (task.ExceptionRaised) throw std::runtime_error(task.ExceptionMsg);
}

// The same encode without the engine.
void RunDirect(const TCase& c) {
  const auto& data = Source(c.Width, c.Height);
  const std::string out = TempName(c.Mkv ? "direct.mkv" : "direct.mp4");
  AVFormatContext* oc = nullptr;
  if (avformat_alloc_output_context2(&oc, nullptr, nullptr, out.c_str()) < 0) throw std::runtime_error("muxer");
  const AVCodec* codec = avcodec_find_encoder_by_name(c.Mkv ? "libx264" : "mpeg4");
  AVCodecContext* enc = avcodec_alloc_context3(codec);
  enc->width = c.Width;
  enc->height = c.Height;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = AVRational{1, kFps};
  enc->framerate = AVRational{kFps, 1};
  enc->bit_rate = 768000;
  enc->flags |= AV_CODEC_FLAG_QSCALE;
  enc->global_quality = 6 * FF_QP2LAMBDA;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "threads", "auto", 0);
  if (avcodec_open2(enc, codec, &opts) < 0) throw std::runtime_error("encoder");
  av_dict_free(&opts);
  AVStream* st = avformat_new_stream(oc, nullptr);
  avcodec_parameters_from_context(st->codecpar, enc);
  st->time_base = enc->time_base;
  avio_open(&oc->pb, out.c_str(), AVIO_FLAG_WRITE);
  if (avformat_write_header(oc, nullptr) < 0) throw std::runtime_error("header");

  SwsContext* sws = sws_getContext(c.Width, c.Height, AV_PIX_FMT_BGRA, c.Width, c.Height, AV_PIX_FMT_YUV420P,
                                   SWS_BICUBIC, nullptr, nullptr, nullptr);
  AVFrame* frame = av_frame_alloc();
  frame->width = c.Width;
  frame->height = c.Height;
  frame->format = AV_PIX_FMT_YUV420P;
  av_frame_get_buffer(frame, 0);
  AVPacket* pkt = av_packet_alloc();
  auto drain = [&] {
    while (avcodec_receive_packet(enc, pkt) == 0) {
      av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
      pkt->stream_index = 0;
      av_interleaved_write_frame(oc, pkt);
    }
  };
  const size_t frameBytes = static_cast<size_t>(c.Width) * c.Height * 4;
  for (int n = 0; n < kFrames; ++n) {
    av_frame_make_writable(frame);
    const uint8_t* src[1] = {data.data() + frameBytes * n};
    const int srcStride[1] = {c.Width * 4};
    sws_scale(sws, src, srcStride, 0, c.Height, frame->data, frame->linesize);
    frame->pts = n;
    avcodec_send_frame(enc, frame);
    drain();
  }
  avcodec_send_frame(enc, nullptr);
  drain();
  av_write_trailer(oc);
  av_packet_free(&pkt);
  av_frame_free(&frame);
  sws_freeContext(sws);
  avcodec_free_context(&enc);
  avio_closep(&oc->pb);
  avformat_free_context(oc);
}

void Report(benchmark::State& state, double cpu, double wall, const TCase& c, bool engine) {
  const double frames = static_cast<double>(state.iterations()) * kFrames;
  const double cpuPerFrame = cpu / frames;
  state.counters["fps"] = frames / wall;
  state.counters["cpu_s_per_frame"] = cpuPerFrame;
  if (engine) {
    const auto it = gDirectCpuPerFrame.find(Key(c));
    if (it != gDirectCpuPerFrame.end() && it->second > 0) state.counters["overhead_ratio"] = cpuPerFrame / it->second;
  } else {
    gDirectCpuPerFrame[Key(c)] = cpuPerFrame;
  }
}

void Bench(benchmark::State& state, TCase c, bool engine) {
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
    SourceFile(c.Width, c.Height);
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
      const double cpu0 = CpuSeconds();
      timespec w0{}, w1{};
      clock_gettime(CLOCK_MONOTONIC, &w0);
      if (engine)
        RunEngine(c);
      else
        RunDirect(c);
      clock_gettime(CLOCK_MONOTONIC, &w1);
      cpu += CpuSeconds() - cpu0;
      wall += (w1.tv_sec - w0.tv_sec) + (w1.tv_nsec - w0.tv_nsec) / 1e9;
    }
    Report(state, cpu, wall, c, engine);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void RegisterAll() {
  for (const TCase c : {TCase{1280, 720, false}, TCase{1280, 720, true}, TCase{1920, 1080, false},
                        TCase{1920, 1080, true}}) {
    const std::string name = std::to_string(c.Width) + "x" + std::to_string(c.Height) + (c.Mkv ? "/mkv" : "/mp4");
    benchmark::RegisterBenchmark(("Direct/" + name).c_str(), Bench, c, false)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(2.0);
    benchmark::RegisterBenchmark(("Engine/" + name).c_str(), Bench, c, true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(2.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const char* name : {"1280x720.bgra", "1920x1080.bgra", "engine.mkv", "engine.mp4", "direct.mkv", "direct.mp4"})
    std::remove(TempName(name).c_str());
  return 0;
}
