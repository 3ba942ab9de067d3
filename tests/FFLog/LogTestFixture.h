// Shared helpers of the logger tests: a fixture that owns the logger and
// records every delivered line, and a watchdog that ends a hung test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "Base/MainThread.h"
#include "FFLog/FFLog.h"

namespace vexa::test {

struct TLoggedLine {
  const void* Sender;
  uint32_t ThreadID;
  TLogLevel Level;
  std::string Msg;
  bool OnMainThread;
  uint32_t HandlerThreadID;
};

inline uint32_t ThisThreadId() { return static_cast<uint32_t>(gettid()); }

// av_log(ctx, level, "%s", NULL): the call that ends a run.
inline void QuietMediaCall(void* ctx = nullptr, int level = AV_LOG_INFO) {
  const char* volatile none = nullptr;
  av_log(ctx, level, "%s", none);
}

// Aborts the process when not cancelled within `seconds`: a deadlock must fail
// the suite, not hang it.
class TWatchdog {
 public:
  explicit TWatchdog(int seconds) : Thread_([this, seconds] {
      std::unique_lock<std::mutex> lock(Lock_);
      if (!Done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return Cancelled_; })) {
        std::fprintf(stderr, "watchdog: deadlock, test did not finish in %d s\n", seconds);
        std::abort();
      }
    }) {}
  ~TWatchdog() {
    {
      std::lock_guard<std::mutex> guard(Lock_);
      Cancelled_ = true;
    }
    Done_.notify_all();
    Thread_.join();
  }

 private:
  std::mutex Lock_;
  std::condition_variable Done_;
  bool Cancelled_ = false;
  std::thread Thread_;
};

// Services the main-thread queue until `done` holds; false after `seconds`.
inline bool ServiceMainThreadUntil(const std::function<bool()>& done, int seconds = 10) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    CheckSynchronize(20);
  }
  return true;
}

// Owns the test's logger (hooked into the media library, level llDebug) and
// records the lines it delivers from the moment the fixture is set up.
class LoggerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Logger.SetLogToFile(false);
    Logger.SetLogFile("");
    Logger.SetLogLevel(llDebug);
    HookMediaLog();
    Logger.SetOnLog([this](const void* sender, uint32_t threadId, TLogLevel level, const std::string& msg) {
      std::lock_guard<std::mutex> guard(Lock);
      if (Recording)
        Lines.push_back({sender, threadId, level, msg, IsMainThread(), ThisThreadId()});
    });
    // End text and repeats that earlier tests may have left behind.
    av_log(nullptr, AV_LOG_PANIC, "\n");
    QuietMediaCall(nullptr, AV_LOG_PANIC);
    std::lock_guard<std::mutex> guard(Lock);
    Recording = true;
  }

  void TearDown() override {
    Logger.SetLogToFile(false);
    Logger.SetLogFile("");
  }

  std::vector<TLoggedLine> Logged() {
    std::lock_guard<std::mutex> guard(Lock);
    return Lines;
  }

  std::vector<std::string> Messages() {
    std::vector<std::string> out;
    for (const TLoggedLine& line : Logged()) out.push_back(line.Msg);
    return out;
  }

  void ClearLogged() {
    std::lock_guard<std::mutex> guard(Lock);
    Lines.clear();
  }

  TFFLogger Logger;
  std::mutex Lock;
  bool Recording = false;
  std::vector<TLoggedLine> Lines;
};

}  // namespace vexa::test
