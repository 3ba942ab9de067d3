#include "Base/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace vexa {
namespace {

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
}

TEST(MainThread, WorkerCallRunsOnMainWhileMainServices) {
  std::atomic<bool> done{false};
  bool ranOnMain = false;
  std::thread worker([&] {
    Synchronize([&] { ranOnMain = IsMainThread(); });
    done = true;
  });
  while (!done) CheckSynchronize(20);
  worker.join();
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
  while (!done) CheckSynchronize(20);
  worker.join();
  EXPECT_EQ(caught, "boom");
}

TEST(MainThread, QueueDoesNotWaitAndWakeHookFires) {
  std::atomic<int> wakes{0};
  SetWakeMainThreadHook([&] { wakes++; });
  int ran = 0;
  std::thread([&] { Queue([&] { ran++; }); }).join();
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(CheckSynchronize());
  SetWakeMainThreadHook(nullptr);
}

TEST(MainThread, CheckSynchronizeOffMainDoesNothing) {
  Queue([] {});
  bool ranElsewhere = true;
  std::thread([&] { ranElsewhere = CheckSynchronize(); }).join();
  EXPECT_FALSE(ranElsewhere);
  EXPECT_TRUE(CheckSynchronize());
}

}  // namespace
}  // namespace vexa
