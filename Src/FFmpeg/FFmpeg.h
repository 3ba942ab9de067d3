// The transcoding task: one run of the engine over the inputs, outputs,
// stream maps and filter graphs that option processing built.
//
// TCustomFFmpeg adds to the option state everything one run needs: the
// worker thread, the stop request, the termination record, the progress
// throttle, the hook and preview slots and the lists of open codecs. The run
// itself (Run) calls Transcode, which initialises (TranscodeInit.cpp), loops
// (Loop*.cpp) and encodes and muxes (Output*.cpp). The task's own plumbing
// lives in Task*.cpp.
//
// Threads: the caller (normally the main thread) calls Start, Stop, StopRun,
// Pause, Resume and SetPreviewFlags; the worker thread (or the caller, for an
// inline run) runs Run and everything below it.
#pragma once

#include <array>
#include <cstdio>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Base/Bitmap.h"
#include "FFUtils/FormatConverter.h"
#include "FFmpegOpt/FFmpegOpt.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

struct AVFormatContext;
struct AVFrame;
struct AVCodecContext;
struct AVBufferPool;
struct AVBufferRef;

namespace vexa {

class TCustomFFmpeg;
class TConvertThread;
class TPreviewer;

// Priority of a worker thread; applied as a nice offset where permitted.
enum TThreadPriority : int { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Preview flags: bit 0 the preview window, bit 1 the preview bitmap.
enum : int { pfPreviewWindow = 1, pfPreviewBitmap = 2 };

// --- callback slots (installed by the encoder component)
using TTaskTerminateCallback = std::function<void(TCustomFFmpeg* ATask)>;
using TTaskProgressCallback =
    std::function<void(TCustomFFmpeg* ATask, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
                       float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration, int64_t ATotalDuration)>;
// bitmap, StopHook (in/out), Update (in/out), PTS, frame number
using TTaskVideoHookCallback = std::function<void(TCustomFFmpeg* ATask, TBitmap* ABitmap, bool& AStopHook,
                                                  bool& AUpdate, int64_t APTS, int AFrameNumber)>;
// picture, PTS, height, width, frame number, pixel format
using TTaskFrameHookCallback = std::function<void(TCustomFFmpeg* ATask, TAVPicture* APicture, int64_t APTS,
                                                  int AHeight, int AWidth, int AFrameNumber, int APixFmt)>;
// first sample plane, PTS, size in bytes, sample rate, channels, sample format
using TTaskAudioHookCallback =
    std::function<void(TCustomFFmpeg* ATask, uint8_t* ASample, int64_t APTS, int ASize, int ASampleRate,
                       int AChannels, AVSampleFormat ASampleFormat)>;
// bitmap, PTS, frame number
using TTaskPreviewBitmapCallback =
    std::function<void(TCustomFFmpeg* ATask, TBitmap* ABitmap, int64_t APTS, int AFrameNumber)>;

// A manual-reset event.
class TTaskEvent {
 public:
  explicit TTaskEvent(bool signalled) : Signalled_(signalled) {}
  void Set();
  void Reset();
  // True when signalled within `timeoutMs` (negative: wait without limit).
  bool WaitFor(int timeoutMs);
  bool IsSet();

 private:
  std::mutex Mutex_;
  std::condition_variable Cond_;
  bool Signalled_;
};

// Process-wide locks of the engine.
std::mutex& CodecListLock();  // every task's OpenEncoders / OpenDecoders
std::mutex& PreviewLock();    // every task's PreviewFlags and the preview step

class TCustomFFmpeg : public TCustomFFmpegOpt {
 public:
  // Requires the encoder library set to be loaded (FFmpegException
  // "Library %s not loaded." otherwise).
  TCustomFFmpeg();
  // StopRun(True), Cleanup, then the option state.
  ~TCustomFFmpeg() override;

