// vexaenc run as a program: exit status, messages, the written file, and a
// clean stop on SIGINT.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FFEncode/EncoderTestSupport.h"
#include "Support/MediaFixtures.h"

extern char** environ;

namespace vexa::test {
namespace {

// vexaenc started with stdout and stderr sent to files.
class TVexaenc {
 public:
  TVexaenc(const TTempDir& dir, const std::vector<std::string>& args)
      : Out_(dir.Path("stdout.txt")), Err_(dir.Path("stderr.txt")) {
    std::vector<std::string> argv = {VEXAENC_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, Out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, Err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Started_ = posix_spawn(&Pid_, raw[0], &actions, nullptr, raw.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~TVexaenc() {
    if (Started_ && !Waited_) {
      kill(Pid_, SIGKILL);
      Wait();
    }
  }
  bool Started() const { return Started_; }
  void Signal(int sig) const { kill(Pid_, sig); }
  // The exit status, or -1 when the program did not exit normally.
  int Wait() {
    int status = 0;
    waitpid(Pid_, &status, 0);
    Waited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Stdout() const { return Read(Out_); }
  std::string Stderr() const { return Read(Err_); }

 private:
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Out_, Err_;
  pid_t Pid_ = 0;
  bool Started_ = false;
  bool Waited_ = false;
};

TEST(VexaencTest, ShortLavfiRunToMp4ExitsZeroAndTheFileDecodes) {
  TTempDir dir;
  const std::string out = dir.Path("short.mp4");
  TVexaenc run(dir, {"--progress-interval", "200", LavfiInput(2.0), "-f lavfi", out, "-c:v mpeg4 -c:a aac"});
  ASSERT_TRUE(run.Started());
  ASSERT_EQ(run.Wait(), 0) << run.Stderr();
  EXPECT_NE(run.Stdout().find("[final]"), std::string::npos) << run.Stdout();
  EXPECT_NE(run.Stderr().find("Stream mapping:"), std::string::npos) << "the log goes to the terminal";
  const TReadBack file = ReadBack(out);
  ASSERT_TRUE(IsFinishedFile(file));
  EXPECT_EQ(file.Codecs, (std::vector<std::string>{"mpeg4", "aac"}));
  EXPECT_NEAR(static_cast<double>(file.VideoFrames), 30.0, 1.0);
}

TEST(VexaencTest, FailuresExitNonZeroWithTheReason) {
  struct TCase {
    std::vector<std::string> Args;  // "OUT" stands for an output path
    int Status;
    std::string Reason;
  };
  const std::vector<TCase> cases = {
      {{"/nonexistent/in.mkv", "", "OUT", ""}, 1, "cannot open input \"/nonexistent/in.mkv\""},
      {{LavfiVideo(1.0), "-f lavfi", "OUT", "-c:v nope"}, 1, "Unknown encoder \"nope\""},
      {{LavfiVideo(1.0), "-f lavfi", "OUT", "-c:v rawvideo"}, 1, "Could not write header for output file #0"},
      {{LavfiVideo(1.0), "-f lavfi", "OUT"}, 2, "usage: vexaenc"},
      {{"--loglevel", "loud", LavfiVideo(1.0), "-f lavfi", "OUT", ""}, 2, "unknown log level \"loud\""},
  };
  for (const TCase& c : cases) {
    TTempDir dir;
    std::vector<std::string> args = c.Args;
    for (std::string& a : args)
      if (a == "OUT") a = dir.Path("out.mp4");
    TVexaenc run(dir, args);
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.Wait(), c.Status) << c.Reason << "\n" << run.Stderr();
    EXPECT_NE(run.Stderr().find(c.Reason), std::string::npos) << run.Stderr();
  }
}

TEST(VexaencTest, HelpDescribesTheSyntax) {
  TTempDir dir;
  TVexaenc run(dir, {"--help"});
  ASSERT_TRUE(run.Started());
  EXPECT_EQ(run.Wait(), 0);
  const std::string text = run.Stdout();
  for (const char* part : {"INPUT-NAME \"INPUT LINE\" OUTPUT-FILE \"OUTPUT LINE\"", "--loglevel", "--log-file",
                           "--progress-interval", "SIGINT"})
    EXPECT_NE(text.find(part), std::string::npos) << part;
}

TEST(VexaencTest, SigintMidRunLeavesAFinishedFile) {
  TTempDir dir;
  const std::string out = dir.Path("live.mp4");
  TVexaenc run(dir, {"--progress-interval", "100", LavfiVideo(0), "-re -f lavfi", out, "-c:v mpeg4"});
  ASSERT_TRUE(run.Started());
  // Wait until the run reports progress, then interrupt it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (run.Stdout().find("progress:") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_NE(run.Stdout().find("progress:"), std::string::npos) << run.Stderr();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(), 0) << run.Stderr();
  EXPECT_NE(run.Stdout().find("[final]"), std::string::npos);
  const TReadBack file = ReadBack(out);
  ASSERT_TRUE(IsFinishedFile(file));
  EXPECT_GT(file.VideoFrames, 5);
}

}  // namespace
}  // namespace vexa::test
