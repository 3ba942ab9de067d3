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

#include "core/GlobalUnit.h"
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
