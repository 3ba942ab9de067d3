// The log file: line format, appending, switching files, failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FFLog/LogTestFixture.h"

namespace vexa {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> SplitCrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "text after the last CRLF";
  return lines;
}

int SecondsOfDayNow() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

class LogFile : public test::LoggerFixture {
 protected:
  void SetUp() override {
    LoggerFixture::SetUp();
    char dir[] = "/tmp/vexa-fflog-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    Dir = dir;
  }
  void TearDown() override {
    LoggerFixture::TearDown();
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }
  std::string Dir;
};

TEST_F(LogFile, EachLineIsTimeThreadLevelAndMessage) {
  const std::string path = Dir + "/engine.log";
  Logger.SetLogFile(path);
  Logger.SetLogToFile(true);
  const int before = SecondsOfDayNow();
  Log(nullptr, llInfo, "Stream mapping:");
  av_log(nullptr, AV_LOG_WARNING, "media %s\n", "warning");
  uint32_t workerId = 0;
  std::thread worker([&] {
    workerId = test::ThisThreadId();
    Log(nullptr, llDebug, "from worker");
  });
  ASSERT_TRUE(test::ServiceMainThreadUntil([&] { return Logged().size() == 3; }));
  worker.join();
  const int after = SecondsOfDayNow();

  const auto lines = SplitCrLfLines(ReadFile(path));
  ASSERT_EQ(lines.size(), 3u);
  const std::regex format(R"(^(\d\d):(\d\d):(\d\d) (\d\d\d) \[([0-9A-F]{8})\] (\w+): (.*)$)");
  const struct {
    uint32_t Thread;
    const char* Level;
    const char* Msg;
  } expected[] = {{test::ThisThreadId(), "Info", "Stream mapping:"},
                  {test::ThisThreadId(), "Warning", "media warning"},
                  {workerId, "Debug", "from worker"}};
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, format));
    const int hour = std::stoi(m[1]), minute = std::stoi(m[2]), second = std::stoi(m[3]);
    EXPECT_LT(hour, 24);
    EXPECT_LT(minute, 60);
    EXPECT_LT(second, 61);
    const int at = hour * 3600 + minute * 60 + second;
    EXPECT_TRUE(before <= after ? (at >= before && at <= after) : (at >= before || at <= after));
    EXPECT_EQ(std::stoul(m[5].str(), nullptr, 16), expected[i].Thread);
    EXPECT_EQ(m[6].str(), expected[i].Level);
    EXPECT_EQ(m[7].str(), expected[i].Msg);
  }
}

TEST_F(LogFile, AppendsToAnExistingFileAndWorksWithoutOnLog) {
  const std::string path = Dir + "/existing.log";
  { std::ofstream(path, std::ios::binary) << "earlier run\r\n"; }
  Logger.SetOnLog(nullptr);
  Logger.SetLogFile(path);
  Logger.SetLogToFile(true);
  EXPECT_FALSE(Logger.Inactive());
  Log(nullptr, llError, "this run");
  const auto lines = SplitCrLfLines(ReadFile(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier run");
  EXPECT_THAT(lines[1], ::testing::EndsWith("] Error: this run"));
}

TEST_F(LogFile, ChangingTheFileClosesTheOldOne) {
  const std::string first = Dir + "/first.log", second = Dir + "/second.log";
  Logger.SetLogFile(first);
  Logger.SetLogToFile(true);
  Log(nullptr, llInfo, "one");
  Logger.SetLogFile(second);
  Log(nullptr, llInfo, "two");
  Logger.SetLogToFile(false);
  Log(nullptr, llInfo, "three");
  ASSERT_EQ(SplitCrLfLines(ReadFile(first)).size(), 1u);
  ASSERT_EQ(SplitCrLfLines(ReadFile(second)).size(), 1u);
  EXPECT_THAT(ReadFile(first), HasSubstr("Info: one\r\n"));
  EXPECT_THAT(ReadFile(second), HasSubstr("Info: two\r\n"));
  EXPECT_THAT(Messages(), ElementsAre("one", "two", "three"));
}

TEST_F(LogFile, FailingFileIsReportedOnceAndLoggingGoesOn) {
  const std::string bad = Dir + "/missing/folder/engine.log";
  Logger.SetLogFile(bad);
  Logger.SetLogToFile(true);
  Log(nullptr, llInfo, "first");
  av_log(nullptr, AV_LOG_INFO, "second\n");
  Log(nullptr, llInfo, "third");
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].Msg, "first");
  EXPECT_THAT(lines[1].Msg, HasSubstr(bad));
  EXPECT_EQ(lines[1].Level, llError);
  EXPECT_EQ(lines[1].Sender, &Logger);
  EXPECT_EQ(lines[2].Msg, "second");
  EXPECT_EQ(lines[3].Msg, "third");

  // A working file name starts writing again.
  const std::string good = Dir + "/engine.log";
  Logger.SetLogFile(good);
  Log(nullptr, llInfo, "fourth");
  EXPECT_THAT(ReadFile(good), ::testing::EndsWith("] Info: fourth\r\n"));
}

TEST_F(LogFile, WriteFailureIsReportedOnce) {
  struct stat st{};
  if (stat("/dev/full", &st) != 0) GTEST_SKIP() << "no /dev/full";
  Logger.SetLogFile("/dev/full");
  Logger.SetLogToFile(true);
  Log(nullptr, llInfo, "a");
  Log(nullptr, llInfo, "b");
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "a");
  EXPECT_THAT(messages[1], HasSubstr("Cannot write log file \"/dev/full\""));
  EXPECT_EQ(messages[2], "b");
}

}  // namespace
}  // namespace vexa
