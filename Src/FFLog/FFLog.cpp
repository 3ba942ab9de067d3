#include "FFLog/FFLog.h"

#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "Base/FFmpegException.h"
#include "Base/MainThread.h"
#include "FFLog/LogFileWriter.h"

// Locking rules
// - CallbackLock serialises the media log callback (per-thread pending text,
//   previous line, repeat count). LoggerLock guards the current logger, its
//   properties and the log file. When both are held, CallbackLock is taken
//   first.
// - Neither lock is held while OnLog runs, while a logging thread waits for the
//   main thread to run OnLog, or while a logger is freed. A line is therefore
//   assembled under the locks, the locks are released, and only then is the
//   line handed to OnLog; the file write retakes LoggerLock afterwards. So the
//   main thread can always log, even while a worker waits for it.
// - FlightLock only counts lines being delivered (innermost, held briefly).
//   A logger's destructor waits for that count to drop after it stopped being
//   current; on the main thread it services the main-thread queue meanwhile.
// Both locks are recursive: the logger is created on demand with LoggerLock
// held, and an AVClass item_name callback may itself log.

namespace vexa {

struct TFFLoggerAccess {
  static bool Inactive(const TFFLogger& l) { return l.Inactive_; }
  static void MarkOnDemand(TFFLogger& l) { l.CreatedOnDemand_ = true; }
  static const TLogEvent& OnLog(const TFFLogger& l) { return l.OnLog_; }
  static bool TriggerEventInMainThread(const TFFLogger& l) { return l.TriggerEventInMainThread_; }
};

namespace {

using TAccess = TFFLoggerAccess;
using TLock = std::lock_guard<std::recursive_mutex>;

// The line being delivered.
struct TLogInfo {
  const void* Sender;
  uint32_t ThreadID;
  TLogLevel LogLevel;
  std::string LogMsg;
};

struct TLogState {
  std::recursive_mutex CallbackLock;
  std::recursive_mutex LoggerLock;

  // Under LoggerLock.
  TFFLogger* Current = nullptr;
  std::unique_ptr<TFFLogger> OnDemand;  // owns Current when it was created on demand
  bool ShutDown = false;                // process end: no more loggers on demand
  std::string LogFile;
  bool LogToFile = false;
  TLogFileWriter File;

  // Under CallbackLock.
  std::string PreviousLine;
  int RepeatCount = 0;
  std::unordered_map<uint32_t, std::string> Pending;  // thread id -> text not yet ended by '\n'

  std::atomic<int> FilterLevel{AV_LOG_INFO};
  std::atomic<bool> Hooked{false};

  std::mutex FlightLock;
  std::condition_variable FlightDone;
  int InFlight = 0;
};

// Never freed: the media library may log on any thread at any time, during
// process exit included.
TLogState& State() {
  static TLogState* const state = new TLogState;
  return *state;
}

thread_local int tDelivering = 0;  // lines this thread is delivering (nested)
thread_local bool tNeverWait = false;  // see TLogWithoutWaiting

// Counts one line in delivery; created under LoggerLock. A line delivered by
// the logging thread itself also counts in tDelivering; a line handed to the
// main thread's queue does not (it ends on the main thread).
class TFlight {
 public:
  explicit TFlight(bool byThisThread = true) : ByThisThread_(byThisThread) {
    TLogState& s = State();
    std::lock_guard<std::mutex> guard(s.FlightLock);
    ++s.InFlight;
    if (ByThisThread_) ++tDelivering;
  }
  ~TFlight() {
    TLogState& s = State();
    {
      std::lock_guard<std::mutex> guard(s.FlightLock);
      --s.InFlight;
      if (ByThisThread_) --tDelivering;
    }
    s.FlightDone.notify_all();
  }
  TFlight(const TFlight&) = delete;
  TFlight& operator=(const TFlight&) = delete;

