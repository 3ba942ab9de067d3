// What the recording controller needs from its front end: messages, the
// yes/no question, the beep, minimizing, showing a folder, and the few
// controls it changes. The main window implements it with Qt widgets,
// vexarec on the terminal. Every call comes on the main thread.
#pragma once

#include <QString>

namespace vexa {

// States of the recorder's controls.
enum TRecorderState { rsIdle, rsRecording, rsPaused, rsResumed };

// The controls whose enabled state follows the recorder's state.
enum TRecorderControl {
  rcStart,
  rcDefault,
  rcPause,
  rcResume,
  rcStop,
  rcExit,
  // Select Region, Show Region, Close Region, Browse, the region fields, the
  // preset, format, bit-rate, frame-rate, quality and sample-rate lists,
  // "Record with audio", Stereo and Mono.
  rcSettings,
  rcOutputFolderField,  // never enabled
};

// The enabled-state table of the controls.
bool ControlEnabled(TRecorderControl AControl, TRecorderState AState);

class TRecorderHost {
 public:
  virtual ~TRecorderHost() = default;

  // A message captioned "Warning" with an OK button; returns when dismissed.
  virtual void ShowWarning(const QString& AText) = 0;
  // A question captioned "Warning" with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(const QString& AText) = 0;
  virtual void Beep() = 0;
  virtual void MinimizeApplication() = 0;
  // Shows AFolder in the system's file browser (the folder exists).
  virtual void OpenFolder(const QString& AFolder) = 0;

  // The status label ("Recorder Status: ...").
  virtual void SetStatusText(const QString& AText) = 0;
  // The Start button during the delay count-down.
  virtual QString StartCaption() const = 0;
  virtual void SetStartCaption(const QString& ACaption) = 0;
  virtual void SetStartEnabled(bool AEnabled) = 0;
  // Puts every control of the table into AState.
  virtual void ApplyControlState(TRecorderState AState) = 0;
  // Start found no sound device and the user chose to go on without sound:
  // untick "Record with audio" (the window stores the change like a click).
  virtual void AudioUnticked() = 0;
  // Lets the front end handle its pending events (during the delay).
  virtual void ProcessEvents() = 0;
};

}  // namespace vexa
