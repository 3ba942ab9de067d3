// Failures found while a run is set up: a pass-1 log file that cannot be
// written, a header the muxer refuses.
#include <gtest/gtest.h>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

class TranscodeInitMessagesTest : public ::testing::Test {
 protected:
  // Runs a short lavfi video into `file` with `line`.
  void Run(TTestTask& task, const std::string& file, const std::string& line) {
    ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 25, 0.2), "-f lavfi"));
    ASSERT_GE(task.AddOutput(file, line), 0) << task.LastErrorText;
    task.RunInline();
  }
  TTempDir Dir;
  TTranscodeLog Log;
};

TEST_F(TranscodeInitMessagesTest, UnwritablePassOneLogFails) {
  const std::string prefix = Dir.Path("missing/stats");
  TTestTask task;
  Run(task, Dir.Path("out.mkv"), "-c:v mpeg4 -pass 1 -passlogfile " + prefix);
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMsg, "Cannot write log file " + prefix + "-0.log for pass-1 encoding");
}

// The iPod muxer has no tag for MPEG-2 video: the header is refused.
TEST_F(TranscodeInitMessagesTest, RefusedHeaderFailsWithItsText) {
  TTestTask task;
  Run(task, Dir.Path("out.m4v"), "-f ipod -c:v mpeg2video");
  EXPECT_TRUE(task.ExceptionRaised) << Log.Text();
  const std::string prefix = "Could not write header for output file #0 (incorrect codec parameters ?): ";
  EXPECT_EQ(task.ExceptionMsg.rfind(prefix, 0), 0u) << task.ExceptionMsg;
  EXPECT_GT(task.ExceptionMsg.size(), prefix.size());
  EXPECT_TRUE(Log.Contains("Stream mapping:")) << Log.Text();
}

}  // namespace
}  // namespace vexa::test