 private:
  bool ByThisThread_;
};

void WaitForDeliveries() {
  TLogState& s = State();
  std::unique_lock<std::mutex> lock(s.FlightLock);
  while (s.InFlight > tDelivering) {
    if (IsMainThread()) {
      lock.unlock();
      CheckSynchronize(20);
      lock.lock();
    } else {
      s.FlightDone.wait(lock);
    }
  }
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

__attribute__((format(printf, 2, 0))) void AppendFormatV(std::string& out, const char* fmt,
                                                         va_list args) {
  char buf[2048];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buf, sizeof buf, fmt, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buf) {
    out.append(buf, static_cast<size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<size_t>(n) + 1);
  va_copy(copy, args);
  n = std::vsnprintf(big.data(), big.size(), fmt, copy);
  va_end(copy);
  if (n > 0) out.append(big.data(), std::min(static_cast<size_t>(n), big.size() - 1));
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* fmt, ...) {
  std::string out;
  va_list args;
  va_start(args, fmt);
  AppendFormatV(out, fmt, args);
  va_end(args);
  return out;
}

const AVClass* ClassOf(const void* obj) {
  const AVClass* cls = nullptr;
  std::memcpy(&cls, obj, sizeof cls);
  return cls;
}

const char* ItemName(void* obj, const AVClass* cls) {
  const char* name = cls->item_name ? cls->item_name(obj) : cls->class_name;
  return name ? name : "";
}

// "[parent @ 0x...] [object @ 0x...]" for an object with an AVClass.
void AppendPrefix(std::string& out, void* obj) {
  const AVClass* cls = ClassOf(obj);
  if (!cls) return;
  if (cls->parent_log_context_offset > 0) {
    void* parent = nullptr;
    std::memcpy(&parent, static_cast<char*>(obj) + cls->parent_log_context_offset, sizeof parent);
    if (parent) {
      if (const AVClass* parentCls = ClassOf(parent))
        out += Format("[%s @ %p] ", ItemName(parent, parentCls), parent);
    }
  }
  out += Format("[%s @ %p]", ItemName(obj, cls), obj);
}

// The call av_log(ctx, level, "%s", NULL): ends a run, writes nothing itself.
bool IsQuietCall(const char* fmt, va_list args) {
  if (!fmt || std::strcmp(fmt, "%s") != 0) return false;
  va_list copy;
  va_copy(copy, args);
  const char* arg = va_arg(copy, const char*);
  va_end(copy);
  return arg == nullptr;
}

// LoggerLock held. Null only at process end.
TFFLogger* CurrentOrOnDemand(bool createAfterShutDown) {
  TLogState& s = State();
  if (!s.Current && (!s.ShutDown || createAfterShutDown)) {
    auto logger = std::make_unique<TFFLogger>();  // becomes current
    TAccess::MarkOnDemand(*logger);
    s.OnDemand = std::move(logger);
  }
  return s.Current;
}

// Whether a line of the calling thread for a main-thread OnLog goes through
// the main thread's queue without waiting for it.
bool HandToMainThread(bool inMainThread) { return inMainThread && tNeverWait && !IsMainThread(); }

void CallHandler(const TLogEvent& handler, const TLogInfo& info, bool inMainThread) {
  try {
    if (inMainThread && !IsMainThread())
      Synchronize([&] { handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg); });
    else
      handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg);
  } catch (...) {
    // A failing handler must not disturb the code that logs.
  }
}

// Queues OnLog for the main thread; the line stays in flight until it ran.
// Called under LoggerLock, like the creation of any flight.
void QueueHandler(const TLogEvent& handler, TLogInfo info) {
  auto flight = std::make_shared<TFlight>(false);
  Queue([handler, info = std::move(info), flight] {
    try {
      handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg);
    } catch (...) {
      // A failing handler must not disturb the main thread either.
    }
  });
}

// Runs the outputs of one line: OnLog, then the log file. Media lines carry
// the logger as sender; direct lines are also filtered by LogLevel.
void Deliver(TLogInfo info, bool direct) {
  TLogState& s = State();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  TLogEvent handler;
  bool inMainThread = true;
  const void* logger = nullptr;
  std::optional<TFlight> flight;
  {
    TLock guard(s.LoggerLock);
    TFFLogger* current = CurrentOrOnDemand(false);
    if (!current || TAccess::Inactive(*current)) return;
    if (direct && info.LogLevel > current->LogLevel()) return;
    logger = current;
    if (!direct) info.Sender = current;
    handler = TAccess::OnLog(*current);
    inMainThread = TAccess::TriggerEventInMainThread(*current);
    if (handler && HandToMainThread(inMainThread))
      QueueHandler(handler, info);
    else
      flight.emplace();
  }
  if (handler && flight) CallHandler(handler, info, inMainThread);
  std::string failure;
  {
    TLock guard(s.LoggerLock);
    if (s.LogToFile && !s.LogFile.empty())
      failure = s.File.Write(s.LogFile, FormatLogFileLine(now, info.ThreadID,
                                                          LogLevelName(info.LogLevel), info.LogMsg));
    // The file failed: said once through OnLog, then the file is left alone
    // until LogFile or LogToFile changes.
    if (!failure.empty() && handler && HandToMainThread(inMainThread)) {
      QueueHandler(handler, TLogInfo{logger, info.ThreadID, llError, failure});
      failure.clear();
    }
  }
  if (!failure.empty() && handler)
    CallHandler(handler, TLogInfo{logger, info.ThreadID, llError, failure}, inMainThread);
}

