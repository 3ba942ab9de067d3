// -target: norm detection and the recipes.
#include <gtest/gtest.h>

#include <map>

#include "OptFixtures.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

namespace vexa {
namespace {

using test::AddInput;
using test::OptTest;

const std::string NormMessage =
    "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\r\nPlease prefix target with \"pal-\", \"ntsc-\" or "
    "\"film-\",\r\nor set a framerate with \"-r xxx\".";

using TEntries = std::map<std::string, std::string>;

TEntries Entries(const TDictionary& dict) {
  TEntries entries;
  const AVDictionaryEntry* e = nullptr;
  while ((e = av_dict_get(dict.Get(), "", e, AV_DICT_IGNORE_SUFFIX))) entries[e->key] = e->value;
  return entries;
}

class TargetTest : public OptTest {
 protected:
  std::string Last(const TSpecifierList& list, const char* type = "") {
    const TSpecifierValue* v = TCustomFFmpegOpt::MatchMediaType(list, type);
    return v ? v->Str : "<none>";
  }
  int LastInt(const TSpecifierList& list) { return list.empty() ? -1 : list.back().Int; }
};

// What one -target argument sets. "<none>" / -1: not set.
struct TRecipe {
  const char* Target;
  const char* VideoCodec;
  const char* AudioCodec;
  const char* Format;
  const char* Size;
  const char* Rate;
  const char* PixelFormat;
  int SampleRate;
  int Channels;
  TEntries CodecOptions;
  TEntries FormatOptions;
  float MuxPreload;
};

TEntries VcdCodec(const char* gop) {
  return {{"g", gop},           {"b:v", "1150000"}, {"maxrate", "1150000"},
          {"minrate", "1150000"}, {"bufsize", "327680"}, {"b:a", "224000"}};
}
TEntries SvcdCodec(const char* gop) {
  return {{"g", gop},     {"b:v", "2040000"},     {"maxrate", "2516000"},  {"minrate", "0"},
          {"bufsize", "1835008"}, {"scan_offset", "1"}, {"b:a", "224000"}};
}
TEntries DvdCodec(const char* gop) {
  return {{"g", gop},     {"b:v", "6000000"}, {"maxrate", "9000000"},
          {"minrate", "0"}, {"bufsize", "1835008"}, {"b:a", "448000"}};
}
const TEntries VcdFormat = {{"packetsize", "2324"}, {"muxrate", "1411200"}};
const TEntries SvcdFormat = {{"packetsize", "2324"}};
const TEntries DvdFormat = {{"packetsize", "2048"}, {"muxrate", "10080000"}};
const char* const Ntsc = "30000/1001";
const char* const Film = "24000/1001";

const TRecipe Recipes[] = {
    {"pal-vcd", "mpeg1video", "mp2", "vcd", "352x288", "25", "<none>", 44100, 2, VcdCodec("15"), VcdFormat, 0.44f},
    {"ntsc-vcd", "mpeg1video", "mp2", "vcd", "352x240", Ntsc, "<none>", 44100, 2, VcdCodec("18"), VcdFormat, 0.44f},
    {"film-vcd", "mpeg1video", "mp2", "vcd", "352x240", Film, "<none>", 44100, 2, VcdCodec("18"), VcdFormat, 0.44f},
    {"pal-svcd", "mpeg2video", "mp2", "svcd", "480x576", "25", "yuv420p", 44100, -1, SvcdCodec("15"), SvcdFormat, 0},
    {"ntsc-svcd", "mpeg2video", "mp2", "svcd", "480x480", Ntsc, "yuv420p", 44100, -1, SvcdCodec("18"), SvcdFormat, 0},
    {"pal-dvd", "mpeg2video", "ac3", "dvd", "720x576", "25", "yuv420p", 48000, -1, DvdCodec("15"), DvdFormat, 0},
    {"ntsc-dvd", "mpeg2video", "ac3", "dvd", "720x480", Ntsc, "yuv420p", 48000, -1, DvdCodec("18"), DvdFormat, 0},
    {"film-dvd", "mpeg2video", "ac3", "dvd", "720x480", Film, "yuv420p", 48000, -1, DvdCodec("18"), DvdFormat, 0},
    {"pal-dv", "<none>", "<none>", "dv", "720x576", "25", "yuv420p", 48000, 2, {}, {}, 0},
    {"ntsc-dv", "<none>", "<none>", "dv", "720x480", Ntsc, "yuv411p", 48000, 2, {}, {}, 0},
    {"film-dv", "<none>", "<none>", "dv", "720x480", Film, "yuv411p", 48000, 2, {}, {}, 0},
    {"pal-dv50", "<none>", "<none>", "dv", "720x576", "25", "yuv422p", 48000, 2, {}, {}, 0},
    {"ntsc-dv50", "<none>", "<none>", "dv", "720x480", Ntsc, "yuv422p", 48000, 2, {}, {}, 0},
    {"pal-dvcpro", "<none>", "<none>", "dv", "720x576", "25", "yuv420p", 48000, 2, {}, {}, 0},
};

class TargetRecipes : public TargetTest, public ::testing::WithParamInterface<TRecipe> {};

TEST_P(TargetRecipes, SetExactlyTheRecipe) {
  const TRecipe& r = GetParam();
  // Inputs of another norm: a prefix decides whatever the inputs are.
  AddInput(Engine, {{AVMEDIA_TYPE_VIDEO, 0, AVRational{1, 15}}});
  ASSERT_EQ(Parse(std::string("-target ") + r.Target), 0) << Engine.LastErrorText;
  EXPECT_EQ(Last(O.CodecNames, "v"), r.VideoCodec);
  EXPECT_EQ(Last(O.CodecNames, "a"), r.AudioCodec);
  EXPECT_EQ(O.Format, r.Format);
  EXPECT_EQ(Last(O.FrameSizes), r.Size);
  EXPECT_EQ(Last(O.FrameRates), r.Rate);
  EXPECT_EQ(Last(O.PixelFormats), r.PixelFormat);
  EXPECT_EQ(LastInt(O.SampleRates), r.SampleRate);
  EXPECT_EQ(LastInt(O.AudioChannels), r.Channels);
  EXPECT_EQ(Entries(O.Group->CodecOptions), r.CodecOptions);
  EXPECT_EQ(Entries(O.Group->FormatOptions), r.FormatOptions);
  EXPECT_FLOAT_EQ(O.MuxPreload, r.MuxPreload);
  EXPECT_FALSE(Recorder.ContainsText("for target."));
}

INSTANTIATE_TEST_SUITE_P(Targets, TargetRecipes, ::testing::ValuesIn(Recipes), [](const auto& info) {
  std::string name = info.param.Target;
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
});

TEST_F(TargetTest, NormFromTheInputs) {
  AddInput(Engine, {{AVMEDIA_TYPE_AUDIO, 2}, {AVMEDIA_TYPE_VIDEO, 0, AVRational{1, 25}}});
  ASSERT_EQ(Parse("-target vcd"), 0);
  EXPECT_TRUE(Recorder.Contains(llInfo, "Assuming PAL for target."));
  EXPECT_EQ(Last(O.FrameSizes), "352x288");
  EXPECT_STREQ(CodecOption("g"), "15");
}

TEST_F(TargetTest, NtscFromTheFirstFileThatDecides) {
  AddInput(Engine, {{AVMEDIA_TYPE_VIDEO, 0, AVRational{1, 10}}});                  // decides nothing
  AddInput(Engine, {{AVMEDIA_TYPE_VIDEO, 0, AVRational{1001, 30000}}});            // NTSC
  AddInput(Engine, {{AVMEDIA_TYPE_VIDEO, 0, AVRational{1, 25}}});                  // not reached
  ASSERT_EQ(Parse("-target vcd"), 0);
  EXPECT_TRUE(Recorder.Contains(llInfo, "Assuming NTSC for target."));
  EXPECT_EQ(Last(O.FrameSizes), "352x240");
  EXPECT_EQ(Last(O.FrameRates), "30000/1001");
}

TEST_F(TargetTest, NormFromAStreamRateWhenTheDecoderHasNoTimeBase) {
  AddInput(Engine, {{AVMEDIA_TYPE_VIDEO, 0, AVRational{0, 1}, AVRational{24000, 1001}}});
  ASSERT_EQ(Parse("-target dvd"), 0);
  EXPECT_TRUE(Recorder.Contains(llInfo, "Assuming NTSC for target."));
}

TEST_F(TargetTest, NormFromARealInput) {
  avdevice_register_all();
  const AVInputFormat* lavfi = av_find_input_format("lavfi");
  if (!lavfi) GTEST_SKIP() << "no lavfi input";
  Engine.InitFileOptions(O);
  AVFormatContext* s = nullptr;
  ASSERT_EQ(avformat_open_input(&s, "testsrc=size=32x32:rate=25:duration=1", lavfi, nullptr), 0);
  ASSERT_GE(avformat_find_stream_info(s, nullptr), 0);
  auto file = std::make_unique<TInputFile>();
  file->FormatContext = s;
  file->StreamCount = static_cast<int>(s->nb_streams);
  for (unsigned i = 0; i < s->nb_streams; ++i) {
    auto ist = std::make_unique<TInputStream>();
    ist->Stream = s->streams[i];
    Engine.InputStreams.push_back(std::move(ist));
  }
  Engine.InputFiles.push_back(std::move(file));
  ASSERT_EQ(Parse("-target svcd"), 0);
  EXPECT_TRUE(Recorder.Contains(llInfo, "Assuming PAL for target."));
  EXPECT_EQ(Last(O.FrameSizes), "480x576");
}

TEST_F(TargetTest, NoNormAborts) {
  for (bool withInput : {false, true}) {
    SCOPED_TRACE(withInput);
    if (withInput) AddInput(Engine, {{AVMEDIA_TYPE_VIDEO, 0, AVRational{1, 15}}, {AVMEDIA_TYPE_AUDIO, 2}});
    Engine.InitFileOptions(O);
    try {
      Parse("-target vcd");
      FAIL() << "no abort";
    } catch (const FFmpegException& e) {
      EXPECT_EQ(e.what(), NormMessage);
      EXPECT_EQ(Engine.LastErrorText, NormMessage);
      EXPECT_TRUE(Recorder.Contains(llFatal, NormMessage));
    }
  }
}

TEST_F(TargetTest, UnknownTarget) {
  Engine.StrictOptions = true;
  EXPECT_EQ(Parse("-target pal-cd"), -22);
  EXPECT_EQ(Engine.LastErrorText.rfind("Unknown target: cd\r\nFailed to set value \"pal-cd\" for option \"target\"", 0),
            0u)
      << Engine.LastErrorText;
  EXPECT_TRUE(Recorder.Contains(llError, "Unknown target: cd"));

  AddInput(Engine, {{AVMEDIA_TYPE_VIDEO, 0, AVRational{1, 25}}});
  Engine.InitFileOptions(O);
  EXPECT_EQ(Parse("-target cd"), -22);
  EXPECT_EQ(Engine.LastErrorText.rfind("Unknown target: cd\r\n", 0), 0u);
}

}  // namespace
}  // namespace vexa
