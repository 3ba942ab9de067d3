// The task's life cycle: construction, Start, Run, stop, pause and the
// worker thread.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <exception>

#include "Base/MainThread.h"
#include "FFLoad/FFLoad.h"
#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"
#include "Previewer/Previewer.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/time.h>
}

namespace vexa {

// --- TTaskEvent

void TTaskEvent::Set() {
  {
    std::lock_guard<std::mutex> guard(Mutex_);
    Signalled_ = true;
  }
  Cond_.notify_all();
}

void TTaskEvent::Reset() {
  std::lock_guard<std::mutex> guard(Mutex_);
  Signalled_ = false;
}

bool TTaskEvent::WaitFor(int timeoutMs) {
  std::unique_lock<std::mutex> lock(Mutex_);
  if (timeoutMs < 0) {
    Cond_.wait(lock, [this] { return Signalled_; });
    return true;
  }
  return Cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return Signalled_; });
}

bool TTaskEvent::IsSet() {
  std::lock_guard<std::mutex> guard(Mutex_);
  return Signalled_;
}

// Waits for `event`; on the main thread the main-thread queue is serviced
// every 20 ms meanwhile, so that a worker delivering a synchronised event
// cannot deadlock against the waiting main thread.
static void WaitServicing(TTaskEvent& event) {
  while (!event.WaitFor(20))
    if (IsMainThread()) CheckSynchronize(0);
}

// --- process-wide locks

std::mutex& CodecListLock() {
  static std::mutex lock;
  return lock;
}

std::mutex& PreviewLock() {
  static std::mutex lock;
  return lock;
}

// --- TConvertThread

TConvertThread::TConvertThread(TCustomFFmpeg* ATask, TThreadPriority APriority)
    : Task_(ATask), Priority_(APriority) {}

TConvertThread::~TConvertThread() {
  if (!Thread_.joinable()) return;
  if (Thread_.get_id() == std::this_thread::get_id())
    Thread_.detach();  // destroyed from its own run: it ends right after
  else
    Thread_.join();
}

void TConvertThread::Resume() {
  {
    std::lock_guard<std::mutex> guard(Mutex_);
    Suspended_ = false;
    if (!Started_) {
      Started_ = true;
      Thread_ = std::thread(&TConvertThread::Execute, this);
    }
  }
  Cond_.notify_all();
}

void TConvertThread::Suspend() {
  std::lock_guard<std::mutex> guard(Mutex_);
  Suspended_ = true;
}

bool TConvertThread::Suspended() const {
  std::lock_guard<std::mutex> guard(Mutex_);
  return Suspended_;
}

std::thread::id TConvertThread::ThreadId() const {
  std::lock_guard<std::mutex> guard(Mutex_);
  return Thread_.get_id();
}

void TConvertThread::Gate() {
  std::unique_lock<std::mutex> lock(Mutex_);
  // Re-checked every 20 ms: a stop request needs no notification to pass.
  while (Suspended_ && !Task_->StopRequested) Cond_.wait_for(lock, std::chrono::milliseconds(20));
}

static int NiceOffset(TThreadPriority priority) {
  switch (priority) {
    case tpIdle: return 19;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -15;
  }
  return 0;
}

void TConvertThread::Execute() {
  const int nice = NiceOffset(Priority_);
  // Raising the priority needs privileges; without them the thread simply
  // keeps the normal one.
  if (nice != 0) (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice);
  try {
    Task_->Run();
  } catch (...) {
    // Run guards every step; nothing may leave the thread.
  }
  Task_->RunDoneEvent.Set();
}

// --- TCustomFFmpeg

TCustomFFmpeg::TCustomFFmpeg() {
  // A task needs the encoder library set.
  FFLoader().CheckLibs(EncoderLibs);
}

TCustomFFmpeg::~TCustomFFmpeg() {
  StopRun(true);
  std::unique_ptr<std::thread> terminateThread;
  {
    std::lock_guard<std::mutex> guard(ThreadLock_);
    terminateThread = std::move(TerminateThread_);
  }
  if (terminateThread && terminateThread->joinable()) {
    if (terminateThread->get_id() == std::this_thread::get_id())
      terminateThread->detach();
    else
      terminateThread->join();
  }
  ThreadOwner_.reset();
  try {
    FreeEngineData();
    ReleaseHooks();
  } catch (...) {
  }
}