void MediaLog(void* obj, int level, const char* fmt, va_list args) {
  TLogState& s = State();
  if (level >= 0) level &= 0xff;  // strip the colour bits of AV_LOG_C
  if (level > s.FilterLevel.load()) return;
  const uint32_t threadId = CurrentThreadId();
  std::vector<std::string> lines;
  {
    TLock callbackGuard(s.CallbackLock);
    {
      TLock loggerGuard(s.LoggerLock);
      TFFLogger* current = CurrentOrOnDemand(false);
      if (!current || TAccess::Inactive(*current)) return;
    }
    const auto it = s.Pending.find(threadId);
    const bool lineStart = it == s.Pending.end() || it->second.empty();
    std::string fragment;
    if (fmt && !IsQuietCall(fmt, args)) {
      if (obj && lineStart) AppendPrefix(fragment, obj);
      AppendFormatV(fragment, fmt, args);
    }
    // Only a fragment that is a whole line by itself counts as a repeat: the
    // end of a line begun earlier is never dropped, or the begun text would
    // be glued onto the thread's next line.
    if (lineStart && !fragment.empty() && fragment.back() == '\n' && fragment == s.PreviousLine) {
      if (s.RepeatCount < INT_MAX) ++s.RepeatCount;
      return;
    }
    if (s.RepeatCount > 1) lines.push_back(Format("    Last message repeated %d times", s.RepeatCount));
    s.RepeatCount = 0;
    s.PreviousLine = fragment;
    if (!fragment.empty()) {
      std::string& pending = s.Pending[threadId];
      pending += fragment;
      size_t start = 0;
      for (size_t lf; (lf = pending.find('\n', start)) != std::string::npos; start = lf + 1)
        lines.push_back(pending.substr(start, lf - start));
      pending.erase(0, start);
      // A thread with nothing pending needs no record.
      if (pending.empty()) s.Pending.erase(threadId);
    }
  }
  const TLogLevel logLevel = MediaToLogLevel(level);
  for (std::string& line : lines) Deliver(TLogInfo{nullptr, threadId, logLevel, std::move(line)}, false);
}

void MediaLogCallback(void* obj, int level, const char* fmt, va_list args) {
  try {
    MediaLog(obj, level, fmt, args);
  } catch (...) {
    // Nothing may unwind into the media library.
  }
}

// At process end: frees a logger created on demand and clears the shared
// texts. Built after the main-thread queue, so it is torn down before it.
struct TLogShutdown {
  TLogShutdown() {
    (void)IsMainThread();
    (void)State();
  }
  ~TLogShutdown() {
    TLogState& s = State();
    std::unique_ptr<TFFLogger> onDemand;
    {
      TLock callbackGuard(s.CallbackLock);
      TLock loggerGuard(s.LoggerLock);
      s.ShutDown = true;
      if (s.OnDemand && s.Current == s.OnDemand.get()) {
        onDemand = std::move(s.OnDemand);
        s.Current = nullptr;
      }
      s.PreviousLine.clear();
      s.RepeatCount = 0;
      s.Pending.clear();
    }
    onDemand.reset();
    TLock loggerGuard(s.LoggerLock);
    s.LogFile.clear();
    s.LogToFile = false;
    s.File.Close();
  }
  TLogShutdown(const TLogShutdown&) = delete;
  TLogShutdown& operator=(const TLogShutdown&) = delete;
};

TLogShutdown gLogShutdown;

TLogLevel ClampLevel(int value) { return static_cast<TLogLevel>(std::clamp(value, int(llQuiet), int(llDebug))); }

}  // namespace

int LogLevelToMedia(TLogLevel level) { return (ClampLevel(level) - 1) * 8; }

TLogLevel MediaToLogLevel(int mediaLevel) { return ClampLevel(mediaLevel / 8 + 1); }

const char* LogLevelName(TLogLevel level) {
  static const char* const names[] = {"Quiet", "Panic", "Fatal", "Error", "Warning", "Info", "Verbose", "Debug"};
  return names[ClampLevel(level)];
}

TFFLogger::TFFLogger() {
  TLogState& s = State();
  LogLevel_ = MediaToLogLevel(s.FilterLevel.load());
  for (;;) {
    std::unique_ptr<TFFLogger> replaced;  // freed below, outside the lock
    {
      TLock guard(s.LoggerLock);
      if (!s.Current) {
        s.Current = this;
        return;
      }
      if (!s.Current->CreatedOnDemand_) throw FFmpegException("Allow creating only one instance of TFFLogger.");
      replaced = std::move(s.OnDemand);
      s.Current = nullptr;
    }
  }
}

