#include "core/RecordingController.h"

#include <QThread>

#include <chrono>
#include <thread>

#include "GDICapture/CaptureFormat.h"
#include "core/GlobalUnit.h"
#include "core/OutputFolder.h"
#include "core/Settings.h"

namespace vexa {

TRecordingController::TRecordingController(TFFEncoder& AEncoder, TRecorderHost& AHost, QString AIniFileName)
    : Encoder_(AEncoder),
      Host_(AHost),
      IniFileName_(std::move(AIniFileName)),
      ProcessorCount_(QThread::idealThreadCount()) {
  AttachHandlers();
}

TRecordingController::~TRecordingController() {
  DetachHandlers();
  if (Encoder_.Working()) Encoder_.Stop(true);
  SetCapturePaused(false);
}

void TRecordingController::AttachHandlers() {
  Encoder_.SetOnProgress([this](void*, PProgressInfo AInfo) { ProgressHandler(*AInfo); });
  Encoder_.SetOnTerminate([this](void*, const TTerminateInfo& AInfo) { TerminateHandler(AInfo); });
  // On the engine's thread, with the bitmap's canvas held; Update and
  // StopHook stay as the engine set them.
  Encoder_.SetOnVideoInputHook([this](void*, PHookInfo AInfo) {
    if (AInfo->Bitmap) Overlays_.PaintBitmap(*AInfo->Bitmap, AInfo->FrameNumber);
  });
  HandlersAttached_ = true;
}

void TRecordingController::DetachHandlers() {
  if (!HandlersAttached_) return;
  Encoder_.SetOnVideoInputHook(nullptr);
  Encoder_.SetOnProgress(nullptr);
  Encoder_.SetOnTerminate(nullptr);
  HandlersAttached_ = false;
}

void TRecordingController::SetState(TRecorderState AState) {
  State_ = AState;
  Host_.ApplyControlState(AState);
}

void TRecordingController::SetCapturePaused(bool APaused) { __atomic_store_n(&CapturePaused_, APaused ? 1 : 0, __ATOMIC_SEQ_CST); }

QString TRecordingController::PauseOption(const int32_t* APauseFlag) {
  return QStringLiteral(" -pause_pointer ") + QString::number(reinterpret_cast<quintptr>(APauseFlag)) +
         QLatin1Char(' ');
}

QString TRecordingController::ProgressText(const TProgressInfo& AInfo) {
  return QStringLiteral("Recorder Status: Frame number: %1; FPS: %2; Size: %3; Time: %4 Seconds")
      .arg(AInfo.FrameNumber)
      .arg(AInfo.FPS)
      .arg(static_cast<int>(AInfo.CurrentSize))
      .arg(static_cast<int>(AInfo.CurrentDuration / 1000000));
}

void TRecordingController::RunDelay(const TIniFile& AIni) {
  const int delay = ReadIntSetting(AIni, keys::Delay);
  if (delay <= 0 || !ReadBoolSetting(AIni, keys::DelayOn)) return;
  const QString caption = Host_.StartCaption();
  using Clock = std::chrono::steady_clock;
  const Clock::time_point begin = Clock::now();
  for (int ms = delay * 1000, step = 1; ms > 20; ++step) {
    ms -= 10;
    // Each step ends 10 ms after the previous one on the wall clock, so the
    // count-down keeps time however long the front end takes per step.
    std::this_thread::sleep_until(begin + std::chrono::milliseconds(10 * step));
    Host_.SetStartEnabled(false);
    Host_.SetStartCaption(QString::number(ms) + QStringLiteral("ms"));
    Host_.SetStatusText(QStringLiteral("Recorder Status: Delay ") + QString::number(ms / 1000) +
                        QStringLiteral(" seconds"));
    Host_.ProcessEvents();
  }
  Host_.SetStartCaption(caption);
}

bool TRecordingController::Start(const TRecordControls& AControls) {
  TIniFile ini(IniFileName_);
  TRecordControls controls = AControls;
  LengthReached_ = false;
  LastTaskResult_ = TTerminateInfo();

  if (!Encoder_.LibrariesLoaded()) {
    if (!Encoder_.LoadLibraries((ProgramFolder() + QStringLiteral("LibAV")).toStdString())) return false;
  }
  RegisterCaptureInput();  // once per process; later calls do nothing
  Encoder_.ClearTasks();

  const TOutputFormat& format = OutputFormat(controls.FormatIndex);
  const QString folder = OutputFolderForRecording(ini, Host_);
  OutputFileName_ = UniqueOutputFileName(folder, OutputBaseName(controls), QLatin1String(format.Extension));

  TRegion region;
  QString error;
  if (!ParseRegion(controls, region, error)) {
    Host_.ShowWarning(error);
    return false;
  }
  Lines_ = BuildRecordingLines(controls, region, InsetFlag_, ini, ProcessorCount_);
  SetCapturePaused(false);

  TInputOptions input;
  InitInputOptions(&input);
  input.FileOptions = (Lines_.InputLine + PauseOption(&CapturePaused_)).toStdString();
  int task = Encoder_.AddTask(Lines_.DeviceName.toStdString(), &input);
  if (task < 0) {
    if (!Host_.AskYesNo(QStringLiteral(
            "No audio capture device fund.Audio can't been record!\r\nDo you want to continue running it?")))
      return false;
    controls.RecordWithAudio = false;
    Host_.AudioUnticked();
    Lines_.DeviceName = QStringLiteral("video=0");
    // The input line keeps its sound options; the output line is built
    // without sound below.
    task = Encoder_.AddTask(Lines_.DeviceName.toStdString(), &input);
    if (task < 0) return false;
    Lines_.OutputLine = BuildRecordingLines(controls, region, InsetFlag_, ini, ProcessorCount_).OutputLine;
  }

  TOutputOptions output;
  InitOutputOptions(&output);
  output.FileOptions = Lines_.OutputLine.toStdString();
  const TOverlayParams overlays = LoadOverlayParams(ini);
  output.VideoInputHook = overlays.HookEnabled();
  Overlays_.SetParams(overlays);

  if (Encoder_.SetOutput(task, OutputFileName_.toStdString(), &output) < 0) {
    Encoder_.RemoveTask(task);
    return false;
  }

  RunDelay(ini);
  if (ReadBoolSetting(ini, keys::Hide)) Host_.MinimizeApplication();
  LengthLimit_ = ReadIntSetting(ini, keys::RecLength);
  LengthLimitOn_ = ReadBoolSetting(ini, keys::LengthOn);

  Encoder_.StartTask(1);
  if (!Encoder_.Working()) return false;
  SetState(rsRecording);
  return true;
}

void TRecordingController::Pause() {
  SetCapturePaused(true);
  Encoder_.Pause();
  SetState(rsPaused);
}

void TRecordingController::Resume() {
  Encoder_.Resume();
  SetCapturePaused(false);
  SetState(rsResumed);
}

void TRecordingController::Stop() {
  Encoder_.Stop(true);
  SetCapturePaused(false);
  SetState(rsIdle);
}

void TRecordingController::StopTimerTick() {
  if (LengthReached_) Stop();
}

void TRecordingController::Exit() {
  DetachHandlers();
  Encoder_.Stop(true);
  SetCapturePaused(false);
}

void TRecordingController::ProgressHandler(const TProgressInfo& AInfo) {
  Host_.SetStatusText(ProgressText(AInfo));
  if (LengthLimitOn_ && LengthLimit_ > 0 && AInfo.CurrentDuration / 1000000 >= LengthLimit_) LengthReached_ = true;
}

void TRecordingController::TerminateHandler(const TTerminateInfo& AInfo) {
  if (AInfo.TaskIndex >= 0) {
    LastTaskResult_ = AInfo;
    return;
  }
  SetCapturePaused(false);
  SetState(rsIdle);
  TIniFile ini(IniFileName_);
  Host_.OpenFolder(OutputFolderForOpen(ini, Host_));
}

}  // namespace vexa
