// Every way the open of a capture input can fail: its log line and its code,
// and nothing left behind.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include "CaptureTestSupport.h"

#include <X11/Xlib.h>

namespace vexa {
namespace {

using test::TCaptureInput;
using test::TLogCapture;

struct FailRow {
  const char* Name;
  const char* Url;
  std::map<std::string, std::string> Options;
  std::vector<std::string> Lines;  // in this order
  int Code;
  bool NeedsSound;
};

class OpenFailureTest : public ::testing::TestWithParam<FailRow> {};

TEST_P(OpenFailureTest, LogsAndReturns) {
  VEXA_REQUIRE_DISPLAY();
  const FailRow& r = GetParam();
  if (r.NeedsSound) VEXA_REQUIRE_SOUND();
  const int threads = test::ThreadCount();
  TLogCapture log;
  TCaptureInput input;
  EXPECT_EQ(input.Open(r.Url, r.Options), r.Code);
  EXPECT_EQ(input.Format(), nullptr);
  const std::vector<std::string> lines = log.Lines();
  size_t at = 0;
  for (const std::string& want : r.Lines) {
    while (at < lines.size() && lines[at] != want) ++at;
    EXPECT_LT(at, lines.size()) << "missing or out of order: " << want << "\nlog: " << ::testing::PrintToString(lines);
  }
  EXPECT_EQ(test::ThreadCount(), threads);  // the clean-up stopped everything
  EXPECT_EQ(LiveCaptureImages().load(), 0);
  EXPECT_EQ(LiveCaptureWindows().load(), 0);
}

const char* kInvalid = "Invalid parameters, it should be \"video=hwnd:audio=device_id\"";

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailureTest,
    ::testing::Values(
        FailRow{"CapitalV", "Video=0", {}, {kInvalid}, AVERROR(EINVAL), false},
        FailRow{"NoPrefix", "0", {}, {kInvalid}, AVERROR(EINVAL), false},
        FailRow{"VideoNotANumber",
                "video=abc",
                {},
                {"Failed to parse \"video=abc\": 'abc' is not a valid integer value", kInvalid},
                AVERROR(EINVAL),
                false},
        FailRow{"AudioNotANumber",
                "video=0:audio=one",
                {},
                {"Failed to parse \"video=0:audio=one\": 'one' is not a valid integer value", kInvalid},
                AVERROR(EINVAL),
                false},
        FailRow{"FrameRateText", "video=0", {{"framerate", "abc"}}, {"Could not parse framerate \"abc\"."},
                AVERROR(EINVAL), false},
        FailRow{"FrameRateZero", "video=0", {{"framerate", "0/1"}}, {"Could not parse framerate \"0/1\"."},
                AVERROR(EINVAL), false},
        FailRow{"SizeText", "video=0", {{"video_size", "big"}}, {"Could not parse video size \"big\"."},
                AVERROR(EINVAL), false},
        FailRow{"SizeNegative", "video=0", {{"video_size", "-5x10"}},
                {"Could not parse video size \"-5x10\"."}, AVERROR(EINVAL), false},
        FailRow{"OffsetWithoutComma", "video=0", {{"capture_offset", "10"}},
                {"Could not parse capture-offset \"10\"."}, AVERROR(EINVAL), false},
        FailRow{"OffsetTrailing", "video=0", {{"capture_offset", "10,20x"}},
                {"Could not parse capture-offset \"10,20x\"."}, AVERROR(EINVAL), false},
        FailRow{"OffsetNoX", "video=0", {{"capture_offset", ",20"}}, {"Could not parse capture-offset \",20\"."},
                AVERROR(EINVAL), false},
        FailRow{"OffsetOffScreen", "video=0", {{"capture_offset", "100000,0"}}, {"Invalid properties, aborting."},
                AVERROR(EIO), false},
        FailRow{"NoSuchWindow", "video=4194303", {}, {"Could not get window DC: GetDC() or GetWindowDC() error 3."},
                AVERROR(EIO), false},
        FailRow{"SampleFormatFloat", "audio=-1", {{"sample_fmt", "flt"}},
                {"Invalid sample format: \"flt\", it should be u8 or s16"}, AVERROR(EINVAL), false},
        FailRow{"SampleRateZero", "audio=-1", {{"sample_rate", "0"}}, {"Invalid sample rate 0"}, AVERROR(EINVAL),
                false},
        FailRow{"ChannelsZero", "audio=-1", {{"channels", "0"}}, {"Invalid channels 0"}, AVERROR(EINVAL), false},
        FailRow{"NoSuchSource", "audio=99", {}, {"No such entity"}, AVERROR(EIO), true},
        FailRow{"SourceBelowDefault", "audio=-2", {}, {"No such entity"}, AVERROR(EIO), true},
        FailRow{"TooManyChannels", "audio=-1", {{"channels", "300"}}, {"Invalid argument"}, AVERROR(EIO), true},
        // The video half fails first and the sound source is never opened.
        FailRow{"VideoFailsBeforeAudio", "video=0:audio=99", {{"framerate", "abc"}},
                {"Could not parse framerate \"abc\"."}, AVERROR(EINVAL), false}),
    [](const ::testing::TestParamInfo<FailRow>& i) { return std::string(i.param.Name); });

// The video half opened (with its region frame), then the sound source
// failed: everything made so far is released.
TEST(OpenFailure, VideoReadyLineThenAudioFailure) {
  VEXA_REQUIRE_DISPLAY();
  VEXA_REQUIRE_SOUND();
  TLogCapture log;
  TCaptureInput input;
  EXPECT_EQ(input.Open("video=0:audio=99", {{"video_size", "64x48"}, {"capture_offset", "3,4"}, {"capture_flags", "+showframe"}}),
            AVERROR(EIO));
  EXPECT_EQ(LiveCaptureImages().load(), 0);
  EXPECT_EQ(LiveCaptureWindows().load(), 0);
  EXPECT_TRUE(log.Has("ready for screen capturing 64x48x32 at (3,4)"));
  EXPECT_TRUE(log.Has("No such entity"));
  EXPECT_FALSE(log.Has("ready for wave recording"));
}

TEST(OpenFailure, NoSoundServer) {
  VEXA_REQUIRE_DISPLAY();
  const char* saved = std::getenv("PULSE_SERVER");
  const std::string keep = saved ? saved : "";
  setenv("PULSE_SERVER", "unix:/nonexistent/vexa-no-server", 1);
  TLogCapture log;
  TCaptureInput input;
  const int ret = input.Open("video=0:audio=-1", {});
  if (saved) setenv("PULSE_SERVER", keep.c_str(), 1); else unsetenv("PULSE_SERVER");
  EXPECT_EQ(ret, AVERROR(EIO));
  EXPECT_TRUE(log.Has("No wave audio recording devices found."));
}

// A screen depth without a pixel format: an 8-bit Xvfb of our own.
TEST(OpenFailure, UnsupportedDepth) {
  VEXA_REQUIRE_DISPLAY();
  if (system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Xvfb";
  int number = 0;
  for (int n = 171; n < 200 && !number; ++n) {
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
    if (access(lock.c_str(), F_OK) != 0 && access(sock.c_str(), F_OK) != 0) number = n;
  }
  ASSERT_NE(number, 0);
  const std::string display = ":" + std::to_string(number);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "320x240x8", "-nolisten", "tcp", "-ac",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string saved = std::getenv("DISPLAY");
  // The probing connection stays open: a server whose last client leaves
  // resets and refuses connections meanwhile.
  Display* probe = nullptr;
  for (int i = 0; i < 100 && !probe; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    probe = XOpenDisplay(display.c_str());
  }
  const bool up = probe != nullptr;
  int ret = 0;
  std::vector<std::string> lines;
  if (up) {
    setenv("DISPLAY", display.c_str(), 1);
    TLogCapture log;
    TCaptureInput input;
    ret = input.Open("video=0", {});
    lines = log.LinesWith("not supported");
    setenv("DISPLAY", saved.c_str(), 1);
    XCloseDisplay(probe);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  ASSERT_TRUE(up) << "private Xvfb did not start";
  EXPECT_EQ(ret, AVERROR(EIO));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "image depth 8 not supported ... aborting");
}

}  // namespace
}  // namespace vexa
