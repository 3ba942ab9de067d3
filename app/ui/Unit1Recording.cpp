// TfrmMain: the recording side: the controls' states, the hot keys, the
// controller's user interface, the stop timer and the exit.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "Base/MainThread.h"
#include "FFEncode/FFEncode.h"
#include "FFLog/FFLog.h"
#include "core/GlobalUnit.h"
#include "core/RecordingController.h"
#include "ui/GlobalHotKeys.h"
#include "ui/RegionOutline.h"
#include "ui/Unit1.h"

namespace vexa::app {

namespace {

enum THotKeyId { hkStart = 1, hkPause, hkResume, hkStop };

struct THotKey {
  THotKeyId Id;
  const char* Name;
  char Letter;
};

constexpr THotKey kHotKeys[] = {
    {hkStart, "VSRStarthotKey", 'S'},
    {hkPause, "VSRPausehotKey", 'P'},
    {hkResume, "VSRResumehotKey", 'R'},
    {hkStop, "VSRStophotKey", 'T'},
};

}  // namespace

void TfrmMain::CreateSettingsObjects() { Global_ = std::make_unique<TGlobalObject>(); }

void TfrmMain::ConnectController() {
  // The engine hands calls to the main thread through its queue; the event
  // loop runs them soon after they are queued.
  SetWakeMainThreadHook([] {
    if (QCoreApplication* application = QCoreApplication::instance())
      QMetaObject::invokeMethod(application, [] { CheckSynchronize(0); }, Qt::QueuedConnection);
  });
  Logger_ = std::make_unique<TFFLogger>();
  Encoder_ = std::make_unique<TFFEncoder>();
  connect(btnStart, &QPushButton::clicked, this, [this] { StartClicked(); });
  connect(btnPause, &QPushButton::clicked, this, [this] { PauseClicked(); });
  connect(btnResume, &QPushButton::clicked, this, [this] { ResumeClicked(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { StopClicked(); });
  connect(btnExit, &QPushButton::clicked, this, [this] { close(); });
  connect(StopTimer_, &QTimer::timeout, this, [this] {
    if (Controller_) Controller_->StopTimerTick();
  });
}

void TfrmMain::CreateController() {
  // The settings file is fixed from here on.
  Controller_ = std::make_unique<TRecordingController>(*Encoder_, *this, Global_->IniFileName());
}

void TfrmMain::ShutDownRecording() {
  // The controller detaches its handlers and stops a recording still running.
  Controller_.reset();
  Encoder_.reset();
  Logger_.reset();
  if (HotKeys_) HotKeys_->ReleaseAll();
  SetWakeMainThreadHook({});
  delete RegionWindow_.data();
}

void TfrmMain::StartClicked() {
  // The outline is for choosing the region: it must not appear in the recording.
  CloseRegionOutline();
  QCoreApplication::processEvents();
  TRecordControls controls;
  controls.Left = edtLeft->text();
  controls.Top = edtTop->text();
  controls.Width = edtW->text();
  controls.Height = edtH->text();
  controls.FormatIndex = cmbFormat->currentIndex();
  controls.RecordWithAudio = chk_audio->isChecked();
  controls.SampleRateText = cmbSampleRate->currentText();
  controls.Stereo = rdoStereo->isChecked();
  controls.QualityIndex = cmbQuality->currentIndex();
  Controller_->SetInsetFlag(InsetFlag_);
  Controller_->Start(controls);
}

void TfrmMain::PauseClicked() { Controller_->Pause(); }

void TfrmMain::ResumeClicked() { Controller_->Resume(); }

void TfrmMain::StopClicked() { Controller_->Stop(); }

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!Exiting_) {
    QMessageBox box(QMessageBox::Question, "Warning", "Do you really want to exit?",
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName("ExitQuestion");
    if (box.exec() != QMessageBox::Yes) {
      event->ignore();
      return;
    }
    Exiting_ = true;
    StopTimer_->stop();
    if (Controller_) Controller_->Exit();
    HotKeys_->ReleaseAll();
    CloseRegionOutline();
  }
  event->accept();
}

QString TfrmMain::HomePageUrl() const { return Global_ ? Global_->HomePageUrl() : QString(); }
QString TfrmMain::ProductPageUrl() const { return Global_ ? Global_->ProductPageUrl() : QString(); }
QString TfrmMain::HelpPageUrl() const { return Global_ ? Global_->HelpPageUrl() : QString(); }

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (StartedUp_) return;
  StartedUp_ = true;
  StartUp();
}

// --- the controls' states

void TfrmMain::ApplyControlState(TRecorderState state) {
  State_ = state;
  const std::pair<QPushButton*, TRecorderControl> buttons[] = {
      {btnStart, rcStart}, {btnDefault, rcDefault}, {btnPause, rcPause},
      {btnResume, rcResume}, {btnStop, rcStop},     {btnExit, rcExit}};
  for (const auto& [button, control] : buttons) button->setEnabled(ControlEnabled(control, state));
  const bool settings = ControlEnabled(rcSettings, state);
  for (QWidget* widget : std::initializer_list<QWidget*>{btnSelect, btnShow, btnClose, btnBrowse, edtLeft, edtTop,
                                                         edtW, edtH, cmbPreset, cmbFormat, cmbBitRate, cmbFrameRate,
                                                         cmbQuality, chk_audio})
    widget->setEnabled(settings);
  // The sound settings follow "Record with audio" whenever the settings are on.
  const bool sound = settings && chk_audio->isChecked();
  for (QWidget* widget : std::initializer_list<QWidget*>{cmbSampleRate, rdoStereo, rdoMono})
    widget->setEnabled(sound);
  edtDir->setEnabled(ControlEnabled(rcOutputFolderField, state));
}

// --- TRecorderHost

void TfrmMain::ShowWarning(const QString& text) {
  QMessageBox box(QMessageBox::Warning, "Warning", text, QMessageBox::Ok, this);
  box.setObjectName("WarningMessage");
  box.exec();
}

bool TfrmMain::AskYesNo(const QString& text) {
  QMessageBox box(QMessageBox::Question, "Warning", text, QMessageBox::Yes | QMessageBox::No, this);
  box.setObjectName("QuestionMessage");
  return box.exec() == QMessageBox::Yes;
}

void TfrmMain::MinimizeApplication() { showMinimized(); }

void TfrmMain::OpenFolder(const QString& folder) { OpenUrl(QUrl::fromLocalFile(folder)); }

QString TfrmMain::StartCaption() const { return btnStart->text(); }

void TfrmMain::SetStartCaption(const QString& caption) { btnStart->setText(caption); }

void TfrmMain::SetStartEnabled(bool enabled) { btnStart->setEnabled(enabled); }

void TfrmMain::AudioUnticked() { chk_audio->setChecked(false); }

void TfrmMain::ProcessEvents() { QApplication::processEvents(); }

// --- hot keys

void TfrmMain::RegisterHotKeys() {
  for (const THotKey& key : kHotKeys) HotKeys_->Register(key.Id, key.Name, key.Letter);
}

void TfrmMain::HotKeyPressed(int id) {
  for (const THotKey& key : kHotKeys) {
    if (key.Id != id) continue;
    QPushButton* button = id == hkStart ? btnStart : id == hkPause ? btnPause : id == hkResume ? btnResume : btnStop;
    if (button->isEnabled())
      button->click();
    else
      Beep();
    return;
  }
}

}  // namespace vexa::app
