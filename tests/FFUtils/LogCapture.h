// Collects the lines the engine's logger delivers while the object lives.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FFLog/FFLog.h"

namespace vexa::test {

class TLogCapture {
 public:
  explicit TLogCapture(TLogLevel level = llDebug) {
    TFFLogger& logger = GetFFLogger();
    OldLevel_ = logger.LogLevel();
    OldTrigger_ = logger.TriggerEventInMainThread();
    logger.SetTriggerEventInMainThread(false);
    logger.SetLogLevel(level);
    logger.SetOnLog([this](const void*, uint32_t, TLogLevel l, const std::string& msg) {
      std::lock_guard<std::mutex> guard(Lock_);
      Lines_.emplace_back(l, msg);
    });
  }
  ~TLogCapture() {
    TFFLogger& logger = GetFFLogger();
    logger.SetOnLog(nullptr);
    logger.SetLogLevel(OldLevel_);
    logger.SetTriggerEventInMainThread(OldTrigger_);
  }
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  std::vector<std::pair<TLogLevel, std::string>> Lines() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Lines_;
  }
  // Number of delivered lines at `level` equal to `msg`.
  int Count(TLogLevel level, const std::string& msg) const {
    int n = 0;
    for (const auto& [l, m] : Lines())
      if (l == level && m == msg) ++n;
    return n;
  }
  int CountContaining(const std::string& part) const {
    int n = 0;
    for (const auto& line : Lines())
      if (line.second.find(part) != std::string::npos) ++n;
    return n;
  }

 private:
  mutable std::mutex Lock_;
  std::vector<std::pair<TLogLevel, std::string>> Lines_;
  TLogLevel OldLevel_ = llInfo;
  bool OldTrigger_ = false;
};

}  // namespace vexa::test
