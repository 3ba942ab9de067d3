// Lines logged on worker threads: delivery on the main thread, no deadlock
// while the main thread logs, delivery on the worker, per-thread assembly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FFLog/LogTestFixture.h"

namespace vexa {
namespace {

using ::testing::ElementsAre;
using test::LoggerFixture;
using test::ServiceMainThreadUntil;
using test::TWatchdog;

class LoggerThreads : public LoggerFixture {
 protected:
  void TearDown() override {
    SetWakeMainThreadHook(nullptr);
    LoggerFixture::TearDown();
  }
};

enum class TWorkerLog { Media, Direct };

void LogFromWorker(TWorkerLog kind, const char* text) {
  if (kind == TWorkerLog::Media)
    av_log(nullptr, AV_LOG_INFO, "%s\n", text);
  else
    Log(nullptr, llInfo, text);
}

class LoggerThreadsKinds : public LoggerThreads, public ::testing::WithParamInterface<TWorkerLog> {};

TEST_P(LoggerThreadsKinds, WorkerLineRunsOnTheMainThreadWhileItWaitsForTheWorker) {
  TWatchdog watchdog(30);
  std::atomic<uint32_t> workerId{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    workerId = test::ThisThreadId();
    LogFromWorker(GetParam(), "from worker");
    done = true;
  });
  const bool finished = ServiceMainThreadUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Msg, "from worker");
  EXPECT_TRUE(lines[0].OnMainThread);
  EXPECT_EQ(lines[0].ThreadID, workerId.load());
  EXPECT_NE(lines[0].ThreadID, test::ThisThreadId());
}

// The worker waits for the main thread to run its OnLog; before servicing the
// queue, the main thread logs itself, through both paths.
TEST_P(LoggerThreadsKinds, MainThreadLogsWhileAWorkerWaitsForIt) {
  TWatchdog watchdog(30);
  std::atomic<bool> queued{false};
  SetWakeMainThreadHook([&] { queued = true; });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    LogFromWorker(GetParam(), "worker line");
    done = true;
  });
  while (!queued) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  av_log(nullptr, AV_LOG_INFO, "main media line\n");
  Log(nullptr, llInfo, "main direct line");
  LogFmt(nullptr, llInfo, "main %s line", "formatted");
  EXPECT_FALSE(done.load());
  const bool finished = ServiceMainThreadUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_THAT(Messages(), ElementsAre("main media line", "main direct line", "main formatted line", "worker line"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoggerThreadsKinds, ::testing::Values(TWorkerLog::Media, TWorkerLog::Direct),
                         [](const ::testing::TestParamInfo<TWorkerLog>& info) {
                           return std::string(info.param == TWorkerLog::Media ? "Media" : "Direct");
                         });

TEST_F(LoggerThreads, ManyWorkersAndTheMainThreadLogTogether) {
  TWatchdog watchdog(60);
  constexpr int kWorkers = 4;
  constexpr int kLines = 50;
  std::atomic<int> running{kWorkers};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&, w] {
      for (int i = 0; i < kLines; ++i) {
        av_log(nullptr, AV_LOG_INFO, "w%d ", w);
        av_log(nullptr, AV_LOG_INFO, "media %d\n", i);
        LogFmt(nullptr, llInfo, "w%d direct %d", w, i);
      }
      --running;
    });
  int mainLines = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (running > 0 && std::chrono::steady_clock::now() < deadline) {
    LogFmt(nullptr, llInfo, "main %d", mainLines++);
    CheckSynchronize(1);
  }
  const bool finished = running == 0;
  for (std::thread& t : workers) t.join();
  ASSERT_TRUE(finished);
  std::map<std::string, int> seen;
  for (const auto& line : Logged()) {
    EXPECT_TRUE(line.OnMainThread) << line.Msg;
    ++seen[line.Msg];
  }
  for (int w = 0; w < kWorkers; ++w)
    for (int i = 0; i < kLines; ++i) {
      EXPECT_EQ(seen["w" + std::to_string(w) + " media " + std::to_string(i)], 1) << w << " " << i;
      EXPECT_EQ(seen["w" + std::to_string(w) + " direct " + std::to_string(i)], 1) << w << " " << i;
    }
  for (int i = 0; i < mainLines; ++i) EXPECT_EQ(seen["main " + std::to_string(i)], 1);
  EXPECT_EQ(Logged().size(), static_cast<size_t>(2 * kWorkers * kLines + mainLines));
}

TEST_F(LoggerThreads, WithoutMainThreadDeliveryOnLogRunsOnTheWorker) {
  Logger.SetTriggerEventInMainThread(false);
  uint32_t workerId = 0;
  std::thread worker([&] {
    workerId = test::ThisThreadId();
    av_log(nullptr, AV_LOG_INFO, "media from worker\n");
    Log(nullptr, llWarning, "direct from worker");
  });
  worker.join();  // no servicing of the main-thread queue
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines) {
    EXPECT_FALSE(line.OnMainThread);
    EXPECT_EQ(line.HandlerThreadID, workerId);
    EXPECT_EQ(line.ThreadID, workerId);
  }
  EXPECT_EQ(lines[1].Level, llWarning);
}

