// The engine's logger: every diagnostic line ends here, both the media
// library's av_log output (hooked with av_log_set_callback) and the lines the
// engine logs directly. Lines are filtered by level, reassembled per thread,
// repeated lines are collapsed, and each line goes to OnLog (optionally on the
// main thread) and optionally to a text file.
//
// Exactly one TFFLogger exists at a time. A logger the application creates
// becomes current (freeing one that GetFFLogger created on demand); creating a
// second one while an application logger exists throws
// vexa::FFmpegException("Allow creating only one instance of TFFLogger.").
//
// LogFile, LogToFile, the open log file and the media filter level are
// process-wide: they survive a logger and are seen by the next one.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

#include "Base/FFBaseComponent.h"

namespace vexa {

enum TLogLevel : int { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// (ordinal - 1) * 8: llQuiet -> -8, llPanic -> 0 ... llDebug -> 48.
int LogLevelToMedia(TLogLevel level);
// trunc(L / 8) + 1 clamped to llQuiet..llDebug.
TLogLevel MediaToLogLevel(int mediaLevel);
// "Quiet", "Panic", "Fatal", "Error", "Warning", "Info", "Verbose", "Debug".
const char* LogLevelName(TLogLevel level);

// Called once per delivered line. Sender is the logger for media library
// lines, the caller's Sender for Log/LogFmt; ThreadID is the kernel thread id
// of the logging thread.
using TLogEvent = std::function<void(const void* Sender, uint32_t ThreadID, TLogLevel Level,
                                     const std::string& Msg)>;

class TFFLogger : public TFFBaseComponent {
 public:
  TFFLogger();
  // Stops being current, waits for lines still being delivered through this
  // logger (servicing the main-thread queue when called on the main thread),
  // then closes the log file.
  ~TFFLogger() override;

  bool Active() const;
  void SetActive(bool value);

  // Lines above this level are dropped. While the media log hook is
  // installed, a change also sets the media library's level.
  TLogLevel LogLevel() const;
  void SetLogLevel(TLogLevel value);

  std::string LogFile() const;
  void SetLogFile(const std::string& value);

  bool LogToFile() const;
  void SetLogToFile(bool value);

  // When set (the default), OnLog for a line logged on another thread runs on
  // the main thread and the logging thread waits for it (unless the thread
  // logs without waiting, TLogWithoutWaiting).
  bool TriggerEventInMainThread() const;
  void SetTriggerEventInMainThread(bool value);

  TLogEvent OnLog() const;
  void SetOnLog(TLogEvent value);

  // Inactive = not (Active and (OnLog assigned or (LogToFile and LogFile not
  // empty))). A new logger is inactive until one of the setters of Active,
  // LogFile, LogToFile or OnLog recomputes it. An inactive logger drops every
  // line without formatting it.
  bool Inactive() const;

 private:
  friend struct TFFLoggerAccess;
  void UpdateInactive();  // logger lock held

  bool CreatedOnDemand_ = false;
  bool Inactive_ = true;
  bool Active_ = true;
  bool TriggerEventInMainThread_ = true;
  std::atomic<int> LogLevel_{llInfo};
  TLogEvent OnLog_;
};

// While one exists on a thread, that thread never waits for the main thread
// when it logs (the capture threads, which must keep their pace while the
// main thread is busy): a line whose OnLog runs on the main thread is queued
// there and the logging thread goes on at once. The line still counts as in
// delivery until OnLog ran, so a logger's destructor waits for it.
class TLogWithoutWaiting {
 public:
  TLogWithoutWaiting();
  ~TLogWithoutWaiting();
  TLogWithoutWaiting(const TLogWithoutWaiting&) = delete;
  TLogWithoutWaiting& operator=(const TLogWithoutWaiting&) = delete;

 private:
  bool Previous_;
};

// The current logger; creates one on demand when none exists.
TFFLogger& GetFFLogger();

// Direct logging from the calling thread; dropped when the logger is inactive
// or Level is above its LogLevel. Never throws: an exception from OnLog is
// dropped.
void Log(const void* Sender, TLogLevel Level, const std::string& Msg);
void LogFmt(const void* Sender, TLogLevel Level, const char* Fmt, ...)
    __attribute__((format(printf, 3, 4)));
void LogFmtV(const void* Sender, TLogLevel Level, const char* Fmt, va_list Args)
    __attribute__((format(printf, 3, 0)));

// Installs the media log callback (av_log_set_callback) and applies the
// current LogLevel (av_log_set_level). Called by the loader once libavutil is
// available; calling it again is harmless.
void HookMediaLog();
// Restores av_log_default_callback.
void UnhookMediaLog();

}  // namespace vexa
