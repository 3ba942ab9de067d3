// The progress report: throttling, the values handed to the owner, the
// report line and the final statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "FFmpeg/FFmpeg.h"
#include "TranscodeTestSupport.h"

extern "C" {
#include <libavformat/avio.h>
}

namespace vexa::test {
namespace {

struct TReport {
  int FileIndex, Frame, Fps;
  float Quality, BitRate;
  int64_t Size, Time, Total;
};

class TaskProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Task.Progress = [this](TCustomFFmpeg* task, int file, int frame, int fps, float q, float rate, int64_t size,
                           int64_t time, int64_t total) {
      EXPECT_EQ(task, &Task);
      Reports.push_back(TReport{file, frame, fps, q, rate, size, time, total});
    };
  }
  // Runs `seconds` of 160x120 lavfi video at 10 fps into Dir/`name` inline.
  void RunToFile(const std::string& name, double seconds, const std::string& outputLine) {
    Output = Dir.Path(name);
    ASSERT_TRUE(Task.AddInput(LavfiVideo(160, 120, 10, seconds), "-f lavfi"));
    ASSERT_GE(Task.AddOutput(Output, outputLine), 0) << Task.LastErrorText;
    Task.RunInline();
    ASSERT_FALSE(Task.ExceptionRaised) << Task.ExceptionMsg;
  }

  TTempDir Dir;
  std::string Output;
  TTestTask Task;
  std::vector<TReport> Reports;
};

TEST_F(TaskProgressTest, PeriodicReportsAreThrottledAndTheFirstNeverReports) {
  TTranscodeLog log;
  Task.ProgressInterval = 500000;
  const int64_t t0 = 1000000;
  const std::pair<int64_t, size_t> calls[] = {
      {t0, 0},            // the first periodic call only starts the clock
      {t0 + 100000, 0},   // too early
      {t0 + 499999, 0},   // still too early
      {t0 + 500000, 1},   // one interval later
      {t0 + 900000, 1},   // too early after that report
      {t0 + 1000000, 2},  // the next interval
  };
  for (const auto& [now, expected] : calls) {
    Task.ReportProgress(3, false, now, t0);
    EXPECT_EQ(Reports.size(), expected) << now;
  }
  EXPECT_EQ(Reports[0].FileIndex, 3);
  // Nothing was encoded: no frame number, fps or quality.
  EXPECT_EQ(Reports[0].Frame, -1);
  EXPECT_EQ(Reports[0].Fps, -1);
  EXPECT_EQ(Reports[0].Quality, -1.0f);
  EXPECT_EQ(Reports[0].Size, 0) << "an unknown size is passed as 0";
  EXPECT_EQ(Reports[0].BitRate, -1.0f);
  EXPECT_EQ(Reports[0].Total, -1);
  // With a Progress callback the periodic lines are not logged.
  EXPECT_FALSE(log.Contains("bitrate="));
}

TEST_F(TaskProgressTest, FinalReportAlwaysHappensAndWarnsAboutAnEmptyOutput) {
  TTranscodeLog log;
  Task.ProgressInterval = 500000;
  Task.ReportProgress(0, false, 1000, 0);
  Task.ReportProgress(-1, true, 2000, 0);
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].FileIndex, -1);
  EXPECT_TRUE(log.Contains("size=N/A time=00:00:00.000 bitrate=N/A")) << log.Text();
  EXPECT_TRUE(log.Contains("video:0kB audio:0kB subtitle:0 global headers:0kB muxing overhead")) << log.Text();
  EXPECT_TRUE(log.Contains(
      "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)"));
}

TEST_F(TaskProgressTest, DupAndDropCountsJoinTheLineAndAChangeIsLoggedOnce) {
  TTranscodeLog log;
  Task.ProgressInterval = 100000;
  Task.ReportProgress(0, false, 0, 0);
  Task.DupCount = 3;
  Task.DropCount = 1;
  Task.DupDropChanged = true;
  Task.ReportProgress(0, false, 200000, 0);
  Task.ReportProgress(0, false, 400000, 0);
  EXPECT_EQ(log.Count(" dup=3 drop=1"), 1) << log.Text();
  EXPECT_FALSE(Task.DupDropChanged);
}

