// The encoder component: a list of transcoding tasks, each built from one
// input and one or more outputs, started on worker threads or inline,
// paused, resumed and stopped, with its events delivered to the application.
//
// Calling order: LibrariesLoaded / LoadLibraries; ClearTasks; AddTask;
// SetOutput (RemoveTask on failure); StartTask; later Pause / Resume /
// Stop(true). AddTask and SetOutput never raise for option or open errors:
// they return a negative value with the reason in LastErrMsg. Misuse while
// working raises FFmpegException "Cannot %s while working.".
//
// Threads: OnProgress, OnPreviewBitmap, OnBeforeFindStreamInfo and
// OnTerminate run on the main thread when TriggerEventInMainThread is set
// (the worker waits; a main thread that waits for a task keeps servicing the
// main-thread queue). Hook events run on the task's worker thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Base/FFBaseComponent.h"
#include "FFmpeg/FFmpeg.h"
#include "FFmpeg/TaskDecoder.h"
#include "FFmpeg/TaskList.h"
#include "FFmpeg/TaskRecords.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

struct AVFormatContext;

namespace vexa {

// Sender is the component, except for OnBeforeFindStreamInfo (the task).
using TProgressEvent = std::function<void(void* Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent = std::function<void(void* Sender, const TTerminateInfo& ATerminateInfo)>;
using TPreviewBitmapEvent = std::function<void(void* Sender, const TPreviewInfo& APreviewInfo)>;
using TBeforeFindStreamInfoEvent = std::function<void(void* Sender, AVFormatContext* AFormatContext)>;
using TVideoHookEvent = std::function<void(void* Sender, PHookInfo AHookInfo)>;
using TFrameHookEvent = std::function<void(void* Sender, PFrameHookInfo AHookInfo)>;
using TAudioHookEvent =
    std::function<void(void* Sender, int ATaskIndex, int64_t APTS, uint8_t* ASample, int ASize, int ASampleRate,
                       int AChannels, AVSampleFormat ASampleFormat)>;

// Process-wide switch (on by default): handlers meant for the main thread go
// through it; off, every handler runs directly on the calling thread.
void SetSynchronizeEvents(bool AOn);
bool SynchronizeEvents();

class TCustomEncoder : public TFFBaseComponent {
 public:
  TCustomEncoder();
  // Shutdown, then frees the decoder.
  ~TCustomEncoder() override;

  // --- libraries
  bool LibrariesLoaded() const;
  bool LoadLibraries(const std::string& APath = "");

  // --- tasks
  void ClearTasks();
  int AddTask(const std::string& AFileName, PInputOptions AOptions = nullptr);
  int SetOutput(int ATaskIndex, const std::string& AFileName, POutputOptions AOptions = nullptr);
  void RemoveTask(int ATaskIndex);
  void StartTask(int AThreadCount);
  void Pause();
  void Resume();
  // Stops every task; with AWait returns when they have ended. Called from a
  // handler that a waiting worker runs on the main thread (OnProgress, say),
  // it only requests the stop: waiting there would wait for that very worker.
  void Stop(bool AWait);
  // True inside a handler run on the main thread on behalf of a worker.
  static bool InSynchronizedHandler();

  // --- state
  bool Working() const { return Working_; }
  bool Paused() const { return Paused_; }
  bool AllDone() const { return AllDone_; }
  bool Threaded() const { return Threaded_; }
  int FinishedCount() const;
  int NextIndex() const;
  int Remaining() const;
  bool TerminateDelivered() const;
  TFFmpegList& Tasks() { return Tasks_; }
  TFFDecoder& Decoder() { return *Decoder_; }

  // The option-line rewriting of SetOutput: blanks around the line, the hook
  // option names in the table's spelling, trimmed.
  static std::string RewriteHookOptions(const std::string& ALine);

 protected:
  // --- properties (TFFEncoder publishes them)
  bool GetStrictOptions() const { return StrictOptions_; }
  void SetStrictOptions(bool AValue) { StrictOptions_ = AValue; }
  bool GetPreview() const { return Preview_; }
  void SetPreview(bool AValue);
  bool GetPreviewBitmap() const { return PreviewBitmap_; }
  void SetPreviewBitmap(bool AValue);
  int GetProgressInterval() const { return ProgressInterval_; }
  void SetProgressInterval(int AValue) { ProgressInterval_ = AValue <= 100 ? 100 : AValue; }
  TThreadPriority GetThreadPriority() const { return ThreadPriority_; }
  void SetThreadPriority(TThreadPriority AValue) { ThreadPriority_ = AValue; }
  bool GetTriggerEventInMainThread() const { return TriggerEventInMainThread_; }
  void SetTriggerEventInMainThread(bool AValue) { TriggerEventInMainThread_ = AValue; }

  // --- events
  void SetOnProgress(TProgressEvent AEvent);
  void SetOnTerminate(TTerminateEvent AEvent);
  void SetOnPreviewBitmap(TPreviewBitmapEvent AEvent);
  void SetOnBeforeFindStreamInfo(TBeforeFindStreamInfoEvent AEvent);
  void SetOnVideoInputHook(TVideoHookEvent AEvent);
  void SetOnVideoOutputHook(TVideoHookEvent AEvent);
  void SetOnFrameInputHook(TFrameHookEvent AEvent);
  void SetOnFrameOutputHook(TFrameHookEvent AEvent);
  void SetOnAudioInputHook(TAudioHookEvent AEvent);
  void SetOnAudioOutputHook(TAudioHookEvent AEvent);

  // --- dispatch, in the order of their slots; called by the tasks
  virtual void DoVideoInputHook(TCustomFFmpeg* ATask, TBitmap* ABitmap, bool& AStopHook, bool& AUpdate, int64_t APTS,
                                int AFrameNumber);
  virtual void DoVideoOutputHook(TCustomFFmpeg* ATask, TBitmap* ABitmap, bool& AStopHook, bool& AUpdate,
                                 int64_t APTS, int AFrameNumber);
  virtual void DoFrameInputHook(TCustomFFmpeg* ATask, TAVPicture* APicture, int64_t APTS, int AHeight, int AWidth,
                                int AFrameNumber, int APixFmt);
  virtual void DoFrameOutputHook(TCustomFFmpeg* ATask, TAVPicture* APicture, int64_t APTS, int AHeight, int AWidth,
                                 int AFrameNumber, int APixFmt);
  virtual void DoPreviewBitmap(TCustomFFmpeg* ATask, TBitmap* ABitmap, int64_t APTS, int AFrameNumber);
  virtual void DoProgress(TCustomFFmpeg* ATask, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
                          float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration, int64_t ATotalDuration);
  virtual void DoTerminate(TCustomFFmpeg* ATask);

  // Clears the handlers, stops every task and waits for it, frees the tasks
  // and waits for the notices still being delivered. The workers call the
  // dispatch operations until then, so the most derived class calls it first
  // in its destructor (later calls do nothing more).
  void Shutdown();

  void DoAudioHook(const TAudioHookEvent& AEvent, TCustomFFmpeg* ATask, uint8_t* ASample, int64_t APTS, int ASize,
                   int ASampleRate, int AChannels, AVSampleFormat ASampleFormat);
  void DoBeforeFindStreamInfo(TCustomFFmpegOpt* ATask, AVFormatContext* AFormatContext);

  // The records filled just before the matching event.
  TProgressInfo ProgressInfo;
  TTerminateInfo TerminateInfo;
  TPreviewInfo PreviewInfo;
  THookInfo HookInfo;
  TFrameHookInfo FrameHookInfo;
  struct {
    TCustomFFmpegOpt* Task = nullptr;
    AVFormatContext* FormatContext = nullptr;
  } BeforeFindStreamInfoArgs;

  // One lock per kind of event.
  std::mutex AudioHookLock;
  std::mutex PreviewBitmapLock;
  std::mutex ProgressLock;
  std::mutex TerminateLock;
  std::mutex VideoHookLock;
  std::mutex FrameHookLock;
  std::mutex BeforeFindStreamInfoLock;

 private:
  class TDoTerminateThread;

  void CheckNotWorking(const char* AOperation) const;
  // Before each add: clears the task's LastErrorText and copies StrictOptions
  // and the two time-outs into it.
  void ApplySettings(TFFmpeg& ATask) const;
  void StartNextTask();
  void GiveFinalNotice();
  // Records `AInfo` in TerminateInfo and hands it to the handler: from a
  // delivery thread in threaded runs and outside runs, else directly.
  void DeliverTerminateInfo(const TTerminateEvent& AHandler, const TTerminateInfo& AInfo);
  // Runs `call` on the main thread when TriggerEventInMainThread (and the
  // process-wide switch) say so, else directly.
  void RunHandler(const std::function<void()>& call) const;
  // Starts a delivery thread for `info`; it delivers after every earlier one.
  void SpawnDelivery(const TTerminateEvent& AHandler, const TTerminateInfo& AInfo);  // TerminateLock held
  void ReapDeliveries(bool AWaitAll);
  // A copy of a handler, taken under HandlerLock_ (never held while one runs).
  template <typename T>
  T GetHandler(const T& AHandler) const {
    std::lock_guard<std::mutex> guard(HandlerLock_);
    return AHandler;
  }
  template <typename T>
  void PutHandler(T& ASlot, T AHandler) {
    std::lock_guard<std::mutex> guard(HandlerLock_);
    ASlot = std::move(AHandler);
  }

  bool StrictOptions_ = true;
  bool Preview_ = false;
  bool PreviewBitmap_ = false;
  int ProgressInterval_ = 500;
  TThreadPriority ThreadPriority_ = tpNormal;
  bool TriggerEventInMainThread_ = true;

  mutable std::mutex HandlerLock_;
  TProgressEvent OnProgress_;
  TTerminateEvent OnTerminate_;
  TPreviewBitmapEvent OnPreviewBitmap_;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo_;
  TVideoHookEvent OnVideoInputHook_;
  TVideoHookEvent OnVideoOutputHook_;
  TFrameHookEvent OnFrameInputHook_;
  TFrameHookEvent OnFrameOutputHook_;
  TAudioHookEvent OnAudioInputHook_;
  TAudioHookEvent OnAudioOutputHook_;

  std::unique_ptr<TFFDecoder> Decoder_;
  TFFmpegList Tasks_;
  // Tasks cleared from inside an inline run: freed when the run has returned.
  std::vector<std::unique_ptr<TFFmpeg>> Retired_;
  int InlineDepth_ = 0;

  // Run bookkeeping, under StateLock_.
  mutable std::mutex StateLock_;
  int FinishedCount_ = 0;
  int NextIndex_ = -1;
  int Remaining_ = 0;
  std::atomic<bool> AllDone_{false};
  std::atomic<bool> Threaded_{false};
  std::atomic<bool> Working_{false};
  std::atomic<bool> Paused_{false};

  // Termination notices delivered from threads, strictly in sequence.
  mutable std::mutex DeliveryLock_;
  std::condition_variable DeliveryDone_;
  uint64_t NextDelivery_ = 0;  // sequence number of the next notice
  uint64_t DoneDelivery_ = 0;  // notices delivered so far
  std::list<std::unique_ptr<TDoTerminateThread>> Deliveries_;
  std::atomic<bool> Destroying_{false};
};

// The component as the application uses it.
class TFFEncoder : public TCustomEncoder {
 public:
  TFFEncoder() = default;
  // The tasks end while the dispatch operations are still this class's.
  ~TFFEncoder() override { Shutdown(); }

  using TCustomEncoder::GetPreview;
  using TCustomEncoder::GetPreviewBitmap;
  using TCustomEncoder::GetProgressInterval;
  using TCustomEncoder::GetStrictOptions;
  using TCustomEncoder::GetThreadPriority;
  using TCustomEncoder::GetTriggerEventInMainThread;
  using TCustomEncoder::SetOnAudioInputHook;
  using TCustomEncoder::SetOnAudioOutputHook;
  using TCustomEncoder::SetOnBeforeFindStreamInfo;
  using TCustomEncoder::SetOnFrameInputHook;
  using TCustomEncoder::SetOnFrameOutputHook;
  using TCustomEncoder::SetOnPreviewBitmap;
  using TCustomEncoder::SetOnProgress;
  using TCustomEncoder::SetOnTerminate;
  using TCustomEncoder::SetOnVideoInputHook;
  using TCustomEncoder::SetOnVideoOutputHook;
  using TCustomEncoder::SetPreview;
  using TCustomEncoder::SetPreviewBitmap;
  using TCustomEncoder::SetProgressInterval;
  using TCustomEncoder::SetStrictOptions;
  using TCustomEncoder::SetThreadPriority;
  using TCustomEncoder::SetTriggerEventInMainThread;
};

}  // namespace vexa