TFFLogger::~TFFLogger() {
  TLogState& s = State();
  {
    TLock guard(s.LoggerLock);
    if (s.Current == this) s.Current = nullptr;
  }
  WaitForDeliveries();
  TLock guard(s.LoggerLock);
  s.File.Close();
}

void TFFLogger::UpdateInactive() {
  const TLogState& s = State();
  Inactive_ = !(Active_ && (OnLog_ || (s.LogToFile && !s.LogFile.empty())));
}

bool TFFLogger::Inactive() const {
  TLock guard(State().LoggerLock);
  return Inactive_;
}

bool TFFLogger::Active() const {
  TLock guard(State().LoggerLock);
  return Active_;
}

void TFFLogger::SetActive(bool value) {
  TLock guard(State().LoggerLock);
  Active_ = value;
  UpdateInactive();
}

TLogLevel TFFLogger::LogLevel() const { return static_cast<TLogLevel>(LogLevel_.load()); }

void TFFLogger::SetLogLevel(TLogLevel value) {
  value = ClampLevel(value);
  if (LogLevel_.exchange(value) == value) return;
  TLogState& s = State();
  if (s.Hooked.load()) {
    const int media = LogLevelToMedia(value);
    s.FilterLevel = media;
    av_log_set_level(media);
  }
}

std::string TFFLogger::LogFile() const {
  TLock guard(State().LoggerLock);
  return State().LogFile;
}

namespace {

// Changes one of the process-wide file settings; a change closes the file.
template <typename T>
void ChangeFileSetting(T TLogState::*field, const T& value) {
  TLogState& s = State();
  if (s.*field != value) {
    s.*field = value;
    s.File.Close();
  }
}

}  // namespace

void TFFLogger::SetLogFile(const std::string& value) {
  TLock guard(State().LoggerLock);
  ChangeFileSetting(&TLogState::LogFile, value);
  UpdateInactive();
}

bool TFFLogger::LogToFile() const {
  TLock guard(State().LoggerLock);
  return State().LogToFile;
}

void TFFLogger::SetLogToFile(bool value) {
  TLock guard(State().LoggerLock);
  ChangeFileSetting(&TLogState::LogToFile, value);
  UpdateInactive();
}

bool TFFLogger::TriggerEventInMainThread() const {
  TLock guard(State().LoggerLock);
  return TriggerEventInMainThread_;
}

void TFFLogger::SetTriggerEventInMainThread(bool value) {
  TLock guard(State().LoggerLock);
  TriggerEventInMainThread_ = value;
}

TLogEvent TFFLogger::OnLog() const {
  TLock guard(State().LoggerLock);
  return OnLog_;
}

void TFFLogger::SetOnLog(TLogEvent value) {
  TLock guard(State().LoggerLock);
  OnLog_ = std::move(value);
  UpdateInactive();
}

TLogWithoutWaiting::TLogWithoutWaiting() : Previous_(tNeverWait) { tNeverWait = true; }

TLogWithoutWaiting::~TLogWithoutWaiting() { tNeverWait = Previous_; }

TFFLogger& GetFFLogger() {
  TLock guard(State().LoggerLock);
  return *CurrentOrOnDemand(true);
}

void Log(const void* Sender, TLogLevel Level, const std::string& Msg) {
  try {
    Deliver(TLogInfo{Sender, CurrentThreadId(), Level, Msg}, true);
  } catch (...) {
    // Logging never throws.
  }
}

void LogFmtV(const void* Sender, TLogLevel Level, const char* Fmt, va_list Args) {
  TLogState& s = State();
  {
    TLock guard(s.LoggerLock);
    TFFLogger* current = CurrentOrOnDemand(false);
    if (!current || TAccess::Inactive(*current) || Level > current->LogLevel()) return;
  }
  try {
    std::string msg;
    if (Fmt) AppendFormatV(msg, Fmt, Args);
    Log(Sender, Level, msg);
  } catch (...) {
    // Logging never throws.
  }
}

void LogFmt(const void* Sender, TLogLevel Level, const char* Fmt, ...) {
  va_list args;
  va_start(args, Fmt);
  LogFmtV(Sender, Level, Fmt, args);
  va_end(args);
}

void HookMediaLog() {
  TLogState& s = State();
  {
    TLock guard(s.LoggerLock);
    if (s.Current) s.FilterLevel = LogLevelToMedia(s.Current->LogLevel());
    s.Hooked = true;
  }
  av_log_set_level(s.FilterLevel.load());
  av_log_set_callback(&MediaLogCallback);
}

void UnhookMediaLog() {
  av_log_set_callback(&av_log_default_callback);
  State().Hooked = false;
}

}  // namespace vexa