TEST_F(TaskProgressTest, SizeCountsTheBytesTheOutputStillBuffers) {
  ASSERT_TRUE(Task.AddInput(LavfiVideo(64, 48, 10, 1), "-f lavfi"));
  ASSERT_GE(Task.AddOutput(Dir.Path("buffered.mkv"), "-c:v mpeg4"), 0) << Task.LastErrorText;
  AVIOContext* pb = Task.OutputFiles[0]->FormatContext->pb;
  const std::vector<unsigned char> bytes(3000, 'x');
  avio_write(pb, bytes.data(), 3000);
  avio_flush(pb);
  avio_write(pb, bytes.data(), 2000);  // still in the write buffer, not on disk
  ASSERT_EQ(FileSizeOf(Dir.Path("buffered.mkv")), 3000);

  Task.ProgressInterval = 100000;
  Task.ReportProgress(0, false, 0, 0);
  Task.ReportProgress(0, false, 200000, 0);
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].Size, 5000);

  // A muxer that goes back to patch its header leaves the end of the file
  // where it was.
  avio_seek(pb, 0, SEEK_SET);
  avio_write(pb, bytes.data(), 10);
  Task.ReportProgress(0, false, 400000, 0);
  ASSERT_EQ(Reports.size(), 2u);
  EXPECT_EQ(Reports[1].Size, 5000);
}

TEST_F(TaskProgressTest, RunReportsFramesSizeAndTimeOfTheOutput) {
  TTranscodeLog log;
  ASSERT_NO_FATAL_FAILURE(RunToFile("r.mkv", 2, "-c:v mpeg4"));
  ASSERT_FALSE(Reports.empty());
  const TReport& last = Reports.back();
  EXPECT_EQ(last.FileIndex, -1);
  EXPECT_EQ(last.Frame, 20);
  EXPECT_GT(last.Quality, 0.0f);
  EXPECT_EQ(last.Time, 2000000);
  EXPECT_EQ(last.Size, FileSizeOf(Output));
  EXPECT_NEAR(last.BitRate, static_cast<double>(last.Size) * 8 / 2000.0, 0.01);
  EXPECT_TRUE(log.Contains("frame=   20 fps=")) << log.Text();
  EXPECT_TRUE(log.Contains("Lsize=")) << "the final line is marked";
  EXPECT_FALSE(log.Contains("Output file is empty"));
}

TEST_F(TaskProgressTest, FinalLineCarriesTheQuantiserHistogramAndPsnr) {
  TTranscodeLog log;
  ASSERT_NO_FATAL_FAILURE(RunToFile("psnr.mkv", 1, "-c:v mpeg4 -psnr -qphist"));

  // frame=... q=Q L<32 histogram digits>PSNR=Y:.. U:.. V:.. *:.. size=...
  const std::regex final(
      "q=([0-9.]+) L([0-9A-F]{32})PSNR=Y:([0-9.]+) U:([0-9.]+) V:([0-9.]+) \\*:([0-9.]+) size=");
  std::smatch m;
  const std::string text = log.Text();
  ASSERT_TRUE(std::regex_search(text, m, final)) << text;
  const long q = std::lrint(std::stod(m[1]));
  ASSERT_GE(q, 0);
  ASSERT_LT(q, 32);
  EXPECT_NE(m[2].str()[static_cast<size_t>(q)], '0') << "the final q is counted: " << m[2];
  for (int plane = 3; plane <= 6; ++plane) {
    const double psnr = std::stod(m[plane]);
    EXPECT_GT(psnr, 20.0) << m[0];
    EXPECT_LT(psnr, 99.0) << m[0];
  }
}

}  // namespace
}  // namespace vexa::test
