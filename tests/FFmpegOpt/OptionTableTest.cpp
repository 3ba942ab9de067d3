#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "OptFixtures.h"

namespace vexa {
namespace {

using test::TTestEngine;

// The row names in lookup order, as the option table documents them.
const char* const RowNames =
    "L | h | ? | help | -help | version | formats | codecs | decoders | encoders | bsfs | protocols | filters | "
    "pix_fmts | layouts | sample_fmts | loglevel | v | report | max_alloc | cpuflags | f | y | n | c | codec | pre | "
    "map | map_channel | map_metadata | map_chapters | t | t_microsecond | to | to_microsecond | fs | ss | "
    "ss_microsecond | itsoffset | itsoffset_microsecond | itsscale | timestamp | metadata | dframes | benchmark | "
    "benchmark_all | progress | stdin | timelimit | dump | hex | re | target | vsync | async | adrift_threshold | "
    "copyts | copytb | shortest | dts_delta_threshold | dts_error_threshold | xerror | copyinkf | copypriorss | "
    "frames | tag | q | qscale | profile | filter | reinit_filter | filter_complex | stats | attach | "
    "dump_attachment | vframes | r | s | aspect | pix_fmt | bits_per_raw_sample | intra | vn | vdt | rc_override | "
    "vcodec | sameq | same_quant | timecode | pass | passlogfile | deinterlace | psnr | vstats | vstats_file | vf | "
    "intra_matrix | inter_matrix | top | dc | vtag | qphist | force_fps | streamid | force_key_frames | b | aframes "
    "| aq | ar | ac | an | acodec | atag | vol | sample_fmt | channel_layout | af | guess_layout_max | sn | scodec | "
    "stag | fix_sub_duration | vc | tvstd | isync | muxdelay | muxpreload | bsf | absf | vbsf | apre | vpre | spre | "
    "fpre | dcodec | dn | vhook | VideoHookBitsPixel | TimeStart | timestart | TimeLength | timelength | "
    "AudioInputHook | AudioOutputHook | VideoInputHook | VideoOutputHook | FrameInputHook | FrameOutputHook | Join";

std::vector<std::string> ExpectedNames() {
  std::vector<std::string> names;
  std::stringstream in(RowNames);
  std::string item;
  while (std::getline(in, item, '|')) {
    const auto b = item.find_first_not_of(' ');
    const auto e = item.find_last_not_of(' ');
    names.push_back(item.substr(b, e - b + 1));
  }
  return names;
}

TEST(OptionTable, HasTheRowsInOrder) {
  TTestEngine engine;
  std::vector<std::string> names;
  for (const TOptionDef& def : engine.OptionTable()) names.push_back(def.Name);
  EXPECT_EQ(names.size(), 149u);
  EXPECT_EQ(names, ExpectedNames());
}

TEST(OptionTable, SecondBuildDoesNothing) {
  TTestEngine engine;
  const TOptionDef* first = &engine.OptionTable().front();
  engine.BuildOptionTable();
  EXPECT_EQ(engine.OptionTable().size(), 149u);
  EXPECT_EQ(&engine.OptionTable().front(), first);
}

// Flags and targets of the rows that store values, as documented for the data model.
struct TValueRow {
  uint32_t Flags;
  TOptionTarget Target;
};

using F = TFileOptions;
using E = TCustomFFmpegOpt;
constexpr uint32_t text = ofHasArg | ofString;
constexpr uint32_t integer = ofHasArg | ofInt;

const std::map<std::string, TValueRow> ValueRows = {
    {"c", {text | ofSpec, &F::CodecNames}},
    {"codec", {text | ofSpec, &F::CodecNames}},
    {"map_metadata", {text | ofSpec, &F::MetadataMaps}},
    {"itsscale", {ofHasArg | ofDouble | ofSpec | ofExpert, &F::TsScales}},
    {"metadata", {text | ofSpec, &F::Metadata}},
    {"copyinkf", {ofBool | ofSpec | ofExpert, &F::CopyInitialNonKeyframes}},
    {"copypriorss", {integer | ofSpec | ofExpert, &F::CopyPriorStart}},
    {"frames", {ofHasArg | ofInt64 | ofSpec, &F::MaxFrames}},
    {"tag", {text | ofSpec | ofExpert, &F::CodecTags}},
    {"q", {ofHasArg | ofDouble | ofSpec | ofExpert, &F::QScales}},
    {"filter", {text | ofSpec, &F::Filters}},
    {"reinit_filter", {integer | ofSpec, &F::ReinitFilters}},
    {"dump_attachment", {text | ofSpec | ofExpert, &F::DumpAttachments}},
    {"r", {text | ofSpec | ofVideo, &F::FrameRates}},
    {"s", {text | ofSpec | ofVideo | ofSubtitle, &F::FrameSizes}},
    {"aspect", {text | ofSpec | ofVideo, &F::AspectRatios}},
    {"pix_fmt", {text | ofSpec | ofExpert | ofVideo, &F::PixelFormats}},
    {"rc_override", {text | ofSpec | ofExpert | ofVideo, &F::RcOverrides}},
    {"pass", {integer | ofSpec | ofVideo, &F::Passes}},
    {"passlogfile", {text | ofSpec | ofExpert | ofVideo, &F::PassLogFiles}},
    {"intra_matrix", {text | ofSpec | ofExpert | ofVideo, &F::IntraMatrices}},
    {"inter_matrix", {text | ofSpec | ofExpert | ofVideo, &F::InterMatrices}},
    {"top", {integer | ofSpec | ofExpert | ofVideo, &F::TopFieldFirst}},
    {"force_fps", {ofBool | ofSpec | ofExpert | ofVideo, &F::ForceFps}},
    {"force_key_frames", {text | ofSpec | ofExpert | ofVideo, &F::ForcedKeyFrames}},
    {"ar", {integer | ofSpec | ofAudio, &F::SampleRates}},
    {"ac", {integer | ofSpec | ofAudio, &F::AudioChannels}},
    {"sample_fmt", {text | ofSpec | ofExpert | ofAudio, &F::SampleFormats}},
    {"guess_layout_max", {integer | ofSpec | ofExpert | ofAudio, &F::GuessLayoutMax}},
    {"fix_sub_duration", {ofBool | ofSpec | ofExpert | ofSubtitle, &F::FixSubDuration}},
    {"bsf", {text | ofSpec | ofExpert, &F::BitstreamFilters}},
    {"f", {text | ofOffset, &F::Format}},
    {"map_chapters", {integer | ofOffset | ofExpert, &F::ChaptersInputFile}},
    {"t", {ofHasArg | ofTime | ofOffset, &F::RecordingTime}},
    {"t_microsecond", {ofHasArg | ofInt64 | ofOffset, &F::RecordingTime}},
    {"to", {ofHasArg | ofTime | ofOffset, &F::StopTime}},
    {"to_microsecond", {ofHasArg | ofInt64 | ofOffset, &F::StopTime}},
    {"fs", {ofHasArg | ofInt64 | ofOffset, &F::LimitFileSize}},
    {"ss", {ofHasArg | ofTime | ofOffset, &F::StartTime}},
    {"ss_microsecond", {ofHasArg | ofInt64 | ofOffset, &F::StartTime}},
    {"itsoffset", {ofHasArg | ofTime | ofOffset | ofExpert, &F::InputTsOffset}},
    {"itsoffset_microsecond", {ofHasArg | ofInt64 | ofOffset | ofExpert, &F::InputTsOffset}},
    {"re", {ofBool | ofOffset | ofExpert, &F::RateEmulation}},
    {"shortest", {ofBool | ofOffset | ofExpert, &F::Shortest}},
    {"vn", {ofBool | ofOffset, &F::VideoDisable}},
    {"an", {ofBool | ofOffset, &F::AudioDisable}},
    {"sn", {ofBool | ofOffset, &F::SubtitleDisable}},
    {"dn", {ofBool | ofOffset, &F::DataDisable}},
    {"muxdelay", {ofHasArg | ofFloat | ofOffset | ofExpert, &F::MuxMaxDelay}},
    {"muxpreload", {ofHasArg | ofFloat | ofOffset | ofExpert, &F::MuxPreload}},
    {"y", {ofBool, &E::FileOverwrite}},
    {"n", {ofBool, &E::NoFileOverwrite}},
    {"dump", {ofBool, &E::DoPktDump}},
    {"hex", {ofBool, &E::DoHexDump}},
    {"copyts", {ofBool, &E::CopyTs}},
    {"xerror", {ofBool, &E::ExitOnError}},
    {"stats", {ofBool, &E::PrintStats}},
    {"intra", {ofBool, &E::IntraOnly}},
    {"psnr", {ofBool, &E::DoPsnr}},
    {"qphist", {ofBool, &E::QpHist}},
    {"isync", {ofBool, &E::InputSync}},
    {"async", {integer, &E::AudioSyncMethod}},
    {"copytb", {integer, &E::CopyTb}},
    {"bits_per_raw_sample", {integer, &E::FrameBitsPerRawSample}},
    {"vdt", {integer, &E::VideoDiscard}},
    {"dc", {integer, &E::IntraDcPrecision}},
    {"vol", {integer, &E::AudioVolume}},
    {"adrift_threshold", {ofHasArg | ofFloat, &E::AudioDriftThreshold}},
    {"dts_delta_threshold", {ofHasArg | ofFloat, &E::DtsDeltaThreshold}},
    {"dts_error_threshold", {ofHasArg | ofFloat, &E::DtsErrorThreshold}},
};

// Flags of the handler rows.
const std::map<std::string, uint32_t> HandlerRowFlags = [] {
  std::map<std::string, uint32_t> m;
  for (const char* n : {"L", "h", "?", "help", "-help", "version", "formats", "codecs", "decoders", "encoders", "bsfs",
                        "protocols", "filters", "pix_fmts", "layouts", "sample_fmts", "pre", "benchmark",
                        "benchmark_all", "stdin", "timelimit", "AudioInputHook", "AudioOutputHook", "VideoInputHook",
                        "VideoOutputHook", "FrameInputHook", "FrameOutputHook", "Join"})
    m[n] = ofExit;
  m["report"] = 0;
  m["sameq"] = m["same_quant"] = ofExpert | ofVideo;
  m["loglevel"] = m["v"] = m["max_alloc"] = m["cpuflags"] = ofHasArg;
  m["map"] = m["map_channel"] = m["attach"] = ofHasArg | ofExpert | ofPerFile;
  m["streamid"] = ofHasArg | ofExpert | ofVideo | ofPerFile;
  m["timestamp"] = m["target"] = ofHasArg | ofPerFile;
  m["progress"] = m["vsync"] = m["filter_complex"] = ofHasArg | ofExpert;
  m["qscale"] = m["profile"] = ofHasArg | ofExpert | ofPerFile;
  m["b"] = m["vcodec"] = m["vframes"] = m["vf"] = m["timecode"] = ofHasArg | ofVideo | ofPerFile;
  m["acodec"] = m["aframes"] = m["af"] = m["aq"] = ofHasArg | ofAudio | ofPerFile;
  m["scodec"] = ofHasArg | ofSubtitle | ofPerFile;
  m["dcodec"] = ofHasArg | ofData | ofExpert | ofPerFile;
  m["dframes"] = ofHasArg | ofExpert | ofPerFile;
  m["vtag"] = m["vbsf"] = m["vpre"] = ofHasArg | ofExpert | ofVideo | ofPerFile;
  m["atag"] = m["absf"] = m["apre"] = ofHasArg | ofExpert | ofAudio | ofPerFile;
  m["stag"] = m["spre"] = ofHasArg | ofExpert | ofSubtitle | ofPerFile;
  m["fpre"] = ofHasArg | ofExpert | ofPerFile;
  m["channel_layout"] = ofHasArg | ofExpert | ofAudio | ofPerFile;
  m["deinterlace"] = m["vstats"] = ofExpert | ofVideo;
  m["vstats_file"] = m["vc"] = m["tvstd"] = m["vhook"] = m["VideoHookBitsPixel"] = ofHasArg | ofExpert | ofVideo;
  m["TimeStart"] = m["timestart"] = m["TimeLength"] = m["timelength"] = ofHasArg | ofExpert | ofPerFile;
  return m;
}();

TEST(OptionTable, RowFlagsAndTargets) {
  TTestEngine engine;
  int handlers = 0;
  for (const TOptionDef& def : engine.OptionTable()) {
    SCOPED_TRACE(def.Name);
    const bool isHandler = std::holds_alternative<TOptionHandler>(def.Target);
    if (isHandler) {
      ++handlers;
      ASSERT_TRUE(HandlerRowFlags.count(def.Name));
      EXPECT_EQ(def.Flags, HandlerRowFlags.at(def.Name));
      EXPECT_EQ(def.Flags & ofValueKinds, 0u);
    } else {
      ASSERT_TRUE(ValueRows.count(def.Name));
      EXPECT_EQ(def.Flags, ValueRows.at(def.Name).Flags);
      EXPECT_TRUE(def.Target == ValueRows.at(def.Name).Target);
    }
  }
  EXPECT_EQ(handlers, 79);
  EXPECT_EQ(ValueRows.size() + HandlerRowFlags.size(), 149u);
}

TEST(OptionTable, LookupComparesUpToTheColonCaseSensitively) {
  TTestEngine engine;
  ASSERT_NE(engine.FindOption("b:v"), nullptr);
  EXPECT_EQ(engine.FindOption("b:v")->Name, "b");
  EXPECT_EQ(engine.FindOption("codec:a:0")->Name, "codec");
  EXPECT_EQ(engine.FindOption("AudioInputHook")->Name, "AudioInputHook");
  EXPECT_EQ(engine.FindOption("audioinputhook"), nullptr);
  EXPECT_EQ(engine.FindOption("TimeStart")->Name, "TimeStart");
  EXPECT_EQ(engine.FindOption("co"), nullptr);  // no prefix matching
  EXPECT_EQ(engine.FindOption(""), nullptr);
  EXPECT_EQ(engine.FindOption(":v"), nullptr);
}

}  // namespace
}  // namespace vexa