TConvertThread* TCustomFFmpeg::Start(bool AInThread, TThreadPriority APriority) {
  const char* refusal = nullptr;
  {
    std::lock_guard<std::mutex> guard(ThreadLock_);
    if (Running || Terminated || Started_) return nullptr;
    Started_ = true;
    if (OutputFiles.empty())
      refusal = "At least one output file must be specified";
    else if (InputFiles.empty())
      refusal = "At least one input file must be specified";
    else {
      Running = true;
      StopRequested = false;
      Finished = false;
      Terminated = false;
      // Reset together with Running, so that a StopRun(true) seeing the
      // task running waits for the worker about to be created.
      if (AInThread) RunDoneEvent.Reset();
    }
  }
  if (refusal) {
    try {
      Cleanup();
    } catch (const std::exception& e) {
      Log(this, llQuiet, e.what());
    }
    Log(this, llQuiet, refusal);
    ExceptionRaised = true;
    ExceptionMsg = refusal;
    NotifyTerminate();
    return nullptr;
  }
  if (!AInThread) {
    Run();
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(ThreadLock_);
  ThreadOwner_ = std::make_unique<TConvertThread>(this, APriority);
  ConvertThread_ = ThreadOwner_.get();
  return ConvertThread_;
}

// Logs a message that ended a step of the run and records it.
void TCustomFFmpeg::RecordException(const std::string& AMessage) {
  Log(this, llQuiet, AMessage);
  ExceptionRaised = true;
  ExceptionMsg = AMessage;
}

template <typename F>
static void Guarded(TCustomFFmpeg* task, F&& step, void (TCustomFFmpeg::*record)(const std::string&)) {
  try {
    step();
  } catch (const std::exception& e) {
    (task->*record)(e.what());
  } catch (...) {
    (task->*record)("Unknown exception");
  }
}

// A quiet "%s" call with a null argument: the logger writes no text for it
// but delivers its pending report of repeated messages.
static void FlushMediaLog(const char* none) { av_log(nullptr, AV_LOG_QUIET, "%s", none); }

void TCustomFFmpeg::Run() {
  Finished = false;
  const auto record = &TCustomFFmpeg::RecordException;
  Guarded(this, [this] { Transcode(); }, record);
  Guarded(this, [this] { CloseOpenEncoders(); }, record);
  Guarded(this, [this] { CloseOpenDecoders(); }, record);
  Guarded(this, [this] { Cleanup(); }, record);
  Guarded(this, [this] { NotifyTerminate(); }, record);
  static const char* volatile none = nullptr;
  FlushMediaLog(none);
}

bool TCustomFFmpeg::OnWorkerThread() const {
  std::lock_guard<std::mutex> guard(ThreadLock_);
  return ThreadOwner_ && ThreadOwner_->ThreadId() == std::this_thread::get_id();
}

void TCustomFFmpeg::StopRun(bool AWait) {
  int64_t none = 0;
  StopRequestTime_.compare_exchange_strong(none, av_gettime());
  StopRequested = true;
  {
    std::lock_guard<std::mutex> guard(ThreadLock_);
    // A paused task must run to see the request.
    if (ConvertThread_ && ConvertThread_->Suspended()) ConvertThread_->Resume();
  }
  // The worker itself (a handler run on its thread) cannot wait for its run.
  if (AWait && !OnWorkerThread()) WaitServicing(RunDoneEvent);
}

void TCustomFFmpeg::Stop(bool AWait) {
  bool running = false;
  bool wait = false;
  {
    std::lock_guard<std::mutex> guard(ThreadLock_);
    if (Running) {
      running = true;
    } else if (!Terminated && !Started_) {
      // Never started: report the termination from a thread of its own.
      Started_ = true;
      NotifyDoneEvent.Reset();
      TerminateThread_ = std::make_unique<std::thread>([this] {
        try {
          NotifyTerminate();
        } catch (...) {
        }
        NotifyDoneEvent.Set();
      });
      wait = AWait;
    } else if (TerminateThread_) {
      wait = AWait;
    }
  }
  if (running) {
    StopRun(AWait);
    return;
  }
  if (wait && !(TerminateThread_ && TerminateThread_->get_id() == std::this_thread::get_id()))
    WaitServicing(NotifyDoneEvent);
}

void TCustomFFmpeg::Pause() {
  std::lock_guard<std::mutex> guard(ThreadLock_);
  if (ConvertThread_ && !ConvertThread_->Suspended()) ConvertThread_->Suspend();
}

void TCustomFFmpeg::Resume() {
  std::lock_guard<std::mutex> guard(ThreadLock_);
  if (ConvertThread_ && ConvertThread_->Suspended()) ConvertThread_->Resume();
}

bool TCustomFFmpeg::IsPaused() const {
  std::lock_guard<std::mutex> guard(ThreadLock_);
  return ConvertThread_ && ConvertThread_->Suspended();
}

void TCustomFFmpeg::PauseGate() {
  TConvertThread* thread = nullptr;
  {
    std::lock_guard<std::mutex> guard(ThreadLock_);
    thread = ConvertThread_;
  }
  if (thread && thread->ThreadId() == std::this_thread::get_id()) thread->Gate();
}

void TCustomFFmpeg::NotifyTerminate() {
  Running = false;
  Terminated = true;
  {
    std::lock_guard<std::mutex> guard(ThreadLock_);
    ConvertThread_ = nullptr;
  }
  if (Terminate) Terminate(this);
}

void TCustomFFmpeg::SetPreviewFlags(int AFlags) {
  std::shared_ptr<TPreviewer> released;
  {
    std::lock_guard<std::mutex> guard(PreviewLock());
    AFlags &= pfPreviewWindow | pfPreviewBitmap;
    if (AFlags != PreviewFlags_ && (PreviewFlags_ & pfPreviewWindow) && !(AFlags & pfPreviewWindow))
      released = std::move(Previewer_);
    PreviewFlags_ = AFlags;
    PreviewFlagsChanged = true;
  }
  // The window goes on the main thread; never while PreviewLock is held.
  released.reset();
}

int TCustomFFmpeg::GetPreviewFlags() const {
  std::lock_guard<std::mutex> guard(PreviewLock());
  return PreviewFlags_;
}

void TCustomFFmpeg::ChangePreviewFlag(int ABit, bool AOn) {
  int flags;
  {
    std::lock_guard<std::mutex> guard(PreviewLock());
    flags = AOn ? (PreviewFlags_ | ABit) : (PreviewFlags_ & ~ABit);
  }
  SetPreviewFlags(flags);
}

void TCustomFFmpeg::SetHookBitsPixel(int ABits) {
  HookConverter.SetBitsPixel(ABits);
  PreviewConverter.SetBitsPixel(ABits);
  HookBitsPixel = ABits;
}

std::shared_ptr<TPreviewer> TCustomFFmpeg::CurrentPreviewer() const {
  std::lock_guard<std::mutex> guard(PreviewLock());
  return Previewer_;
}

}  // namespace vexa
