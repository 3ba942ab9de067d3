#include "Base/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vexa {
namespace {

// Services the queue until `done`; false when that takes longer than 10 s.
template <typename TDone>
bool ServiceUntil(TDone done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    CheckSynchronize(20);
  }
  return true;
}

TEST(MainThread, TestThreadIsMain) {
  EXPECT_TRUE(IsMainThread());
  bool other = true;
  std::thread([&] { other = IsMainThread(); }).join();
  EXPECT_FALSE(other);
}

TEST(MainThread, SynchronizeOnMainRunsInline) {
  int ran = 0;
  Synchronize([&] { ran++; });
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(CheckSynchronize());  // nothing was queued
}

TEST(MainThread, WorkerCallRunsOnMainWhileMainServices) {
  std::atomic<bool> done{false};
  bool ranOnMain = false;
  std::thread worker([&] {
    Synchronize([&] { ranOnMain = IsMainThread(); });
    done = true;
  });
  const bool finished = ServiceUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_TRUE(ranOnMain);
}

TEST(MainThread, ExceptionReachesTheCaller) {
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
    done = true;
  });
  const bool finished = ServiceUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(caught, "boom");
}

TEST(MainThread, QueueDoesNotWaitAndWakeHookFires) {
  std::atomic<int> wakes{0};
  SetWakeMainThreadHook([&] { wakes++; });
  int ran = 0;
  std::thread([&] { Queue([&] { ran++; }); }).join();
  SetWakeMainThreadHook(nullptr);
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(MainThread, CheckSynchronizeOffMainDoesNothing) {
  Queue([] {});
  bool ranElsewhere = true;
  std::thread([&] { ranElsewhere = CheckSynchronize(); }).join();
  EXPECT_FALSE(ranElsewhere);
  EXPECT_TRUE(CheckSynchronize());
}

TEST(MainThread, CallsRunInTheOrderQueued) {
  std::vector<int> order;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    Queue([&] { order.push_back(1); });
    Queue([&] { order.push_back(2); });
    Synchronize([&] { order.push_back(3); });
    done = true;
  });
  const bool finished = ServiceUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

// A call that queues another one (or itself again) must not keep
// CheckSynchronize from returning.
TEST(MainThread, CallQueuedByARunningCallWaitsForTheNextRound) {
  int ran = 0;
  int nestedInline = 0;
  Queue([&] {
    ++ran;
    Synchronize([&] { ++nestedInline; });  // on the main thread: at once
    Queue([&] { ++ran; });
  });
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(nestedInline, 1);
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(ran, 2);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(MainThread, FailingQueuedCallDoesNotStopTheOthers) {
  int ran = 0;
  Queue([] { throw std::runtime_error("dropped"); });
  Queue([&] { ++ran; });
  EXPECT_NO_THROW(CheckSynchronize());
  EXPECT_EQ(ran, 1);
}

TEST(MainThread, FailingWakeHookLeavesTheCallQueued) {
  SetWakeMainThreadHook([] { throw std::runtime_error("hook"); });
  std::atomic<bool> done{false};
  bool threw = false;
  int ran = 0;
  std::thread worker([&] {
    try {
      Synchronize([&] { ++ran; });
    } catch (...) {
      threw = true;
    }
    done = true;
  });
  const bool finished = ServiceUntil([&] { return done.load(); });
  worker.join();
  SetWakeMainThreadHook(nullptr);
  ASSERT_TRUE(finished);
  EXPECT_FALSE(threw);
  EXPECT_EQ(ran, 1);
}

TEST(MainThread, WaitEndsAtTheTimeoutOrWhenACallArrives) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CheckSynchronize(30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

  std::atomic<bool> ran{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Queue([&] { ran = true; });
  });
  // Far longer than the worker needs: the arrival ends the wait.
  EXPECT_TRUE(CheckSynchronize(60000));
  worker.join();
  EXPECT_TRUE(ran);
}

// The caller may rely on being the only owner again once Synchronize returns.
TEST(MainThread, CapturesAreReleasedBeforeTheCallerResumes) {
  std::atomic<bool> done{false};
  long owners = 0;
  std::thread worker([&] {
    auto shared = std::make_shared<int>(7);
    Synchronize([shared] { (void)*shared; });
    owners = shared.use_count();
    done = true;
  });
  const bool finished = ServiceUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(owners, 1);
}

TEST(MainThread, ManyWorkersEachGetTheirOwnCallRun) {
  constexpr int kWorkers = 6;
  constexpr int kCalls = 50;
  std::atomic<int> finished{0};
  std::vector<int> results(kWorkers, 0);  // each touched only on the main thread
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&, w] {
      for (int i = 0; i < kCalls; ++i) Synchronize([&results, w] { results[w] += IsMainThread() ? 1 : 0; });
      ++finished;
    });
  const bool done = ServiceUntil([&] { return finished.load() == kWorkers; });
  for (std::thread& t : workers) t.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(results, std::vector<int>(kWorkers, kCalls));
}

}  // namespace
}  // namespace vexa
