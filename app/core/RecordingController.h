// The recording controller: turns the settings into one recording task of the
// encoder component and drives it (Start with its delay, Pause, Resume,
// Stop, the length limit, the progress text, the end of the recording).
// Everything runs on the main thread except the overlay hook. The front end
// (main window or vexarec) implements TRecorderHost, calls Start / Pause /
// Resume / Stop from its buttons and hot keys, and calls StopTimerTick every
// 5 ms; the encoder's events must be delivered on the main thread (the
// front end services the main-thread queue).
#pragma once

#include <QString>
#include <cstdint>

#include "FFEncode/FFEncode.h"
#include "core/Overlays.h"
#include "core/RecorderHost.h"
#include "core/RecordingLines.h"

namespace vexa {

class TRecordingController {
 public:
  // AIniFileName: the settings file (TGlobalObject::IniFileName). Attaches
  // the controller's progress, terminate and video input hook handlers to
  // AEncoder.
  TRecordingController(TFFEncoder& AEncoder, TRecorderHost& AHost, QString AIniFileName);
  // Detaches the handlers and stops a recording still running.
  ~TRecordingController();
  TRecordingController(const TRecordingController&) = delete;
  TRecordingController& operator=(const TRecordingController&) = delete;

  // Start: true when the task is running (the controls are then in the
  // recording state). False when Start ended early: libraries, a field that
  // is not a number (warned), no capture device (asked), the output refused.
  bool Start(const TRecordControls& AControls);
  // Pause also stops the capture from queueing frames; Resume continues.
  void Pause();
  void Resume();
  // Stops and waits for the task; the controls go idle.
  void Stop();
  // The 5 ms timer: runs Stop while the length limit has been reached.
  void StopTimerTick();
  // Exit after the user confirmed: detaches the handlers, stops and waits.
  void Exit();

  // The encoder's events (attached by the constructor).
  void ProgressHandler(const TProgressInfo& AInfo);
  void TerminateHandler(const TTerminateInfo& AInfo);

  // The inset flag (settings/fullscreen at start-up; true after the Full
  // Screen preset or an accepted region).
  bool InsetFlag() const { return InsetFlag_; }
  void SetInsetFlag(bool AValue) { InsetFlag_ = AValue; }

  TRecorderState State() const { return State_; }
  bool LengthReached() const { return LengthReached_; }
  // Of the last Start that got as far as naming them.
  const QString& OutputFileName() const { return OutputFileName_; }
  const TRecordingLines& Lines() const { return Lines_; }
  // The terminate record of the last task (Finished, Exception and its text).
  const TTerminateInfo& LastTaskResult() const { return LastTaskResult_; }
  const QString& IniFileName() const { return IniFileName_; }
  TOverlayPainter& Overlays() { return Overlays_; }

  // Logical processors counted for " -threads" (the machine's by default).
  void SetProcessorCount(int ACount) { ProcessorCount_ = ACount; }
  int ProcessorCount() const { return ProcessorCount_; }

  // The progress text of a progress record.
  static QString ProgressText(const TProgressInfo& AInfo);
  // " -pause_pointer N ": the capture's pause flag (the address of APauseFlag).
  static QString PauseOption(const int32_t* APauseFlag);

 private:
  void AttachHandlers();
  void DetachHandlers();
  void SetState(TRecorderState AState);
  void RunDelay(const TIniFile& AIni);
  void SetCapturePaused(bool APaused);

  TFFEncoder& Encoder_;
  TRecorderHost& Host_;
  QString IniFileName_;
  TOverlayPainter Overlays_;
  bool HandlersAttached_ = false;
  bool InsetFlag_ = false;
  bool LengthReached_ = false;
  bool LengthLimitOn_ = false;
  int LengthLimit_ = 0;
  int ProcessorCount_;
  TRecorderState State_ = rsIdle;
  QString OutputFileName_;
  TRecordingLines Lines_;
  TTerminateInfo LastTaskResult_;
  // Read by the capture's grabber and sound threads (non-zero: paused).
  alignas(4) int32_t CapturePaused_ = 0;
};

}  // namespace vexa