// The main thread begins a line, a worker logs whole lines, then the main
// thread ends its line: each thread's text stays its own.
struct TTwoThreadCase {
  const char* Name;
  std::vector<const char*> WorkerCalls;
  std::vector<std::string> Expected;
};

class LoggerTwoThreads : public LoggerFixture, public ::testing::WithParamInterface<TTwoThreadCase> {};

TEST_P(LoggerTwoThreads, PendingTextIsKeptPerThread) {
  Logger.SetTriggerEventInMainThread(false);
  av_log(nullptr, AV_LOG_INFO, "main ");
  const std::vector<const char*>& calls = GetParam().WorkerCalls;
  std::thread worker([&calls] {
    for (const char* call : calls) av_log(nullptr, AV_LOG_INFO, "%s", call);
  });
  worker.join();
  av_log(nullptr, AV_LOG_INFO, "done\n");
  EXPECT_EQ(Messages(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoggerTwoThreads,
    ::testing::Values(
        TTwoThreadCase{"OwnTextOnEachThread", {"worker begins ", "worker ends\n"},
                       {"worker begins worker ends", "main done"}},
        // The same line end on both threads is no repeat.
        TTwoThreadCase{"SameEndIsNoRepeat", {"worker ", "done\n"}, {"worker done", "main done"}}),
    [](const ::testing::TestParamInfo<TTwoThreadCase>& info) { return std::string(info.param.Name); });

// A logger freed while a worker is inside its OnLog waits for that call.
class LoggerDestruction : public ::testing::TestWithParam<bool> {};

TEST_P(LoggerDestruction, DestructorWaitsForLinesInDelivery) {
  TWatchdog watchdog(30);
  const bool inMainThread = GetParam();
  auto received = std::make_unique<std::vector<std::string>>();
  std::vector<std::string>* sink = received.get();
  std::atomic<bool> entered{false};
  auto logger = std::make_unique<TFFLogger>();
  logger->SetLogLevel(llInfo);  // the level left behind by other tests is inherited
  logger->SetTriggerEventInMainThread(inMainThread);
  logger->SetOnLog([sink, &entered](const void*, uint32_t, TLogLevel, const std::string& msg) {
    entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sink->push_back(msg);
  });
  std::atomic<bool> queued{false};
  SetWakeMainThreadHook([&] { queued = true; });
  std::thread worker([] { Log(nullptr, llInfo, "in flight"); });
  if (inMainThread) {
    while (!queued) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } else {
    while (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  logger.reset();  // on the main thread: services the queue while it waits
  SetWakeMainThreadHook(nullptr);
  EXPECT_THAT(*received, ElementsAre("in flight"));
  worker.join();
}

INSTANTIATE_TEST_SUITE_P(Delivery, LoggerDestruction, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "OnMainThread" : "OnWorker");
                         });

}  // namespace
}  // namespace vexa

namespace vexa {
namespace {

// A capture thread logs while the main thread is busy elsewhere: its lines
// never make it wait; they reach OnLog on the main thread once it serves its
// queue, in order, and the thread's next lines wait for nothing either.
TEST_F(LoggerThreads, ThreadThatMustNotWaitHandsItsLinesOver) {
  TWatchdog watchdog(60);
  std::atomic<bool> done{false};
  std::thread capture([&] {
    const TLogWithoutWaiting neverWait;
    for (int i = 0; i < 3; ++i) {
      LogFmt(nullptr, llInfo, "grabbed %d", i);
      av_log(nullptr, AV_LOG_ERROR, "dropped %d\n", i);
    }
    done = true;
  });
  // The main thread does not serve its queue meanwhile.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bool finished = done;
  capture.join();
  ASSERT_TRUE(finished) << "the thread waited for the main thread";
  EXPECT_TRUE(Logged().empty());
  CheckSynchronize(0);
  std::vector<std::string> messages;
  for (const auto& line : Logged()) {
    EXPECT_TRUE(line.OnMainThread) << line.Msg;
    messages.push_back(line.Msg);
  }
  EXPECT_THAT(messages, ElementsAre("grabbed 0", "dropped 0", "grabbed 1", "dropped 1", "grabbed 2", "dropped 2"));

  // Out of the scope, a worker waits for the main thread again.
  ClearLogged();
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    LogFmt(nullptr, llInfo, "worker");
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(returned);
  while (!returned) CheckSynchronize(5);
  worker.join();
  EXPECT_EQ(Messages(), std::vector<std::string>{"worker"});
}

}  // namespace
}  // namespace vexa
