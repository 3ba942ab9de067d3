// What a recording costs beside its encoder: a whole-screen recording (video
// only) through the encoder component with the recorder's lines, and in the
// same run the same number of frames of the same kind of picture, already in
// yuv420p, through the encoder alone with the same settings. Prints the CPU per
// frame of both and their ratio, for the mp4 and the mkv profile.
//
//   VEXA_TEST_SCREEN=1920x1080x24 scripts/test-env.sh build/release/bench/bench_RecordingCost
//     [SECONDS] [RATE] [mp4] [mkv] [--plain]   (the arguments of the line above)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include "RecordingSupport.h"

using namespace vexabench;

namespace {

struct TFrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;

// BT.601 limited range, as the conversion of the recording gives.
void Yuv(unsigned long rgb, uint8_t& y, uint8_t& u, uint8_t& v) {
  const int r = static_cast<int>((rgb >> 16) & 0xff), g = static_cast<int>((rgb >> 8) & 0xff),
            b = static_cast<int>(rgb & 0xff);
  y = static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
  u = static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
  v = static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

void Fill(AVFrame* f, int plane, int x, int y, int w, int h, uint8_t value) {
  for (int row = y; row < y + h; ++row) std::memset(f->data[plane] + row * f->linesize[plane] + x, value, w);
}

// Frame n of the moving picture in yuv420p.
TFramePtr MovingFrame(long n, int width, int height) {
  TFramePtr f(av_frame_alloc());
  f->format = AV_PIX_FMT_YUV420P;
  f->width = width;
  f->height = height;
  if (av_frame_get_buffer(f.get(), 0) < 0) throw std::runtime_error("out of memory");
  uint8_t y, u, v;
  Yuv(kMovingPictureBackground, y, u, v);
  Fill(f.get(), 0, 0, 0, width, height, y);
  Fill(f.get(), 1, 0, 0, width / 2, height / 2, u);
  Fill(f.get(), 2, 0, 0, width / 2, height / 2, v);
  const TSquare s = MovingSquare(n, width, height);
  Yuv(s.Colour, y, u, v);
  Fill(f.get(), 0, s.X, s.Y, s.Size, s.Size, y);
  Fill(f.get(), 1, s.X / 2, s.Y / 2, s.Size / 2, s.Size / 2, u);
  Fill(f.get(), 2, s.X / 2, s.Y / 2, s.Size / 2, s.Size / 2, v);
  return f;
}

// The video settings of the profile's line, given to the encoder directly:
// CPU seconds for `frames` frames of the moving picture.
double EncodeAlone(TProfile p, int width, int height, int rate, int frames, bool realTime) {
  const AVCodec* codec = avcodec_find_encoder_by_name(p == pfMkv ? "libx264" : "mpeg4");
  if (!codec) throw std::runtime_error("no encoder");
  AVCodecContext* enc = avcodec_alloc_context3(codec);
  enc->width = width;
  enc->height = height;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = AVRational{1, rate};
  enc->framerate = AVRational{rate, 1};
  enc->sample_aspect_ratio = AVRational{1, 1};
  enc->bit_rate = 768000;
  enc->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_GLOBAL_HEADER;  // -qscale 6; mp4 and mkv want global headers
  enc->global_quality = 6 * FF_QP2LAMBDA;
  AVDictionary* opts = nullptr;
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  if (cpus > 1) av_dict_set_int(&opts, "threads", cpus, 0);
  // The same text as the line's, parsed the same way.
  const std::string line = RecorderOutputLine(p, "2x2", false, realTime);
  for (const char* key : {"preset", "tune", "deadline", "cpu-used"}) {
    const std::string option = std::string(" -") + key + " ";
    const size_t at = line.find(option);
    if (at == std::string::npos) continue;
    const size_t start = at + option.size();
    av_dict_set(&opts, key, line.substr(start, line.find(' ', start) - start).c_str(), 0);
  }
  if (avcodec_open2(enc, codec, &opts) < 0) throw std::runtime_error("cannot open the encoder");
  av_dict_free(&opts);

  // The pictures are made before the clock starts: one cycle of the square.
  const int distinct = std::min(frames, 2 * (width - height / 4) / 12);
  std::vector<TFramePtr> pictures;
  for (int n = 0; n < distinct; ++n) pictures.push_back(MovingFrame(n, width, height));

  AVPacket* pkt = av_packet_alloc();
  const double cpu0 = ProcessCpuSeconds();
  auto drain = [&] {
    while (avcodec_receive_packet(enc, pkt) == 0) av_packet_unref(pkt);
  };
  for (int n = 0; n < frames; ++n) {
    AVFrame* f = pictures[static_cast<size_t>(n % distinct)].get();
    f->pts = n;
    f->quality = enc->global_quality;
    f->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(enc, f) < 0) throw std::runtime_error("encoding failed");
    drain();
  }
  avcodec_send_frame(enc, nullptr);
  drain();
  const double cpu = ProcessCpuSeconds() - cpu0;
  av_packet_free(&pkt);
  avcodec_free_context(&enc);
  return cpu;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 20;
  int rate = 30;
  bool realTime = true;
  std::vector<TProfile> profiles;
  int number = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--plain")) {
      realTime = false;
    } else if (!std::strcmp(argv[i], "mp4")) {
      profiles.push_back(pfMp4);
    } else if (!std::strcmp(argv[i], "mkv")) {
      profiles.push_back(pfMkv);
    } else if (number++ == 0) {
      seconds = std::atof(argv[i]);
    } else {
      rate = std::atoi(argv[i]);
    }
  }
  if (profiles.empty()) profiles = {pfMp4, pfMkv};
  if (!std::getenv("DISPLAY") || seconds <= 0 || rate <= 0) {
    std::fprintf(stderr,
                 "usage (under scripts/test-env.sh or on a desktop): bench_RecordingCost [SECONDS] [RATE] "
                 "[mp4] [mkv] [--plain]\n");
    return 2;
  }
  TMovingPicture picture(rate);
  if (!picture.Ok()) {
    std::fprintf(stderr, "bench_RecordingCost: cannot open the display\n");
    return 1;
  }
  const int width = picture.Width() / 2 * 2, height = picture.Height() / 2 * 2;
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  std::printf("recording cost against the encoder alone: %s at %d fps, %.0f s, video only, %ld processors, %s lines\n",
              size.c_str(), rate, seconds, sysconf(_SC_NPROCESSORS_ONLN), realTime ? "real-time" : "plain");
  int failures = 0;
  for (TProfile p : profiles) {
    const TRecordingFigures r = Record(p, size, rate, seconds, false, realTime);
    if (r.Failed || r.Written <= 0) {
      std::printf("%s: the recording failed: %s\n", ProfileName(p), r.Error.c_str());
      ++failures;
      continue;
    }
    const double recorder = r.Cpu / r.Written;
    try {
      const double alone = EncodeAlone(p, width, height, rate, r.Written, realTime) / r.Written;
      std::printf("%s: %d frames (%.0f due, %d lost, %d dropped by the grabber, %d by the output); recorder %.2f ms "
                  "CPU per frame, encoder alone %.2f ms, ratio %.2f; X server %.0f%% of a processor; load %s\n",
                  ProfileName(p), r.Written, r.Due, r.Lost, r.GrabberDrops, r.Drop, 1000 * recorder, 1000 * alone,
                  recorder / alone, 100.0 * r.XCpu / r.Wall, LoadAverage().c_str());
    } catch (const std::exception& e) {
      std::printf("%s: the encoder alone failed: %s\n", ProfileName(p), e.what());
      ++failures;
    }
    std::fflush(stdout);
  }
  return failures ? 1 : 0;
}
