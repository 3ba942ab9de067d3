// Records the lines the engine's logger delivers while the recorder exists.
// Header-only: only the suites that include it need the logger.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "FFLog/FFLog.h"

namespace vexa::test {

struct TLogLine {
  TLogLevel Level;
  std::string Msg;
};

// Whether the recorder also routes the media library's own messages to the
// logger (HookMediaLog).
enum class TMediaLog { Leave, Hook };

// Takes the logger's OnLog for its lifetime, at `level`, delivered on the
// logging thread; afterwards OnLog is cleared and the previous level and
// delivery mode come back.
class TLogRecorder {
 public:
  explicit TLogRecorder(TLogLevel level = llDebug, TMediaLog media = TMediaLog::Leave) {
    TFFLogger& logger = GetFFLogger();
    OldLevel_ = logger.LogLevel();
    OldTrigger_ = logger.TriggerEventInMainThread();
    logger.SetTriggerEventInMainThread(false);
    logger.SetLogLevel(level);
    logger.SetOnLog([this](const void*, uint32_t, TLogLevel l, const std::string& msg) {
      std::lock_guard<std::mutex> guard(Lock_);
      Lines_.push_back(TLogLine{l, msg});
    });
    if (media == TMediaLog::Hook) HookMediaLog();
  }
  ~TLogRecorder() {
    TFFLogger& logger = GetFFLogger();
    logger.SetOnLog(nullptr);
    logger.SetLogLevel(OldLevel_);
    logger.SetTriggerEventInMainThread(OldTrigger_);
  }
  TLogRecorder(const TLogRecorder&) = delete;
  TLogRecorder& operator=(const TLogRecorder&) = delete;

  std::vector<TLogLine> Lines() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Lines_;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const TLogLine& line : Lines()) out.push_back(line.Msg);
    return out;
  }
  // The messages that contain `part`.
  std::vector<std::string> MessagesWith(const std::string& part) const {
    std::vector<std::string> out;
    for (const TLogLine& line : Lines())
      if (line.Msg.find(part) != std::string::npos) out.push_back(line.Msg);
    return out;
  }
  int CountContaining(const std::string& part) const { return static_cast<int>(MessagesWith(part).size()); }
  bool ContainsText(const std::string& part) const { return CountContaining(part) > 0; }

  // Lines equal to `msg` (at `level`), line ends at the end of a line ignored.
  int Count(const std::string& msg) const {
    int n = 0;
    for (const TLogLine& line : Lines())
      if (WithoutLineEnd(line.Msg) == msg) ++n;
    return n;
  }
  int Count(TLogLevel level, const std::string& msg) const {
    int n = 0;
    for (const TLogLine& line : Lines())
      if (line.Level == level && WithoutLineEnd(line.Msg) == msg) ++n;
    return n;
  }
  bool Contains(TLogLevel level, const std::string& msg) const { return Count(level, msg) > 0; }

  // Every message, one a line.
  std::string Text() const {
    std::string text;
    for (const TLogLine& line : Lines()) text += line.Msg + "\n";
    return text;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(Lock_);
    Lines_.clear();
  }

 private:
  static std::string WithoutLineEnd(std::string msg) {
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r')) msg.pop_back();
    return msg;
  }

  mutable std::mutex Lock_;
  std::vector<TLogLine> Lines_;
  TLogLevel OldLevel_ = llInfo;
  bool OldTrigger_ = true;
};

}  // namespace vexa::test