  // Accepts the task and runs it inline (AInThread False, returns nullptr when
  // the run has ended) or creates its worker thread suspended and returns it;
  // the caller resumes it. Returns nullptr when the task was refused or
  // already started.
  TConvertThread* Start(bool AInThread, TThreadPriority APriority = tpNormal);
  // The body of a run: Transcode, then close every open codec, Cleanup and
  // NotifyTerminate, each step guarded.
  void Run();
  // Requests a stop of a running task; with AWait waits for the run to end
  // (servicing the main-thread queue every 20 ms on the main thread).
  void StopRun(bool AWait);
  // Stops the task in whatever state it is in.
  void Stop(bool AWait);
  // The pause gate of the worker thread.
  void Pause();
  void Resume();
  bool IsPaused() const;
  // Called by the worker at every step of its loop and in its blocking waits:
  // stands still while the task is paused and returns when resumed or when a
  // stop was requested.
  void PauseGate();
  void NotifyTerminate();
  // Releases everything the run and the option state allocated.
  void Cleanup();
  void SetPreviewFlags(int AFlags);
  int GetPreviewFlags() const;
  // Sets or clears one flag bit, keeping the others (one step under PreviewLock).
  void ChangePreviewFlag(int ABit, bool AOn);
  void SetHookBitsPixel(int ABits);
  // Progress report after each step (AIsLast False, AFileIndex the join
  // segment) and once at the end (AFileIndex -1, AIsLast True).
  void ReportProgress(int AFileIndex, bool AIsLast, int64_t ACurrentTime, int64_t ATimerStart);

  // --- transcoding (TranscodeInit.cpp, Loop*.cpp, Output*.cpp)
  // The whole job: initialisation, loop, flush, trailers, final report.
  // Raises FFmpegException on a fatal error.
  int Transcode();

  // Initialisation (TranscodeInit.cpp): decides copy or encode per output
  // stream, opens encoders and decoders, writes the headers. 0 or a negative
  // code (LastErrorText set for the aborts); fatal conditions raise.
  int TranscodeInit();
  int InitInputStream(int AIndex, std::string& AError);
  // Times ("chapters" with an optional offset) into AStream's key frame list.
  void ParseForcedKeyFrames(const std::string& AText, TOutputStream* AStream, AVCodecContext* ACodecContext);
  void DumpStreamMapping();
  void PrintSDP();

  // The loop (LoopTranscode.cpp, LoopInput.cpp, LoopDecode.cpp).
  int TranscodeStep();
  TOutputStream* ChooseOutput();
  bool NeedOutput();
  int ProcessInput(int AFileIndex);
  // Decodes one packet (nullptr: flush) or passes it to the stream copies.
  int OutputPacket(TInputStream* AStream, const AVPacket* APacket);
  void RateEmuSleep(TInputStream* AStream);
  void CloseOutputStream(TOutputStream* AStream);
  bool CheckRecordingTime(TOutputStream* AStream);

  // Encoding and muxing (Output*.cpp).
  int ReapFilters();
  void DoVideoOut(TOutputFile* AFile, TOutputStream* AStream, AVFrame* AFrame);
  void DoAudioOut(TOutputFile* AFile, TOutputStream* AStream, AVFrame* AFrame);
  void DoSubtitleOut(TOutputFile* AFile, TOutputStream* AStream, TInputStream* AInput, AVSubtitle* ASubtitle);
  void DoStreamCopy(TInputStream* AInput, TOutputStream* AStream, const AVPacket* APacket);
  // The single path to the muxer; APacket is in the stream's time base and
  // is consumed (unreferenced).
  void WriteFrame(TOutputFile* AFile, AVPacket* APacket, TOutputStream* AStream);
  void FlushEncoders();
  void DoVideoStats(TOutputStream* AStream, int64_t AFrameSize);

  // The encoder context of an output stream (in join mode the one of the
  // stream's first-group counterpart).
  AVCodecContext* EncoderContext(const TOutputStream* AStream) const;
  // Whether AStream lies in the active range of the loop.
  bool IsActiveStream(const TOutputStream* AStream) const;

