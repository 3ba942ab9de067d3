// Video hooks: the application draws on the converter's bitmap and the
// drawing reaches the encoded picture (input side before the filter graph,
// output side just before the encoder); Update, StopHook, handler
// exceptions, the hook depth; audio hooks change the samples in place.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "Support/MediaOpen.h"
#include "TranscodeTestSupport.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

namespace vexa::test {
namespace {

constexpr const char* kBlackBgra = "color=c=black:size=64x48:rate=25:duration=0.4,format=bgra";
constexpr const char* kBlackYuv = "color=c=black:size=64x48:rate=25:duration=0.4,format=yuv420p";

// Sets every byte of the rectangle (8..31, 8..31): white in each layout.
void DrawWhite(TBitmap& bitmap) {
  const int bytes = bitmap.BitsPerPixel() / 8;
  for (int y = 8; y < 32; ++y) memset(bitmap.ScanLine(y) + 8 * bytes, 0xff, static_cast<size_t>(24 * bytes));
}

bool IsWhite(const TRgb& c) { return c.R > 220 && c.G > 220 && c.B > 220; }
bool IsBlack(const TRgb& c) { return c.R < 35 && c.G < 35 && c.B < 35; }

struct TInputHookCase {
  const char* Name;
  std::function<void(TBitmap&, bool& update, bool& stop, int call)> Handler;
  bool Drawn;        // frame 5 shows the rectangle
  int Calls;         // calls of the handler
  int ErrorLines;    // "Error occurs VideoHook event: boom" lines
};

TEST(VideoHooksTest, InputHookDrawsOnTheEncodedPicture) {
  const TInputHookCase cases[] = {
      {"update", [](TBitmap& b, bool&, bool&, int) { DrawWhite(b); }, true, 10, 0},
      {"no update", [](TBitmap& b, bool& update, bool&, int) { DrawWhite(b); update = false; }, false, 10, 0},
      {"stop at once", [](TBitmap& b, bool&, bool& stop, int) { DrawWhite(b); stop = true; }, false, 1, 0},
      {"throws", [](TBitmap& b, bool&, bool&, int) { DrawWhite(b); throw std::runtime_error("boom"); }, false, 10,
       10},
  };
  for (const TInputHookCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    TTranscodeLog log;
    const std::string out = dir.Path("out.mkv");
    int calls = 0;
    {
      TTestTask task;
      ASSERT_TRUE(task.AddInput(kBlackBgra, "-f lavfi"));
      ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -qscale 2"), 0) << task.LastErrorText;
      task.VideoInputHook = [&](TCustomFFmpeg*, TBitmap* bitmap, bool& stop, bool& update, int64_t pts, int number) {
        ++calls;
        EXPECT_EQ(number, calls);
        EXPECT_EQ(pts, (calls - 1) * 40000);
        EXPECT_EQ(bitmap->Width(), 64);
        EXPECT_EQ(bitmap->Height(), 48);
        EXPECT_EQ(bitmap->Format(), TBitmapFormat::bf32bit);
        c.Handler(*bitmap, update, stop, calls);
      };
      task.RunInline();
      ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
      // The bgra picture has the bitmap's layout: no conversion ran.
      EXPECT_FALSE(task.HookConverter.Converted());
    }
    EXPECT_EQ(calls, c.Calls);
    EXPECT_EQ(log.Count("Error occurs VideoHook event: boom"), c.ErrorLines);
    const TRgb inside = PixelAt(out, 5, 20, 20);
    EXPECT_EQ(IsWhite(inside), c.Drawn) << inside.R << " " << inside.G << " " << inside.B;
    if (!c.Drawn) {
      EXPECT_TRUE(IsBlack(inside));
    }
    EXPECT_TRUE(IsBlack(PixelAt(out, 5, 50, 40)));
  }
}

// yuv420p pictures at every hook depth, chosen through the option line.
TEST(VideoHooksTest, EveryDepthConvertsThePictureBothWays) {
  for (int bits : {8, 15, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    TTempDir dir;
    TTranscodeLog log;
    const std::string out = dir.Path("out.mkv");
    int calls = 0;
    {
      TTestTask task;
      ASSERT_TRUE(task.AddInput(kBlackYuv, "-f lavfi"));
      ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -qscale 2 -VideoHookBitsPixel " + std::to_string(bits)), 0)
          << task.LastErrorText;
      task.VideoInputHook = [&](TCustomFFmpeg*, TBitmap* bitmap, bool&, bool&, int64_t, int) {
        ++calls;
        EXPECT_EQ(bitmap->BitsPixel(), bits);
        DrawWhite(*bitmap);
      };
      task.RunInline();
      ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
      EXPECT_TRUE(task.HookConverter.Converted());
    }
    EXPECT_EQ(calls, 10);
    EXPECT_TRUE(IsWhite(PixelAt(out, 5, 20, 20)));
    EXPECT_TRUE(IsBlack(PixelAt(out, 5, 50, 40)));
  }
}

TEST(VideoHooksTest, TwentyFourBitHookOnBgraPicture) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(kBlackBgra, "-f lavfi"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -qscale 2 -VideoHookBitsPixel 24"), 0) << task.LastErrorText;
    task.VideoInputHook = [&](TCustomFFmpeg*, TBitmap* bitmap, bool&, bool&, int64_t, int) {
      EXPECT_EQ(bitmap->Format(), TBitmapFormat::bf24bit);
      DrawWhite(*bitmap);
    };
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    EXPECT_TRUE(task.HookConverter.Converted());
  }
  EXPECT_TRUE(IsWhite(PixelAt(out, 5, 20, 20)));
}

TEST(VideoHooksTest, InvalidHookDepthFailsTheOption) {
  const std::pair<const char*, const char*> cases[] = {
      {"12", "Invalid BitsPixel 12"},
      {"x", "Expected integer for \"VideoHookBitsPixel\" but found \"x\""},
  };
  for (const auto& [value, message] : cases) {
    TTempDir dir;
    TTranscodeLog log;
    TTestTask task;
    task.StrictOptions = true;
    ASSERT_TRUE(task.AddInput(kBlackBgra, "-f lavfi"));
    EXPECT_LT(task.AddOutput(dir.Path("out.mkv"), std::string("-c:v mpeg4 -VideoHookBitsPixel ") + value), 0);
    EXPECT_NE(task.LastErrorText.find(message), std::string::npos) << task.LastErrorText;
    EXPECT_TRUE(log.Contains(message));
    EXPECT_EQ(task.HookConverter.BitsPixel(), 32);
  }
}

// The output hook works on a copy: duplicated frames (50 fps out of 25) come
// from the filter graph's frame, which must never show an earlier drawing.
TEST(VideoHooksTest, OutputHookChangesTheEncodedCopyOnly) {
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  int calls = 0;
  int drawnSeen = 0;
  int frameHookCalls = 0;
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(kBlackBgra, "-f lavfi"));
    ASSERT_GE(task.AddOutput(out, "-c:v mpeg4 -qscale 2 -pix_fmt yuv420p -r 50 -vsync 1"), 0) << task.LastErrorText;
    task.VideoOutputHook = [&](TCustomFFmpeg*, TBitmap* bitmap, bool&, bool&, int64_t pts, int number) {
      ++calls;
      EXPECT_EQ(number, calls);
      EXPECT_EQ(pts, (calls - 1) * 20000);
      if (bitmap->ScanLine(20)[20 * 4] > 128) ++drawnSeen;
      DrawWhite(*bitmap);
    };
    task.FrameOutputHook = [&](TCustomFFmpeg*, TAVPicture* picture, int64_t, int height, int width, int,
                               int pixFmt) {
      ++frameHookCalls;
      EXPECT_EQ(pixFmt, AV_PIX_FMT_YUV420P);
      EXPECT_EQ(width, 64);
      EXPECT_EQ(height, 48);
      EXPECT_NE(picture->Data[1], nullptr);
      EXPECT_NE(picture->Data[2], nullptr);
      EXPECT_GT(picture->Data[0][20 * picture->LineSize[0] + 20], 200);  // the video hook's drawing
    };
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  EXPECT_GE(calls, 19);  // every frame but the last one is repeated
  EXPECT_EQ(frameHookCalls, calls);
  EXPECT_EQ(drawnSeen, 0);
  EXPECT_TRUE(IsWhite(PixelAt(out, 7, 20, 20)));
  EXPECT_TRUE(IsBlack(PixelAt(out, 7, 50, 40)));
}

// The largest absolute sample of the file's audio (s16).
int PeakOf(const std::string& path) {
  TInputPtr input = OpenMediaInput(path);
  if (!input) throw std::runtime_error("cannot open " + path);
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  TCodecPtr dec = OpenDecoder(input->streams[index]);
  TPacketPtr pkt(av_packet_alloc());
  TFramePtr frame(av_frame_alloc());
  int peak = 0;
  auto drain = [&] {
    while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
      const auto* s = reinterpret_cast<const int16_t*>(frame->data[0]);
      for (int i = 0; i < frame->nb_samples * frame->ch_layout.nb_channels; ++i) peak = std::max(peak, std::abs(s[i]));
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(input.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == index) avcodec_send_packet(dec.get(), pkt.get());
    av_packet_unref(pkt.get());
    drain();
  }
  avcodec_send_packet(dec.get(), nullptr);
  drain();
  return peak;
}

TEST(VideoHooksTest, AudioHooksChangeTheSamplesInPlace) {
  enum TSide { kNone, kInput, kOutput };
  for (TSide side : {kNone, kInput, kOutput}) {
    SCOPED_TRACE(side);
    TTempDir dir;
    TTranscodeLog log;
    const std::string out = dir.Path("out.mkv");
    int calls = 0;
    {
      TTestTask task;
      ASSERT_TRUE(task.AddInput(LavfiAudio(22050, 2, 0.5), "-f lavfi"));
      ASSERT_GE(task.AddOutput(out, "-c:a pcm_s16le -sample_fmt s16"), 0) << task.LastErrorText;
      auto silence = [&](TCustomFFmpeg*, uint8_t* samples, int64_t pts, int size, int rate, int channels,
                         AVSampleFormat format) {
        EXPECT_GE(pts, 0);
        EXPECT_EQ(rate, 22050);
        EXPECT_EQ(channels, 2);
        EXPECT_EQ(size % (channels * av_get_bytes_per_sample(format)), 0);
        memset(samples, 0, static_cast<size_t>(size));
        ++calls;
      };
      if (side == kInput) task.AudioInputHook = silence;
      if (side == kOutput) task.AudioOutputHook = silence;
      task.RunInline();
      ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    }
    if (side == kNone) {
      EXPECT_GT(PeakOf(out), 1000);
    } else {
      EXPECT_GT(calls, 0);
      EXPECT_EQ(PeakOf(out), 0);
    }
  }
}

}  // namespace
}  // namespace vexa::test
