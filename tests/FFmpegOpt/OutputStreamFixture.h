// Fixture of the output stream and filter graph tests: real inputs opened
// from media files the test writes, an output context made for a file name,
// and output lines parsed into the file options.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "OptFixtures.h"
#include "Support/MediaFixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

namespace vexa::test {

struct TOutputContextFree {
  void operator()(AVFormatContext* s) const { avformat_free_context(s); }
};
using TOutputContextPtr = std::unique_ptr<AVFormatContext, TOutputContextFree>;

class OutputStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearOptionErrorText();
    Engine.InitFileOptions(O);
  }
  void TearDown() override { Engine.FreeFileOptions(O); }

  // Writes a media file from `media` and opens it as the next input.
  void OpenInput(const TMediaSpec& media, const std::string& line = "", const std::string& name = "") {
    const std::string fileName = name.empty() ? "in" + std::to_string(Engine.InputFiles.size()) + ".mkv" : name;
    const std::string path = WriteMediaFile(Dir.Path(fileName), media);
    Engine.FreeFileOptions(O);
    Engine.InitFileOptions(O);
    ASSERT_GE(Engine.OpenInputFile(O, line, path), 0) << Engine.LastErrorText;
  }

  // Parses `line` into fresh file options and creates the output `name`.
  int OpenOutput(const std::string& line, const std::string& name = "out.mkv", bool join = false) {
    Engine.FreeFileOptions(O);
    Engine.InitFileOptions(O);
    return Engine.OpenOutputFile(O, line, join, Dir.Path(name));
  }

  // Parses an output line into fresh file options.
  int ParseOutput(const std::string& line) {
    Engine.FreeFileOptions(O);
    Engine.InitFileOptions(O);
    return Engine.ParseOptions(O, line, "output file");
  }

  // The output context for a file name (the muxer follows its extension).
  AVFormatContext* Output(const std::string& name = "out.mkv") {
    AVFormatContext* s = nullptr;
    const int ret = avformat_alloc_output_context2(&s, nullptr, nullptr, Dir.Path(name).c_str());
    Oc.reset(s);
    EXPECT_GE(ret, 0);
    return s;
  }

  // Parses `line` and creates a video (or audio) output stream from input
  // stream `source` in a fresh output context.
  TOutputStream* Video(const std::string& line, int source = 0, const std::string& name = "out.mkv") {
    EXPECT_GE(ParseOutput(line), 0) << Engine.LastErrorText;
    return Engine.NewVideoStream(O, Output(name), source);
  }
  TOutputStream* Audio(const std::string& line, int source, const std::string& name = "out.mkv") {
    EXPECT_GE(ParseOutput(line), 0) << Engine.LastErrorText;
    return Engine.NewAudioStream(O, Output(name), source);
  }

  // The message of the FFmpegException `f` raises ("<no abort>" otherwise).
  template <typename F>
  static std::string AbortText(F&& f) {
    try {
      f();
    } catch (const FFmpegException& e) {
      return e.what();
    }
    return "<no abort>";
  }

  TLogRecorder Recorder{llDebug, TMediaLog::Hook};
  TTestEngine Engine;
  TFileOptions O;
  TTempDir Dir;
  TOutputContextPtr Oc;
};

}  // namespace vexa::test
