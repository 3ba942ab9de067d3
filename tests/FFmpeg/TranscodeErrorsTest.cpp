// Failures of a run: missing files, streams, encoders and decoders, and
// stream copy that cannot coexist with hooks.
#include <gtest/gtest.h>

#include <functional>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

class TranscodeErrorsTest : public ::testing::Test {
 protected:
  bool AddSource(TTestTask& task) { return task.AddLavfi(160, 120, 25, 0.4, 22050); }
  TTempDir Dir;
  TTranscodeLog Log;
};

TEST_F(TranscodeErrorsTest, NoOutputFileIsRefused) {
  TTestTask task;
  ASSERT_TRUE(AddSource(task));
  task.RunInline();
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMsg, "At least one output file must be specified");
  EXPECT_FALSE(task.Finished);
}

TEST_F(TranscodeErrorsTest, NoInputFileIsRefused) {
  TTestTask task;
  ASSERT_GE(task.AddOutput(Dir.Path("out.mkv"), "-c:v mpeg4"), 0) << task.LastErrorText;
  task.RunInline();
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMsg, "At least one input file must be specified");
}

TEST_F(TranscodeErrorsTest, OutputWithoutStreamsFails) {
  TTestTask task;
  ASSERT_TRUE(AddSource(task));
  ASSERT_GE(task.AddOutput(Dir.Path("out.mkv"), "-vn -an"), 0) << task.LastErrorText;
  task.RunInline();
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMsg, "Output file #0 does not contain any stream");
  EXPECT_TRUE(Log.Contains("Output file #0 does not contain any stream"));
  // Nothing was written: the empty file is gone.
  EXPECT_FALSE(FileExists(Dir.Path("out.mkv")));
}

TEST_F(TranscodeErrorsTest, EncoderThatCannotOpenFailsTheRun) {
  TTestTask task;
  ASSERT_TRUE(AddSource(task));
  // MPEG-4 cannot take a time base denominator above 65535.
  ASSERT_GE(task.AddOutput(Dir.Path("out.mkv"), "-c:v mpeg4 -r 100000 -vsync 1 -an"), 0) << task.LastErrorText;
  task.RunInline();
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMsg,
            "Error while opening encoder for output stream #0:0 (Video) - maybe incorrect parameters such as "
            "bit_rate, rate, width or height. Please check error log message(reported by FFLogger) to find out "
            "more detail information.");
  EXPECT_TRUE(Log.Contains("Stream mapping:"));
  EXPECT_TRUE(Log.Contains("Frame rate very high for a muxer not efficiently supporting it."));
  EXPECT_EQ(task.OpenEncoderCount(), 0u);
}

TEST_F(TranscodeErrorsTest, MissingDecoderClosesTheOpenedEncoders) {
  TTestTask task;
  ASSERT_TRUE(AddSource(task));
  ASSERT_GE(task.AddOutput(Dir.Path("out.mkv"), "-c:v mpeg4 -c:a pcm_s16le"), 0) << task.LastErrorText;
  task.InputStreams[1]->Decoder = nullptr;  // the audio stream has no decoder
  EXPECT_EQ(task.TranscodeInit(), -22);
  EXPECT_EQ(task.LastErrorText, "Decoder (codec pcm_s16le) not found for input stream #1:0");
  EXPECT_EQ(task.OpenEncoderCount(), 0u);
  for (const auto& ost : task.OutputStreams) {
    EXPECT_TRUE(ost->EncoderOpened);
    EXPECT_TRUE(ost->EncoderClosed);
  }
  // The decoder opened before the failure stays listed for the end of the run.
  EXPECT_EQ(task.OpenDecoderCount(), 1u);
  task.CloseOpenDecoders();
}

TEST_F(TranscodeErrorsTest, TranscodeRaisesWithTheInitialisationText) {
  TTestTask task;
  ASSERT_TRUE(AddSource(task));
  ASSERT_GE(task.AddOutput(Dir.Path("out.mkv"), "-c:v mpeg4 -an"), 0) << task.LastErrorText;
  task.InputStreams[0]->Decoder = nullptr;
  EXPECT_THROW(task.Transcode(), FFmpegException);
  EXPECT_EQ(task.LastErrorText, "Decoder (codec rawvideo) not found for input stream #0:0");
  // The end-of-run release closed everything.
  EXPECT_EQ(task.OpenEncoderCount(), 0u);
  EXPECT_EQ(task.OpenDecoderCount(), 0u);
}

struct THookCase {
  const char* Name;
  const char* Line;
  std::function<void(TTestTask&)> Install;
  const char* Message;
};

class TranscodeCopyHookTest : public ::testing::TestWithParam<THookCase> {};

TEST_P(TranscodeCopyHookTest, StreamCopyRefusesHooks) {
  const THookCase& c = GetParam();
  TTempDir dir;
  TTranscodeLog log;
  const std::string in = WriteMediaFile(dir.Path("in.mkv"), VideoAudioSpec());
  TTestTask task;
  ASSERT_TRUE(task.AddInput(in, ""));
  ASSERT_GE(task.AddOutput(dir.Path("out.mkv"), c.Line), 0) << task.LastErrorText;
  c.Install(task);
  task.RunInline();
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMsg, c.Message);
}

INSTANTIATE_TEST_SUITE_P(
    Hooks, TranscodeCopyHookTest,
    ::testing::Values(
        THookCase{"VideoInput", "-c:v copy -an",
                  [](TTestTask& t) { t.VideoInputHook = [](TCustomFFmpeg*, TBitmap*, bool&, bool&, int64_t, int) {}; },
                  "-vcodec copy and VideoHook are incompatible (frames are not decoded)"},
        THookCase{"FrameOutput", "-c:v copy -an",
                  [](TTestTask& t) {
                    t.FrameOutputHook = [](TCustomFFmpeg*, TAVPicture*, int64_t, int, int, int, int) {};
                  },
                  "-vcodec copy and FrameHook are incompatible (frames are not decoded)"},
        THookCase{"Preview", "-c:v copy -an", [](TTestTask& t) { t.SetPreviewFlags(pfPreviewBitmap); },
                  "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
        THookCase{"VHook", "-c:v copy -an -vhook " VEXA_VHOOK_DIR "/vexa_vhook_noconfigure.so", [](TTestTask&) {},
                  "-vcodec copy and -vhook are incompatible (frames are not decoded)"},
        THookCase{"AudioInput", "-vn -c:a copy",
                  [](TTestTask& t) {
                    t.AudioInputHook = [](TCustomFFmpeg*, uint8_t*, int64_t, int, int, int, AVSampleFormat) {};
                  },
                  "-acodec copy and AudioHook are incompatible (frames are not decoded)"},
        THookCase{"Volume", "-vn -c:a copy -vol 512", [](TTestTask&) {},
                  "-acodec copy and -vol are incompatible (frames are not decoded)"}),
    [](const ::testing::TestParamInfo<THookCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vexa::test