  // --- open-codec lists (under CodecListLock)
  // Adds a stream right after its codec was opened.
  void AddOpenEncoder(TOutputStream* AStream);
  void AddOpenDecoder(TInputStream* AStream);
  // Closes a stream's codec in the normal course of the run: frees the
  // two-pass statistics input (encoders), frees the codec context, marks the
  // codec closed and removes the stream from its list. Nothing happens for a
  // codec that is not open.
  void CloseEncoder(TOutputStream* AStream);
  void CloseDecoder(TInputStream* AStream);
  // Closes every codec still in the list; the list ends empty.
  void CloseOpenEncoders();
  void CloseOpenDecoders();
  size_t OpenEncoderCount() const;
  size_t OpenDecoderCount() const;

  // --- state (see the class comment)
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> Running{false};
  std::atomic<bool> Terminated{false};
  std::atomic<bool> Finished{false};
  bool ExceptionRaised = false;
  std::string ExceptionMsg;
  TTaskEvent RunDoneEvent{true};
  TTaskEvent NotifyDoneEvent{true};
  int64_t ProgressInterval = 500000;  // microseconds
  int64_t LastReportTime = -1;
  bool PreviewFlagsChanged = false;
  int64_t PreviewInterval = 100000;
  int64_t LastPreviewTime = 0;
  int HookBitsPixel = 32;  // bit depth of hook and preview bitmaps

  int64_t VideoSize = 0;
  int64_t AudioSize = 0;
  int64_t SubtitleSize = 0;
  int64_t ExtraSize = 0;
  int DupCount = 0;
  int DropCount = 0;
  bool DupDropChanged = false;
  std::array<int, 52> QPHistogram{};
  int JoinSegment = 0;
  int FirstActiveStream = 0;
  int LastActiveStream = -1;
  // Output buffer of subtitle encoding (1 MiB), allocated on first use.
  std::vector<uint8_t> SubtitleBuffer;

  // --- callback slots
  TTaskAudioHookCallback AudioInputHook;
  TTaskAudioHookCallback AudioOutputHook;
  TTaskVideoHookCallback VideoInputHook;
  TTaskVideoHookCallback VideoOutputHook;
  TTaskFrameHookCallback FrameInputHook;
  TTaskFrameHookCallback FrameOutputHook;
  TTaskPreviewBitmapCallback PreviewBitmap;
  TTaskProgressCallback Progress;
  TTaskTerminateCallback Terminate;

  // --- hook layer (Hooks.cpp, VHook.cpp)
  // Input-side video hook conversion, and output-side hook plus previews;
  // both at HookBitsPixel.
  TFormatConverter HookConverter;
  TFormatConverter PreviewConverter;
  // A module loaded by the vhook option.
  struct TVHookModule {
    void* Context = nullptr;
    void* Configure = nullptr;
    void* Process = nullptr;
    void* Release = nullptr;
  };
  std::vector<TVHookModule> VHookModules;
  bool VHookActive = false;

  // Converts the picture onto the converter's bitmap, runs the hook with it
  // and writes the drawing back when the hook leaves Update set: into the
  // picture itself, or into the picture AWriteTarget hands out (of the same
  // format and size; nullptr: no write-back, the failure already logged).
  // Returns whether the bitmap shows exactly the picture. Clears ASlot when
  // the hook asks to stop or a conversion fails.
  using TWriteTarget = std::function<const TAVPicture*()>;
  bool RunVideoHook(TTaskVideoHookCallback& ASlot, TFormatConverter& AConverter, const TAVPicture& APicture,
                    int APixFmt, int AWidth, int AHeight, int64_t APTS, int AFrameNumber,
                    const TWriteTarget& AWriteTarget = nullptr);
  // The vhook option: loads the module (once per process) and configures it.
  // Failures end through AbortWithError "Failed to add video hook function: ".
  int AddVHook(const std::string& AArg);
  // Release of every module context, the hook buffers and the previewer.
  void ReleaseHooks();
  // The previewer while the window preview shows (shared with a preview step
  // in progress).
  std::shared_ptr<TPreviewer> CurrentPreviewer() const;

  int OptVHook(TFileOptions* o, const std::string& opt, const std::string& arg) override;
  int OptVideoHookBitsPixel(TFileOptions* o, const std::string& opt, const std::string& arg) override;

