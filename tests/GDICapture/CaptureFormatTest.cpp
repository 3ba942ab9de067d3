// The format record, its option class and the device name, without X or sound.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

extern "C" {
#include <libavutil/opt.h>
}

#include "Base/ProgramFormats.h"
#include "GDICapture/CaptureFormat.h"
#include "GDICapture/WaveInput.h"

namespace vexa {
namespace {

TEST(CaptureFormat, RegistersOnceUnderItsName) {
  RegisterCaptureInput();
  RegisterCaptureInput();
  const TProgramInputFormat* f = FindProgramInputFormat("gdicapture");
  ASSERT_EQ(f, CaptureInputFormat());
  EXPECT_STREQ(f->LongName, "GDI(Screen/Wave) capture");
  EXPECT_EQ(f->Flags, AVFMT_NOFILE);
  ASSERT_NE(f->PrivClass, nullptr);
  EXPECT_STREQ(f->PrivClass->class_name, "ScreenCaptureFormat");
  EXPECT_EQ(f->PrivClass->item_name, av_default_item_name);
  int count = 0;
  for (const AVClass* c : ProgramInputFormatClasses()) count += c == f->PrivClass;
  EXPECT_EQ(count, 1);
}

struct OptionRow {
  const char* Name;
  AVOptionType Type;
  const char* DefaultText;  // for strings (nullptr = none)
  int64_t DefaultNumber;
  double Min, Max;
  const char* Help;
  const char* Unit;
};

class CaptureOptionTest : public ::testing::TestWithParam<OptionRow> {};

TEST_P(CaptureOptionTest, TableRow) {
  const OptionRow& r = GetParam();
  const AVClass* cls = CaptureInputFormat()->PrivClass;
  const AVOption* o = nullptr;
  for (const AVOption* it = cls->option; it->name; ++it)
    if (std::strcmp(it->name, r.Name) == 0 && (it->type == AV_OPT_TYPE_CONST) == (r.Type == AV_OPT_TYPE_CONST))
      o = it;
  ASSERT_NE(o, nullptr) << r.Name;
  EXPECT_EQ(o->type, r.Type);
  EXPECT_STREQ(o->help ? o->help : "", r.Help);
  if (r.Type == AV_OPT_TYPE_STRING) {
    if (r.DefaultText) {
      EXPECT_STREQ(o->default_val.str, r.DefaultText);
    } else {
      EXPECT_EQ(o->default_val.str, nullptr);
    }
  } else {
    EXPECT_EQ(o->default_val.i64, r.DefaultNumber);
  }
  if (r.Type != AV_OPT_TYPE_STRING && r.Type != AV_OPT_TYPE_CONST) {
    EXPECT_EQ(o->min, r.Min);
    EXPECT_EQ(o->max, r.Max);
  }
  EXPECT_STREQ(o->unit ? o->unit : "", r.Unit);
  EXPECT_TRUE(o->flags & AV_OPT_FLAG_DECODING_PARAM);
}

constexpr double kI64Min = static_cast<double>(INT64_MIN), kI64Max = static_cast<double>(INT64_MAX);

INSTANTIATE_TEST_SUITE_P(
    Options, CaptureOptionTest,
    ::testing::Values(
        OptionRow{"video_size", AV_OPT_TYPE_STRING, nullptr, 0, 0, 0,
                  "A string describing frame size, such as 640x480 or hd720.", ""},
        OptionRow{"framerate", AV_OPT_TYPE_STRING, "ntsc", 0, 0, 0, "", ""},
        OptionRow{"capture_offset", AV_OPT_TYPE_STRING, nullptr, 0, 0, 0,
                  "%d,%d: offset on x and y against the final source window", ""},
        OptionRow{"capture_flags", AV_OPT_TYPE_FLAGS, nullptr, 7, INT_MIN, INT_MAX, "", "capture_flags"},
        OptionRow{"showframe", AV_OPT_TYPE_CONST, nullptr, 1, 0, 0, "show frame", "capture_flags"},
        OptionRow{"client", AV_OPT_TYPE_CONST, nullptr, 2, 0, 0, "capture client dc instead of window dc",
                  "capture_flags"},
        OptionRow{"cursor", AV_OPT_TYPE_CONST, nullptr, 4, 0, 0, "capture cursor", "capture_flags"},
        OptionRow{"sample_rate", AV_OPT_TYPE_INT, nullptr, 44100, 0, INT_MAX, "set audio sampling rate (in Hz)",
                  ""},
        OptionRow{"channels", AV_OPT_TYPE_INT, nullptr, 2, 0, INT_MAX, "set number of audio channels", ""},
        OptionRow{"sample_fmt", AV_OPT_TYPE_STRING, "s16", 0, 0, 0, "set sample format", ""},
        OptionRow{"wavebufsize", AV_OPT_TYPE_INT, nullptr, 65536, 0, INT_MAX, "waveIn buffer size", ""},
        OptionRow{"pause_pointer", AV_OPT_TYPE_INT64, nullptr, 0, kI64Min, kI64Max,
                  "integer value of pause flag pointer", ""}),
    [](const ::testing::TestParamInfo<OptionRow>& i) { return std::string(i.param.Name); });

TEST(CaptureFormat, HasExactlyTwelveOptions) {
  int n = 0;
  for (const AVOption* o = CaptureInputFormat()->PrivClass->option; o->name; ++o) ++n;
  EXPECT_EQ(n, 12);
}

TEST(CaptureFormat, FlagsOptionAddsAndRemovesConstants) {
  struct Case {
    const char* Text;
    int Expected;
  } cases[] = {{"+showframe+client+cursor", 7}, {"+showframe+client-cursor", 3}, {"client", 2}, {"0", 0}};
  // A private context as the open sees it, to run the library's flag parser.
  for (const Case& c : cases) {
    std::vector<uint8_t> storage(static_cast<size_t>(CaptureInputFormat()->PrivDataSize), 0);
    void* obj = storage.data();
    *static_cast<const AVClass**>(obj) = CaptureInputFormat()->PrivClass;
    av_opt_set_defaults(obj);
    ASSERT_GE(av_opt_set(obj, "capture_flags", c.Text, 0), 0) << c.Text;
    int64_t v = -1;
    av_opt_get_int(obj, "capture_flags", 0, &v);
    EXPECT_EQ(v, c.Expected) << c.Text;
    av_opt_free(obj);
  }
}

struct SpecRow {
  const char* Spec;
  bool Valid, Video, Audio;
  long long Window;
  int Device;
  const char* Error;  // conversion message, "" = none
};

class DeviceSpecTest : public ::testing::TestWithParam<SpecRow> {};

TEST_P(DeviceSpecTest, Parses) {
  const SpecRow& r = GetParam();
  const TDeviceSpec s = ParseDeviceSpec(r.Spec);
  EXPECT_EQ(s.Valid, r.Valid);
  EXPECT_EQ(s.ConvertError, r.Error);
  if (!r.Valid) return;
  EXPECT_EQ(s.VideoEnabled, r.Video);
  EXPECT_EQ(s.AudioEnabled, r.Audio);
  if (r.Video) {
    EXPECT_EQ(s.Window, r.Window);
  }
  if (r.Audio) {
    EXPECT_EQ(s.WaveDevice, r.Device);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Specs, DeviceSpecTest,
    ::testing::Values(SpecRow{"video=0:audio=-1", true, true, true, 0, -1, ""},
                      SpecRow{"video=", true, true, false, 0, 0, ""},
                      SpecRow{"video=123", true, true, false, 123, 0, ""},
                      SpecRow{"video=0x1e00005", true, true, false, 0x1e00005, 0, ""},
                      SpecRow{"video=0:audio=", true, true, true, 0, -1, ""},
                      SpecRow{"video=:audio=2", true, true, true, 0, 2, ""},
                      SpecRow{"audio=", true, false, true, 0, -1, ""},
                      SpecRow{"audio=3", true, false, true, 0, 3, ""},
                      SpecRow{"audio=1:video=77", true, true, true, 77, 1, ""},
                      SpecRow{"Video=0", false, false, false, 0, 0, ""},
                      SpecRow{"screen", false, false, false, 0, 0, ""},
                      SpecRow{"", false, false, false, 0, 0, ""},
                      SpecRow{"video=abc", false, false, false, 0, 0, "'abc' is not a valid integer value"},
                      SpecRow{"video=0:audio=x1", false, false, false, 0, 0, "'x1' is not a valid integer value"},
                      SpecRow{"video=-1", false, false, false, 0, 0, "'-1' is not a valid integer value"},
                      SpecRow{"video=1:Audio=1", false, false, false, 0, 0,
                              "'1:Audio=1' is not a valid integer value"}));

TEST(DeviceSpec, KeepsOnlyTheFirst1024Characters) {
  std::string spec = "video=" + std::string(1018, '1');  // 1024 characters: a value too big
  EXPECT_FALSE(ParseDeviceSpec(spec).Valid);
  std::string padded = "video=" + std::string(1017, '0') + "7" + "junk";  // junk cut off
  const TDeviceSpec s = ParseDeviceSpec(padded);
  ASSERT_TRUE(s.Valid) << s.ConvertError;
  EXPECT_EQ(s.Window, 7);
}

struct WaveRow {
  int Channels, Rate, Bits, BufSize;
  int BlockAlign, AvgBytes, BufferSize;
};

class WaveFormatTest : public ::testing::TestWithParam<WaveRow> {};

TEST_P(WaveFormatTest, BlockAlignAndBufferSize) {
  const WaveRow& r = GetParam();
  const TWaveFormat f = MakeWaveFormat(r.Channels, r.Rate, r.Bits, r.BufSize);
  EXPECT_EQ(f.BlockAlign, r.BlockAlign);
  EXPECT_EQ(f.AvgBytesPerSec, r.AvgBytes);
  EXPECT_EQ(f.BufferSize, r.BufferSize);
}

INSTANTIATE_TEST_SUITE_P(Formats, WaveFormatTest,
                         ::testing::Values(WaveRow{2, 44100, 16, 65536, 4, 176400, 65536},
                                           WaveRow{2, 44100, 16, 1001, 4, 176400, 1000},
                                           WaveRow{1, 22050, 8, 777, 1, 22050, 777},
                                           WaveRow{1, 48000, 16, 1001, 2, 96000, 1000},
                                           // 16-bit arithmetic: 8192 x 16 / 8 wraps to 0, then 1
                                           WaveRow{4096, 8000, 16, 100, 8192, 65536000, 0},
                                           WaveRow{32768, 8000, 16, 100, 1, 8000, 100}));

}  // namespace
}  // namespace vexa
