// One input of the option-line fuzz target: SplitOptionLine, ParseOptions
// (grouping, the handlers, the engine settings) and ParsePresets. Shared by
// the libFuzzer target and the unit test that replays the committed corpus.
//
// Input: byte 0 selects the mode (bit 0 StrictOptions, bit 1 input or output
// label, bit 2 with a preset text, bit 3 with two opened inputs made by hand,
// bit 4 preset text only); the rest is the option line, then, after the
// first zero byte, the preset text.
//
// A malformed input must end in an error code with LastErrorText set (with
// StrictOptions), in success (without), or in an FFmpegException whose
// message is LastErrorText; never in a crash, a leak, undefined behaviour or
// a hang. Any other outcome is reported as a broken rule.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/mem.h>
}

namespace vexa::fuzz {

class TFuzzEngine : public TCustomFFmpegOpt {
 protected:
  // Never create or truncate files, and never reach the network.
  int OpenProgressOutput(const std::string& url) override { return url.empty() ? AVERROR(EINVAL) : 0; }
};

// An input file with a video (25 fps), a stereo audio and a subtitle stream.
inline void AddFuzzInput(TCustomFFmpegOpt& engine) {
  auto file = std::make_unique<TInputFile>();
  file->FormatContext = avformat_alloc_context();
  if (!file->FormatContext) return;
  file->FirstStreamIndex = static_cast<int>(engine.InputStreams.size());
  for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}) {
    AVStream* st = avformat_new_stream(file->FormatContext, nullptr);
    if (!st) break;
    st->codecpar->codec_type = type;
    if (type == AVMEDIA_TYPE_AUDIO) av_channel_layout_default(&st->codecpar->ch_layout, 2);
    if (type == AVMEDIA_TYPE_VIDEO) st->r_frame_rate = AVRational{25, 1};
    auto stream = std::make_unique<TInputStream>();
    stream->FileIndex = static_cast<int>(engine.InputFiles.size());
    stream->Stream = st;
    engine.InputStreams.push_back(std::move(stream));
    ++file->StreamCount;
  }
  engine.InputFiles.push_back(std::move(file));
}

struct TFuzzOutcome {
  int Result = 0;      // of ParseOptions; 0 when it raised
  bool Raised = false;
  std::string LastErrorText;
  std::string BrokenRule;  // empty when the outcome is one of the allowed ones
};

// Runs one input. Process-wide state that options change (allocation limit,
// CPU flags) is restored afterwards; the logger's level is left at `level`.
inline TFuzzOutcome RunOptionsFuzzInput(const uint8_t* data, std::size_t size, TLogLevel level = llQuiet) {
  TFuzzOutcome outcome;
  if (size == 0) return outcome;
  const uint8_t mode = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string::size_type zero = rest.find('\0');
  const std::string line = rest.substr(0, zero);
  const std::string presets = zero == std::string::npos ? std::string() : rest.substr(zero + 1);

  (void)SplitOptionLine(line);

  TFuzzEngine engine;
  engine.BuildOptionTable();
  engine.StrictOptions = (mode & 1) != 0;
  if (mode & 8) {
    AddFuzzInput(engine);
    AddFuzzInput(engine);
  }
  const std::string label = (mode & 2) ? "input file" : "output file";
  std::optional<std::string> presetText;
  if (mode & 4) presetText = presets;
  TFileOptions o;
  engine.InitFileOptions(o);
  std::string raisedText;
  try {
    if (mode & 16)
      outcome.Result = engine.ParseOptions(o, std::nullopt, label, presetText);
    else
      outcome.Result = engine.ParseOptions(o, line, label, presetText);
  } catch (const FFmpegException& e) {
    outcome.Raised = true;
    raisedText = e.what();
  }
  engine.FreeFileOptions(o);
  outcome.LastErrorText = engine.LastErrorText;

  av_max_alloc(INT_MAX);
  av_force_cpu_flags(-1);
  GetFFLogger().SetLogLevel(level);

  if (outcome.Raised && raisedText.empty())
    outcome.BrokenRule = "raised without a message";
  else if (outcome.Raised && outcome.LastErrorText != raisedText)
    outcome.BrokenRule = "raised \"" + raisedText + "\" but LastErrorText is \"" + outcome.LastErrorText + "\"";
  else if (outcome.Result < 0 && !engine.StrictOptions)
    outcome.BrokenRule = "failed without StrictOptions";
  else if (outcome.Result < 0 && outcome.LastErrorText.empty())
    outcome.BrokenRule = "failed without a message";
  return outcome;
}

}  // namespace vexa::fuzz