 protected:
  AVIOInterruptCB ReadInterruptCallback() override;
  AVIOInterruptCB WriteInterruptCallback() override;

 private:
  friend class TConvertThread;
  static int ReadInterrupt(void* opaque);
  static int WriteInterrupt(void* opaque);
  void FreeEngineData();
  void RecordException(const std::string& AMessage);
  bool OnWorkerThread() const;

  // Transcoding internals (TranscodeInit.cpp, Loop*.cpp, Output*.cpp).
  int SetupCopyStream(TOutputStream* AStream, TInputStream* AInput);
  int SetupEncodedStream(TOutputStream* AStream, TInputStream* AInput, std::string& AError);
  int OpenEncoder(TOutputStream* AStream, std::string& AError);
  void CheckLeftoverOptions(const TDictionary& AOptions);
  int InitBitstreamFilters(TOutputStream* AStream);
  void EndOfRunRelease();
  void SetActiveRange();

  // The end of a run (LoopEnd.cpp).
  // A fault that ends the run early but leaves its outputs finished (an
  // input that failed, an output file system running full): logged at error
  // level; the run writes its trailers and then fails with the first one.
  void NoteRunFault(const std::string& AText);
  // A stop (or an output-room stop) asks the live inputs to hand over what
  // they hold; the loop then runs until they end or a deadline passes.
  // False when no input has anything to hand over.
  bool BeginDrain();
  // The duplication loop ends early on a stop, not while the inputs drain.
  bool StopNow() const { return StopRequested && !Draining_; }
  // Every 100 ms: the room left for each output file (free space of its
  // file system, the process's file-size limit) against what finishing it
  // needs; too little stops the recording cleanly.
  void CheckOutputRoom(int64_t ANow);
  // Trailers of the outputs, checked; failures become a run fault.
  void WriteTrailers(size_t AFileLimit);
  // Flushes and closes the outputs' files, checked; a file left empty is
  // deleted.
  void CloseOutputFiles(size_t AFileLimit);
  void SwitchJoinSegment(int AFileIndex);
  void ReopenJoinEncoders();
  int DecodePacket(TInputStream* AStream, const AVPacket* APacket, bool& AGotOutput);
  void DecodeAudio(TInputStream* AStream, AVFrame* AFrame);
  void DecodeVideo(TInputStream* AStream, AVFrame* AFrame, const AVPacket* APacket);
  int DecodeSubtitle(TInputStream* AStream, const AVPacket* APacket, bool& AGotOutput);
  void ProcessSubtitle(TInputStream* AStream, AVSubtitle* ASubtitle);
  void ReconfigureFilterGraphs(TInputStream* AStream);
  void SetAudioFrameSizes(TInputStream* AStream);
  void SignalFilterEof(TInputStream* AStream);
  void Sub2VideoUpdate(TInputStream* AStream, const AVSubtitle* ASubtitle);
  void Sub2VideoPush(TInputStream* AStream, int64_t APts);
  void Sub2VideoHeartbeat(TInputStream* AStream, int64_t APts);
  void Sub2VideoFlush(TInputStream* AStream);
  bool ForceKeyFrame(TOutputStream* AStream, AVCodecContext* AEnc, int64_t APts);
  // Sends AFrame (nullptr: drain) to the encoder and writes what comes out;
  // returns the number of packets written or the encoder's error.
  int EncodeAndWrite(TOutputFile* AFile, TOutputStream* AStream, AVFrame* AFrame);
  void WritePacketStats(TOutputStream* AStream, const AVPacket* APacket);

  // Hook dispatch points of the input and output sides. The video steps
  // belong to the hook layer; without connected video hooks they leave the
  // frame as it is.
  virtual void PreProcessVideoFrame(TInputStream* AStream, AVFrame* AFrame);
  virtual bool PostProcessVideoFrame(AVFrame* AFrame, AVCodecContext* AEncoder, int64_t APTS, int AFrameNumber);
  virtual void PreviewStep(AVFrame* AFrame, AVCodecContext* AEncoder, bool ABitmapReady, int64_t APTS,
                           int AFrameNumber);
  void RunAudioHook(TTaskAudioHookCallback& ASlot, AVFrame* AFrame, int64_t APTS);

