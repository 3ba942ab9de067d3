#include "OptFixtures.h"

#include <cstddef>

#include "Base/ProgramFormats.h"
#include "Support/TestProgramFormat.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace vexa::test {

namespace {

struct TTestCaptureContext {
  const AVClass* Class;
  char* CaptureOffset;
  int CaptureFlags;
};

const AVOption CaptureOptions[] = {
    {"capture_offset", "capture offset", offsetof(TTestCaptureContext, CaptureOffset), AV_OPT_TYPE_STRING,
     {.str = nullptr}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"capture_flags", "capture flags", offsetof(TTestCaptureContext, CaptureFlags), AV_OPT_TYPE_FLAGS, {.i64 = 0},
     0, INT_MAX, AV_OPT_FLAG_DECODING_PARAM, "capture_flags"},
    {"showframe", "", 0, AV_OPT_TYPE_CONST, {.i64 = 1}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, "capture_flags"},
    {"client", "", 0, AV_OPT_TYPE_CONST, {.i64 = 2}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, "capture_flags"},
    {"cursor", "", 0, AV_OPT_TYPE_CONST, {.i64 = 4}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, "capture_flags"},
    {nullptr, nullptr, 0, AV_OPT_TYPE_CONST, {.i64 = 0}, 0, 0, 0, nullptr},
};

const AVClass CaptureClass =
    TestOptionClass("ScreenCaptureFormat", CaptureOptions, AV_CLASS_CATEGORY_DEVICE_VIDEO_INPUT);

TProgramInputFormat MakeCaptureFormat() {
  TProgramInputFormat f;
  f.Name = "gdicapture";
  f.LongName = "capture options stand-in";
  f.Flags = AVFMT_NOFILE;
  f.PrivClass = &CaptureClass;
  f.PrivDataSize = sizeof(TTestCaptureContext);
  return f;
}

const TProgramInputFormat CaptureFormat = MakeCaptureFormat();

}  // namespace

void RegisterTestCaptureFormat() { RegisterProgramInputFormat(&CaptureFormat); }

void AddInput(TCustomFFmpegOpt& engine, const std::vector<TStreamSpec>& streams) {
  auto file = std::make_unique<TInputFile>();
  file->FormatContext = avformat_alloc_context();
  ASSERT_NE(file->FormatContext, nullptr);
  file->FirstStreamIndex = static_cast<int>(engine.InputStreams.size());
  for (const TStreamSpec& desc : streams) {
    AVStream* st = avformat_new_stream(file->FormatContext, nullptr);
    ASSERT_NE(st, nullptr);
    st->codecpar->codec_type = desc.Type;
    if (desc.Type == AVMEDIA_TYPE_AUDIO) {
      st->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
      av_channel_layout_default(&st->codecpar->ch_layout, desc.Channels);
    } else if (desc.Type == AVMEDIA_TYPE_VIDEO) {
      st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
      st->r_frame_rate = desc.StreamRate;
    }
    auto stream = std::make_unique<TInputStream>();
    stream->FileIndex = static_cast<int>(engine.InputFiles.size());
    stream->Stream = st;
    stream->CodecContext.reset(avcodec_alloc_context3(nullptr));
    ASSERT_TRUE(stream->CodecContext);
    ASSERT_GE(avcodec_parameters_to_context(stream->CodecContext.get(), st->codecpar), 0);
    if (desc.Type == AVMEDIA_TYPE_VIDEO) stream->CodecContext->time_base = desc.DecoderTimeBase;
    engine.InputStreams.push_back(std::move(stream));
  }
  file->StreamCount = static_cast<int>(streams.size());
  engine.InputFiles.push_back(std::move(file));
}

void OptTest::SetUp() {
  RegisterTestCaptureFormat();
  ClearOptionErrorText();
  Engine.InitFileOptions(O);
}

void OptTest::TearDown() { Engine.FreeFileOptions(O); }

int OptTest::Parse(const std::string& line, const std::string& label) {
  return Engine.ParseOptions(O, line, label);
}

const char* OptTest::CodecOption(const char* key) const { return O.Group->CodecOptions.Value(key); }

const char* OptTest::FormatOption(const char* key) const { return O.Group->FormatOptions.Value(key); }

}  // namespace vexa::test
