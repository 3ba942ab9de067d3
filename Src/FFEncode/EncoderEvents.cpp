// The encoder component's events: the dispatch operations the tasks call,
// and the delivery of termination notices from TDoTerminateThread threads.
#include <chrono>
#include <exception>

#include "Base/MainThread.h"
#include "FFEncode/DoTerminateThread.h"
#include "FFEncode/FFEncode.h"
#include "FFLog/FFLog.h"

namespace vexa {

namespace {
std::atomic<bool> SynchronizeEventsSwitch{true};
}

void SetSynchronizeEvents(bool AOn) { SynchronizeEventsSwitch = AOn; }
bool SynchronizeEvents() { return SynchronizeEventsSwitch; }

void TCustomEncoder::SpawnDelivery(const TTerminateEvent& AHandler, const TTerminateInfo& AInfo) {
  uint64_t sequence;
  {
    std::lock_guard<std::mutex> guard(DeliveryLock_);
    sequence = NextDelivery_++;
  }
  auto thread = std::make_unique<TDoTerminateThread>(this, AHandler, AInfo, sequence, TriggerEventInMainThread_);
  std::lock_guard<std::mutex> guard(DeliveryLock_);
  Deliveries_.push_back(std::move(thread));
}

bool TCustomEncoder::TerminateDelivered() const {
  std::lock_guard<std::mutex> guard(DeliveryLock_);
  return DoneDelivery_ == NextDelivery_;
}

void TCustomEncoder::ReapDeliveries(bool AWaitAll) {
  if (AWaitAll) {
    // Deliveries may wait for the main thread: keep servicing it.
    while (!TerminateDelivered()) {
      if (IsMainThread())
        CheckSynchronize(20);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::list<std::unique_ptr<TDoTerminateThread>> finished;
  {
    std::lock_guard<std::mutex> guard(DeliveryLock_);
    for (auto it = Deliveries_.begin(); it != Deliveries_.end();) {
      if ((*it)->Done())
        finished.splice(finished.end(), Deliveries_, it++);
      else
        ++it;
    }
  }
  finished.clear();  // joins threads that have ended
}

namespace {
// Handlers being run on the main thread for a worker that waits for them.
thread_local int SynchronizedHandlers = 0;
}  // namespace

bool TCustomEncoder::InSynchronizedHandler() { return SynchronizedHandlers > 0; }

void TCustomEncoder::RunHandler(const std::function<void()>& call) const {
  if (TriggerEventInMainThread_ && SynchronizeEvents() && !IsMainThread()) {
    Synchronize([this, &call] {
      // A component being destroyed runs no more handlers: what they refer
      // to may be gone already.
      if (Destroying_) return;
      ++SynchronizedHandlers;
      try {
        call();
      } catch (...) {
        --SynchronizedHandlers;
        throw;
      }
      --SynchronizedHandlers;
    });
  } else {
    call();
  }
}

// --- handler setters

void TCustomEncoder::SetOnProgress(TProgressEvent AEvent) { PutHandler(OnProgress_, std::move(AEvent)); }
void TCustomEncoder::SetOnTerminate(TTerminateEvent AEvent) { PutHandler(OnTerminate_, std::move(AEvent)); }
void TCustomEncoder::SetOnPreviewBitmap(TPreviewBitmapEvent AEvent) {
  PutHandler(OnPreviewBitmap_, std::move(AEvent));
}
void TCustomEncoder::SetOnBeforeFindStreamInfo(TBeforeFindStreamInfoEvent AEvent) {
  PutHandler(OnBeforeFindStreamInfo_, std::move(AEvent));
}
void TCustomEncoder::SetOnVideoInputHook(TVideoHookEvent AEvent) { PutHandler(OnVideoInputHook_, std::move(AEvent)); }
void TCustomEncoder::SetOnVideoOutputHook(TVideoHookEvent AEvent) {
  PutHandler(OnVideoOutputHook_, std::move(AEvent));
}
void TCustomEncoder::SetOnFrameInputHook(TFrameHookEvent AEvent) { PutHandler(OnFrameInputHook_, std::move(AEvent)); }
void TCustomEncoder::SetOnFrameOutputHook(TFrameHookEvent AEvent) {
  PutHandler(OnFrameOutputHook_, std::move(AEvent));
}
void TCustomEncoder::SetOnAudioInputHook(TAudioHookEvent AEvent) { PutHandler(OnAudioInputHook_, std::move(AEvent)); }
void TCustomEncoder::SetOnAudioOutputHook(TAudioHookEvent AEvent) {
  PutHandler(OnAudioOutputHook_, std::move(AEvent));
}

// --- dispatch

// Runs a video hook handler (when set) under `ALock` with `AInfo` filled, and
// hands Update and StopHook back to the task.
static void RunVideoHookEvent(TCustomEncoder* AOwner, const TVideoHookEvent& AHandler, std::mutex& ALock,
                              THookInfo& AInfo, int ATaskIndex, TBitmap* ABitmap, bool& AStopHook, bool& AUpdate,
                              int64_t APTS, int AFrameNumber) {
  if (!AHandler) return;
  std::lock_guard<std::mutex> guard(ALock);
  AInfo.TaskIndex = ATaskIndex;
  AInfo.Bitmap = ABitmap;
  AInfo.FrameNumber = AFrameNumber;
  AInfo.PTS = APTS;
  AInfo.Update = AUpdate;
  AInfo.StopHook = AStopHook;
  // The handler owns the pixels for its whole call.
  std::unique_lock<std::recursive_mutex> canvas;
  if (ABitmap) canvas = std::unique_lock<std::recursive_mutex>(ABitmap->CanvasLock());
  AHandler(AOwner, &AInfo);
  AUpdate = AInfo.Update;
  AStopHook = AInfo.StopHook;
}

void TCustomEncoder::DoVideoInputHook(TCustomFFmpeg* ATask, TBitmap* ABitmap, bool& AStopHook, bool& AUpdate,
                                      int64_t APTS, int AFrameNumber) {
  RunVideoHookEvent(this, GetHandler(OnVideoInputHook_), VideoHookLock, HookInfo, Tasks_.IndexOf(ATask), ABitmap,
                    AStopHook, AUpdate, APTS, AFrameNumber);
}

void TCustomEncoder::DoVideoOutputHook(TCustomFFmpeg* ATask, TBitmap* ABitmap, bool& AStopHook, bool& AUpdate,
                                       int64_t APTS, int AFrameNumber) {
  RunVideoHookEvent(this, GetHandler(OnVideoOutputHook_), VideoHookLock, HookInfo, Tasks_.IndexOf(ATask), ABitmap,
                    AStopHook, AUpdate, APTS, AFrameNumber);
}

// Runs a frame hook handler (when set) under `ALock` with `AInfo` filled.
static void RunFrameHookEvent(TCustomEncoder* AOwner, const TFrameHookEvent& AHandler, std::mutex& ALock,
                              TFrameHookInfo& AInfo, int ATaskIndex, TAVPicture* APicture, int64_t APTS,
                              int AHeight, int AWidth, int AFrameNumber, int APixFmt) {
  if (!AHandler) return;
  std::lock_guard<std::mutex> guard(ALock);
  AInfo.TaskIndex = ATaskIndex;
  AInfo.FrameNumber = AFrameNumber;
  AInfo.Picture = APicture;
  AInfo.PixFmt = APixFmt;
  AInfo.Width = AWidth;
  AInfo.Height = AHeight;
  AInfo.PTS = APTS;
  AHandler(AOwner, &AInfo);
}

void TCustomEncoder::DoFrameInputHook(TCustomFFmpeg* ATask, TAVPicture* APicture, int64_t APTS, int AHeight,
                                      int AWidth, int AFrameNumber, int APixFmt) {
  RunFrameHookEvent(this, GetHandler(OnFrameInputHook_), FrameHookLock, FrameHookInfo, Tasks_.IndexOf(ATask),
                    APicture, APTS, AHeight, AWidth, AFrameNumber, APixFmt);
}

void TCustomEncoder::DoFrameOutputHook(TCustomFFmpeg* ATask, TAVPicture* APicture, int64_t APTS, int AHeight,
                                       int AWidth, int AFrameNumber, int APixFmt) {
  RunFrameHookEvent(this, GetHandler(OnFrameOutputHook_), FrameHookLock, FrameHookInfo, Tasks_.IndexOf(ATask),
                    APicture, APTS, AHeight, AWidth, AFrameNumber, APixFmt);
}

void TCustomEncoder::DoAudioHook(const TAudioHookEvent& AEvent, TCustomFFmpeg* ATask, uint8_t* ASample, int64_t APTS,
                                 int ASize, int ASampleRate, int AChannels, AVSampleFormat ASampleFormat) {
  if (!AEvent) return;
  std::lock_guard<std::mutex> guard(AudioHookLock);
  AEvent(this, Tasks_.IndexOf(ATask), APTS, ASample, ASize, ASampleRate, AChannels, ASampleFormat);
}

void TCustomEncoder::DoPreviewBitmap(TCustomFFmpeg* ATask, TBitmap* ABitmap, int64_t APTS, int AFrameNumber) {
  const TPreviewBitmapEvent handler = GetHandler(OnPreviewBitmap_);
  if (!handler) return;
  std::lock_guard<std::mutex> guard(PreviewBitmapLock);
  PreviewInfo.TaskIndex = Tasks_.IndexOf(ATask);
  PreviewInfo.Bitmap = ABitmap;
  PreviewInfo.FrameNumber = AFrameNumber;
  PreviewInfo.PTS = APTS;
  RunHandler([&] { handler(this, PreviewInfo); });
}

void TCustomEncoder::DoBeforeFindStreamInfo(TCustomFFmpegOpt* ATask, AVFormatContext* AFormatContext) {
  const TBeforeFindStreamInfoEvent handler = GetHandler(OnBeforeFindStreamInfo_);
  if (!handler) return;
  std::lock_guard<std::mutex> guard(BeforeFindStreamInfoLock);
  BeforeFindStreamInfoArgs.Task = ATask;
  BeforeFindStreamInfoArgs.FormatContext = AFormatContext;
  RunHandler([&] { handler(ATask, AFormatContext); });
}

void TCustomEncoder::DoProgress(TCustomFFmpeg* ATask, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
                                float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration,
                                int64_t ATotalDuration) {
  const TProgressEvent handler = GetHandler(OnProgress_);
  if (!handler) return;
  std::lock_guard<std::mutex> guard(ProgressLock);
  ProgressInfo.TaskIndex = Tasks_.IndexOf(ATask);
  ProgressInfo.FileIndex = AFileIndex;
  ProgressInfo.FrameNumber = AFrameNumber;
  ProgressInfo.FPS = AFPS;
  ProgressInfo.Quality = AQuality;
  ProgressInfo.BitRate = ABitRate;
  ProgressInfo.CurrentSize = ACurrentSize;
  ProgressInfo.CurrentDuration = ACurrentDuration;
  ProgressInfo.TotalDuration = ATotalDuration;
  RunHandler([&] { handler(this, &ProgressInfo); });
}

void TCustomEncoder::DeliverTerminateInfo(const TTerminateEvent& AHandler, const TTerminateInfo& AInfo) {
  bool direct = false;
  {
    std::lock_guard<std::mutex> guard(TerminateLock);
    TerminateInfo = AInfo;
    if (Threaded_ || !Working_)
      SpawnDelivery(AHandler, AInfo);
    else
      direct = true;
  }
  // Called without the lock held: the handler of an inline run may stop
  // tasks, whose notices come back here from other threads.
  if (direct) AHandler(this, AInfo);
}

void TCustomEncoder::DoTerminate(TCustomFFmpeg* ATask) {
  if (const TTerminateEvent handler = GetHandler(OnTerminate_))
    DeliverTerminateInfo(handler, TTerminateInfo{Tasks_.IndexOf(ATask), ATask->Finished, ATask->ExceptionRaised,
                                                 ATask->ExceptionMsg});
  bool final = false;
  bool startNext = false;
  {
    std::lock_guard<std::mutex> guard(StateLock_);
    ++FinishedCount_;
    if (Remaining_ < 1)
      final = FinishedCount_ >= Tasks_.Count();
    else
      startNext = Threaded_;
  }
  if (final)
    GiveFinalNotice();
  else if (startNext)
    StartNextTask();
}

void TCustomEncoder::GiveFinalNotice() {
  AllDone_ = true;
  // A delivery thread waits for the notices handed out before it.
  if (const TTerminateEvent handler = GetHandler(OnTerminate_))
    DeliverTerminateInfo(handler, TTerminateInfo{-1, true, false, ""});
}

}  // namespace vexa
