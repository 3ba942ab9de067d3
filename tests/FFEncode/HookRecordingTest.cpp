// A screen recording through "gdicapture" with a video input hook that draws
// on every frame: the drawing is in every frame of the file, and the hook
// costs no frames beyond what the same recording loses without it.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>

#include "EncoderTestSupport.h"
#include "FFEncode/FFEncode.h"
#include "GDICapture/CaptureFormat.h"
#include "GDICapture/CaptureTestSupport.h"
#include "Support/LogRecorder.h"
#include "Support/MediaFixtures.h"
#include "Support/MediaOpen.h"

namespace vexa::test {
namespace {

struct TRun {
  int HookCalls = 0;
  int Lost = 0;         // frames lost or dropped by the grabber and the constant-rate output
  int64_t Frames = 0;   // frames in the file
  int FramesDrawn = 0;  // frames of the file with the hook's rectangle
};

// Luma of (x, y) in every frame of the file's video.
std::vector<int> LumaOfEveryFrame(const std::string& path, int x, int y) {
  std::vector<int> values;
  TInputPtr in = OpenMediaInput(path);
  if (!in) return values;
  const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return values;
  TCodecPtr dec = OpenDecoder(in->streams[index]);
  TPacketPtr pkt(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  auto drain = [&] {
    while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
      values.push_back(frame->data[0][y * frame->linesize[0] + x]);
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == index) avcodec_send_packet(dec.get(), pkt.get());
    av_packet_unref(pkt.get());
    drain();
  }
  avcodec_send_packet(dec.get(), nullptr);
  drain();
  return values;
}

TRun Record(const std::string& path, bool withHook) {
  TRun run;
  TLogRecorder log(llDebug);
  TFFEncoder encoder;
  EXPECT_TRUE(encoder.LoadLibraries("")) << encoder.LastErrMsg();
  RegisterCaptureInput();
  std::atomic<bool> ended{false};
  encoder.SetOnTerminate([&](void*, const TTerminateInfo& info) {
    if (info.TaskIndex < 0) ended = true;
  });
  encoder.SetOnVideoInputHook([&](void*, PHookInfo info) {
    ++run.HookCalls;
    TBitmap& bitmap = *info->Bitmap;
    for (int y = 8; y < 48; ++y) memset(bitmap.ScanLine(y) + 8 * 4, 0xff, 120 * 4);
  });
  TInputOptions in;
  InitInputOptions(&in);
  in.FileOptions = " -f gdicapture  -capture_offset 0,0  -s 320x240 -r 15 ";
  const int task = encoder.AddTask("video=0", &in);
  EXPECT_EQ(task, 0) << encoder.LastErrMsg();
  if (task != 0) return run;
  TOutputOptions out;
  InitOutputOptions(&out);
  out.FileOptions = " -c:v mpeg4 -s 320x240 -b:v 768k -qscale 6 -vsync 1 ";
  out.VideoInputHook = withHook;
  EXPECT_GE(encoder.SetOutput(task, path, &out), 0) << encoder.LastErrMsg();
  encoder.StartTask(1);
  PumpFor(2500);
  encoder.Stop(true);
  EXPECT_TRUE(PumpUntil([&] { return ended.load(); }, 20000));
  run.Lost = encoder.Tasks().Items(0)->DropCount;
  const std::regex lost("We lost (\\d+) frames");
  for (const std::string& line : log.Messages()) {
    std::smatch m;
    if (std::regex_search(line, m, lost)) run.Lost += std::stoi(m[1]);
    if (line.find("frame dropped!") != std::string::npos) ++run.Lost;
  }
  const std::vector<int> luma = LumaOfEveryFrame(path, 60, 28);
  run.Frames = static_cast<int64_t>(luma.size());
  for (int v : luma)
    if (v > 200) ++run.FramesDrawn;
  return run;
}

TEST(HookRecordingTest, HookDrawsOnEveryFrameAndCostsNoFrames) {
  VEXA_REQUIRE_DISPLAY();
  MovePointer(1000, 700);  // the cursor stays out of the picture
  TTempDir dir;
  const TRun plain = Record(dir.Path("plain.mkv"), false);
  const TRun hooked = Record(dir.Path("hooked.mkv"), true);
  EXPECT_EQ(plain.HookCalls, 0);
  EXPECT_EQ(plain.FramesDrawn, 0);
  ASSERT_GT(hooked.Frames, 25);
  EXPECT_EQ(hooked.FramesDrawn, hooked.Frames);
  EXPECT_GE(hooked.HookCalls, hooked.Frames - hooked.Lost);
  // A loaded machine may lose a frame in either run; the hook must not add
  // losses of its own.
  EXPECT_LE(hooked.Lost, plain.Lost + 2) << "plain " << plain.Lost << ", hooked " << hooked.Lost;
  RecordProperty("lost_without_hook", plain.Lost);
  RecordProperty("lost_with_hook", hooked.Lost);
  std::printf("frames: %lld without hook, %lld with; lost: %d without, %d with\n",
              static_cast<long long>(plain.Frames), static_cast<long long>(hooked.Frames), plain.Lost, hooked.Lost);
}

}  // namespace
}  // namespace vexa::test