  TStdFilePtr VStatsFile_;
  int64_t TimerStart_ = 0;

  std::string RunFault_;
  bool Draining_ = false;
  int64_t DrainDeadline_ = 0;
  int64_t DrainEnd_ = 0;  // when the loop of a draining run ended
  bool RoomStop_ = false;  // an output's file system is nearly full
  int64_t NextRoomCheck_ = 0;
  struct TRoomWatch {
    int64_t Bytes = 0;    // written at the last check
    int64_t Time = 0;     // of the last check
    double Rate = 0;      // bytes per second, averaged over about a second
  };
  std::vector<TRoomWatch> RoomWatch_;
  std::vector<bool> TrailerFailed_;

  // Open-codec lists: newest first.
  std::list<TOutputStream*> OpenEncoders_;
  std::list<TInputStream*> OpenDecoders_;

  int PreviewFlags_ = 0;
  std::shared_ptr<TPreviewer> Previewer_;  // under PreviewLock

  // A picture buffer of a hook step: a pool of buffers of one size, grown
  // when a larger picture comes, never shrunk. The filter graph and the
  // encoder may keep a frame's buffer; the pool hands out another meanwhile.
  class THookBuffer {
   public:
    ~THookBuffer();
    // A buffer of at least ASize bytes, or nullptr.
    AVBufferRef* Get(size_t ASize);
    void Free();

   private:
    AVBufferPool* Pool_ = nullptr;
    size_t Size_ = 0;
  };
  THookBuffer InputHookBuffer_;
  THookBuffer OutputHookBuffer_;
  // Puts a copy of AFrame's picture (deinterlaced with ADeinterlace) into a
  // buffer of ABuffer, laid out in APicture; nullptr after logging
  // AMallocMessage (or the size message) when it cannot.
  AVBufferRef* CopyToHookBuffer(THookBuffer& ABuffer, const AVFrame* AFrame, bool ADeinterlace,
                                const char* AMallocMessage, TAVPicture& APicture);
  // The same without copying: a buffer laid out for AFrame's picture.
  // AAlign: row alignment in bytes (1: rows of exactly the pixels).
  AVBufferRef* NewHookPicture(THookBuffer& ABuffer, const AVFrame* AFrame, const char* AMallocMessage,
                              TAVPicture& APicture, int AAlign = 1);
  // Makes the buffer's picture the frame's picture.
  void ReplacePicture(AVFrame* AFrame, AVBufferRef* ABuffer, const TAVPicture& APicture);
  std::atomic<int64_t> StopRequestTime_{0};  // wall clock of the first stop request

  mutable std::mutex ThreadLock_;
  bool Started_ = false;  // Start or Stop has decided the task's fate
  TConvertThread* ConvertThread_ = nullptr;       // while the task runs threaded
  std::unique_ptr<TConvertThread> ThreadOwner_;   // joined on destruction
  std::unique_ptr<std::thread> TerminateThread_;  // the TDoTerminateThread of Stop
};

// The worker thread of a threaded run. Created suspended by Start; the first
// Resume starts it. Suspending is a gate the worker passes (PauseGate).
class TConvertThread {
 public:
  TConvertThread(TCustomFFmpeg* ATask, TThreadPriority APriority);
  ~TConvertThread();  // joins the thread
  TConvertThread(const TConvertThread&) = delete;
  TConvertThread& operator=(const TConvertThread&) = delete;

  void Resume();
  void Suspend();
  bool Suspended() const;
  TCustomFFmpeg* Task() const { return Task_; }
  std::thread::id ThreadId() const;
  // Worker side: waits while suspended (returns at once on a stop request).
  void Gate();

 private:
  void Execute();

  TCustomFFmpeg* Task_;
  TThreadPriority Priority_;
  mutable std::mutex Mutex_;
  std::condition_variable Cond_;
  bool Suspended_ = true;
  bool Started_ = false;
  std::thread Thread_;
};

}  // namespace vexa
