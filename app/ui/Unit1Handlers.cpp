// TfrmMain: start-up, the settings handlers of every control, the tab loads,
// Default, the output folder and the picture chooser.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QThread>

#include "core/GlobalUnit.h"
#include "core/LanguageFiles.h"
#include "core/OutputFolder.h"
#include "core/RegionPreset.h"
#include "core/Settings.h"
#include "FFLog/FFLog.h"
#include "ui/LanguageLoader.h"
#include "ui/RegionOutline.h"
#include "ui/ScreenShotMain.h"
#include "ui/Unit1.h"
#include "ui/directory.h"

namespace vexa::app {

namespace {

void Enable(std::initializer_list<QWidget*> widgets, bool on) {
  for (QWidget* widget : widgets) widget->setEnabled(on);
}

// Selects `index` in `list` from code: no handler runs; an index outside the
// list leaves it without a selection.
void SelectIndex(QComboBox* list, int index) {
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void Fill(QComboBox* list, const QStringList& entries) {
  const QSignalBlocker block(list);
  list->clear();
  list->addItems(entries);
}

QSize PrimaryScreenSize() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().size() : QSize();
}

// The integer of a region field, or an error message in the platform's words.
bool FieldInteger(const QLineEdit* field, int& value, QString& error) {
  bool ok = false;
  value = field->text().toInt(&ok);
  if (!ok) error = QString("'%1' is not a valid integer value").arg(field->text());
  return ok;
}

}  // namespace

TIniFile TfrmMain::Ini() const { return TIniFile(Global_->IniFileName()); }

QString TfrmMain::IniFileName() const { return Global_->IniFileName(); }

void TfrmMain::SetIniFileName(const QString& fileName) { Global_->SetIniFileName(fileName); }

int TfrmMain::CurrentFormat() const { return cmbFormat->currentIndex(); }

QString TfrmMain::CurrentFormatSection() const {
  const int format = CurrentFormat();
  if (format < 0 || format >= static_cast<int>(OutputFormats().size())) return {};
  return OutputFormats()[static_cast<size_t>(format)].Section;
}

void TfrmMain::ConnectHandlers() {
  connect(cmbPreset, &QComboBox::activated, this, [this](int index) {
    PresetClicked(index);
    PresetSelected(index);
  });
  connect(btnSelect, &QPushButton::clicked, this, [this] { SelectRegionClicked(); });
  connect(btnShow, &QPushButton::clicked, this, [this] { ShowOutlineAtFields(2); });
  connect(btnClose, &QPushButton::clicked, this, [] { CloseRegionOutline(); });
  connect(edtLeft, &QLineEdit::textChanged, this, [this](const QString& text) { WriteText(keys::Left, text); });
  connect(edtTop, &QLineEdit::textChanged, this, [this](const QString& text) { WriteText(keys::Top, text); });
  connect(edtW, &QLineEdit::textChanged, this, [this](const QString& text) { WriteText(keys::Width, text); });
  connect(edtH, &QLineEdit::textChanged, this, [this](const QString& text) { WriteText(keys::Height, text); });
  for (QLineEdit* field : {edtLeft, edtTop, edtW, edtH, edtLength, edtDelay}) field->installEventFilter(this);
  connect(cmbFormat, &QComboBox::activated, this, [this](int index) { FormatChanged(index); });
  connect(cmbFrameRate, &QComboBox::activated, this, [this] { FrameRateChanged(); });
  connect(cmbQuality, &QComboBox::activated, this, [this] { QualityChanged(); });
  connect(cmbSampleRate, &QComboBox::activated, this, [this] { SampleRateChanged(); });
  connect(chk_audio, &QCheckBox::toggled, this, [this](bool on) { AudioClicked(on); });
  connect(rdoStereo, &QRadioButton::toggled, this, [this](bool on) {
    if (on) StereoOrMonoClicked(true);
  });
  connect(rdoMono, &QRadioButton::toggled, this, [this](bool on) {
    if (on) StereoOrMonoClicked(false);
  });
  connect(btnBrowse, &QPushButton::clicked, this, [this] { BrowseClicked(); });
  connect(btnOpen, &QPushButton::clicked, this, [this] { OpenClicked(); });
  connect(edtDir, &QLineEdit::textChanged, this, [this](const QString& text) { WriteText(keys::OutPutDir, text); });
  connect(btnDefault, &QPushButton::clicked, this, [this] { DefaultClicked(); });
  connect(chkMouse, &QCheckBox::toggled, this, [this](bool on) { WriteFlag(keys::NoMouse, on); });
  connect(chkHide, &QCheckBox::toggled, this, [this](bool on) { WriteFlag(keys::Hide, on); });
  connect(chkDelay, &QCheckBox::toggled, this, [this](bool on) {
    WriteFlag(keys::DelayOn, on);
    edtDelay->setEnabled(on);
  });
  connect(chkLength, &QCheckBox::toggled, this, [this](bool on) {
    WriteFlag(keys::LengthOn, on);
    edtLength->setEnabled(on);
  });
  connect(edtLength, &QLineEdit::textChanged, this, [this] { LengthOrDelayChanged(edtLength, keys::RecLength); });
  connect(edtDelay, &QLineEdit::textChanged, this, [this] { LengthOrDelayChanged(edtDelay, keys::Delay); });
  connect(PageControl_, &QTabWidget::currentChanged, this, [this](int index) {
    if (PageControl_->widget(index) == TabSheet2_) LoadCaptureTab();
    if (PageControl_->widget(index) == TabSheet3_) LoadWatermarkTab();
  });
  connect(chkAddText, &QCheckBox::toggled, this, [this](bool on) {
    WriteFlag(keys::AddTextOn, on);
    Enable({edtAddText, btnAddTextOptions}, on);
  });
  connect(chkAddTimestamp, &QCheckBox::toggled, this, [this](bool on) {
    WriteFlag(keys::AddTimestampOn, on);
    Enable({edtTimestamp, btnAddTimeStamp}, on);
  });
  connect(chkAddWatermark, &QCheckBox::toggled, this, [this](bool on) {
    WriteFlag(keys::AddWatermarkOn, on);
    Enable({btnImagePath, btnAddWatermarkOptions}, on);
  });
  connect(edtAddText, &QLineEdit::textChanged, this, [this](const QString& text) { WriteText(keys::AddText, text); });
  connect(edtTimestamp, &QLineEdit::textChanged, this,
          [this](const QString& text) { WriteText(keys::AddTimestamp, text); });
  connect(edtIamgepath, &QLineEdit::textChanged, this,
          [this](const QString& text) { WriteText(keys::ImagePath, text); });
  connect(btnImagePath, &QPushButton::clicked, this, [this] { ImagePathClicked(); });
  connect(btnAddTextOptions, &QPushButton::clicked, this, [this] { ShowOptionDialog(TextOptions_); });
  connect(btnAddTimeStamp, &QPushButton::clicked, this, [this] { ShowOptionDialog(TimestampOptions_); });
  connect(btnAddWatermarkOptions, &QPushButton::clicked, this, [this] { ShowOptionDialog(ImageOptions_); });
}

// --- writing keys

void TfrmMain::WriteText(const TSettingKey& key, const QString& value) {
  TIniFile ini = Ini();
  if (!WriteSetting(ini, key, value)) ReportWriteFailure(ini);
}

void TfrmMain::WriteFlag(const TSettingKey& key, bool value) {
  TIniFile ini = Ini();
  if (!WriteBoolSetting(ini, key, value)) ReportWriteFailure(ini);
}

void TfrmMain::WriteInFormatSection(const char* key, const QString& value) {
  const QString section = CurrentFormatSection();
  if (section.isEmpty()) return;
  TIniFile ini = Ini();
  if (!ini.WriteString(section, key, value)) ReportWriteFailure(ini);
}

void TfrmMain::ReportWriteFailure(const TIniFile& ini) {
  // Logged once per distinct reason: a read-only file would otherwise log on every keystroke.
  if (ini.LastError() == LastWriteError_) return;
  LastWriteError_ = ini.LastError();
  LogFmt(this, llError, "Cannot write the settings file %s: %s", ini.FileName().toUtf8().constData(),
         ini.LastError().toUtf8().constData());
}

// --- start-up

void TfrmMain::StartUp() {
  CreateController();
  TIniFile ini = Ini();
  BuildLanguageMenu();
  PageControl_->setCurrentWidget(TabSheet1_);  // no tab load: the Settings tab has none

  Fill(cmbPreset, RegionPresets());
  const int preset = ReadIntSetting(ini, keys::Preset);
  SelectIndex(cmbPreset, preset);
  QStringList formatNames;
  for (const TOutputFormat& format : OutputFormats()) formatNames << format.Name;
  Fill(cmbFormat, formatNames);
  const int format = ReadIntSetting(ini, keys::Format);
  SelectIndex(cmbFormat, format);
  Fill(cmbBitRate, VideoBitRates());
  Fill(cmbQuality, QualityLevels());

  FillSampleRates(CurrentFormat());
  const QString section = CurrentFormatSection();
  if (!section.isEmpty()) {
    SelectIndex(cmbSampleRate, ini.ReadInteger(section, keys::format::SampleRateIndex, 0));
    SelectIndex(cmbBitRate, ini.ReadInteger(section, keys::format::BitRateIndex, 0));
    SelectIndex(cmbQuality, ini.ReadInteger(section, keys::format::QualityIndex, 0));
  } else {
    SelectIndex(cmbBitRate, 0);
    SelectIndex(cmbQuality, 0);
  }

  Fill(cmbFrameRate, FrameRates());
  SelectIndex(cmbFrameRate, ReadIntSetting(ini, keys::FrameRateIndex));

  InsetFlag_ = ReadBoolSetting(ini, keys::FullScreen);
  ApplyControlState(rsIdle);

  edtDir->setText(ResolveOutputFolderAtStartup(ini, *this));
  edtDir->setEnabled(false);

  SelectIndex(cmbPreset, preset);
  SelectIndex(cmbFormat, format);

  edtLeft->setText(ReadSetting(ini, keys::Left));
  edtTop->setText(ReadSetting(ini, keys::Top));
  edtW->setText(ReadSetting(ini, keys::Width));
  edtH->setText(ReadSetting(ini, keys::Height));

  chk_audio->setChecked(ReadBoolSetting(ini, keys::RecordWithAudio));
  Enable({cmbSampleRate, rdoStereo, rdoMono}, chk_audio->isChecked());

  if (ReadBoolSetting(ini, keys::Stereo))
    rdoStereo->setChecked(true);
  else
    rdoMono->setChecked(true);

  ApplyFixedOuterSize();
  RegisterHotKeys();
  setWindowTitle(Global_->MainCaption());
}

void TfrmMain::FillSampleRates(int format) {
  const QSignalBlocker block(cmbSampleRate);
  cmbSampleRate->clear();
  if (format >= 0 && format < static_cast<int>(OutputFormats().size()))
    cmbSampleRate->addItems(OutputFormats()[static_cast<size_t>(format)].SampleRates);
  cmbSampleRate->setCurrentIndex(-1);
}

// --- region

void TfrmMain::PresetClicked(int index) {
  TIniFile ini = Ini();
  if (!WriteSetting(ini, keys::Preset, QString::number(index))) ReportWriteFailure(ini);
  if (index == rpFullScreen) SetInsetFlag();
}

void TfrmMain::PresetSelected(int index) {
  Enable({edtLeft, edtTop, edtW, edtH}, true);
  if (index == rpFullScreen || index == rpCenter) {
    const QSize screen = PrimaryScreenSize();
    TPresetRegion current;
    QString error;
    if (index == rpCenter && (!FieldInteger(edtW, current.Width, error) || !FieldInteger(edtH, current.Height, error))) {
      ShowWarning(error);
      return;
    }
    const TPresetRegion region = ApplyRegionPreset(index, current, screen.width(), screen.height());
    if (index == rpFullScreen) {
      edtTop->setText(QString::number(region.Top));
      edtLeft->setText(QString::number(region.Left));
      edtW->setText(QString::number(region.Width));
      edtH->setText(QString::number(region.Height));
    } else {
      edtLeft->setText(QString::number(region.Left));
      edtTop->setText(QString::number(region.Top));
    }
  }
  ShowOutlineAtFields(1);
  btnStart->setFocus(Qt::OtherFocusReason);
}

bool TfrmMain::ShowOutlineAtFields(int border) {
  int left = 0, top = 0, width = 0, height = 0;
  QString error;
  if (!FieldInteger(edtLeft, left, error) || !FieldInteger(edtTop, top, error) ||
      !FieldInteger(edtW, width, error) || !FieldInteger(edtH, height, error)) {
    ShowWarning(error);
    return false;
  }
  ShowRegionOutline(left, top, width, height, border);
  return true;
}

void TfrmMain::SetRegionFields(int left, int top, int width, int height) {
  edtLeft->setText(QString::number(left));
  edtTop->setText(QString::number(top));
  edtW->setText(QString::number(width));
  edtH->setText(QString::number(height));
}

void TfrmMain::SetInsetFlag() {
  InsetFlag_ = true;
  WriteFlag(keys::FullScreen, true);
}

void TfrmMain::SelectRegionClicked() {
  // A new selection window each time: it takes a fresh picture of the desktop.
  delete RegionWindow_.data();
  auto* window = new TfrmScreenShots(nullptr);
  window->setAttribute(Qt::WA_DeleteOnClose);
  RegionWindow_ = window;
  connect(window, &TfrmScreenShots::regionAccepted, this, [this](int left, int top, int width, int height) {
    SetRegionFields(left, top, width, height);
    SetStatusText(QString("Recorder Status: select region %1 x %2").arg(width).arg(height));
    SetInsetFlag();
  });
  // A right click with nothing selected ends the program the way closing the
  // window does.
  connect(window, &TfrmScreenShots::endApplicationRequested, this, &QWidget::close);
}

void TfrmMain::BuildLanguageMenu() {
  const QString folder = LanguageFolder();
  FillLanguageMenu(LanguageMenu_, ListLanguageFiles(folder), [this, folder](const QString& name) {
    for (QWidget* window : std::initializer_list<QWidget*>{this, TextOptions_, TimestampOptions_, ImageOptions_})
      if (window) ApplyLanguage(window, folder, name);
  });
}

// --- video and audio lists

void TfrmMain::FormatChanged(int index) {
  TIniFile ini = Ini();
  if (!WriteSetting(ini, keys::Format, QString::number(index))) ReportWriteFailure(ini);
  FillSampleRates(index);
  const QString section = CurrentFormatSection();
  if (section.isEmpty()) return;
  SelectIndex(cmbSampleRate, ini.ReadInteger(section, keys::format::SampleRateIndex, 0));
  SelectIndex(cmbFrameRate, ini.ReadInteger(section, keys::format::FrameRateIndex, 0));
  SelectIndex(cmbQuality, ini.ReadInteger(section, keys::format::QualityIndex, 0));
  SelectIndex(cmbBitRate, ini.ReadInteger(section, keys::format::BitRateIndex, 0));
}

void TfrmMain::StoreListChoice(const QComboBox* list, const char* formatIndexKey, const char* formatTextKey,
                               const TSettingKey& textKey, const TSettingKey& indexKey) {
  const QString index = QString::number(list->currentIndex());
  const QString text = list->currentText();
  WriteInFormatSection(formatIndexKey, index);
  WriteInFormatSection(formatTextKey, text);
  WriteText(textKey, text);
  WriteText(indexKey, index);
}

void TfrmMain::FrameRateChanged() {
  StoreListChoice(cmbFrameRate, keys::format::FrameRateIndex, keys::format::FrameRate, keys::FrameRate,
                  keys::FrameRateIndex);
}

void TfrmMain::QualityChanged() {
  StoreListChoice(cmbQuality, keys::format::QualityIndex, keys::format::Quality, keys::Quality, keys::QualityIndex);
}

void TfrmMain::SampleRateChanged() {
  WriteInFormatSection(keys::format::SampleRateIndex, QString::number(cmbSampleRate->currentIndex()));
  WriteInFormatSection(keys::format::SampleRate, cmbSampleRate->currentText());
  WriteText(keys::SampleRate, cmbSampleRate->currentText());
}

void TfrmMain::AudioClicked(bool on) {
  WriteFlag(keys::RecordWithAudio, on);
  Enable({cmbSampleRate, rdoStereo, rdoMono}, on);
}

void TfrmMain::StereoOrMonoClicked(bool stereo) {
  WriteFlag(keys::Stereo, stereo);
  WriteFlag(keys::Mono, !stereo);
}

// --- numeric fields

bool TfrmMain::IsNumericField(QObject* object) const {
  return object == edtLeft || object == edtTop || object == edtW || object == edtH || object == edtLength ||
         object == edtDelay;
}

bool TfrmMain::FilterNumericKey(QKeyEvent* event) {
  // Keys that type no character (Delete, arrows, Home, End) and focus keys pass.
  if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
    return false;
  const QString text = event->text();
  if (text.isEmpty()) return false;
  for (const QChar c : text)
    if (c < '0' || c > '9') {
      Beep();
      return true;
    }
  // Shortcuts with digits (Ctrl+1) do not type them.
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
    Beep();
    return true;
  }
  return false;
}

void TfrmMain::LengthOrDelayChanged(QLineEdit* field, const TSettingKey& key) {
  if (field->text() == "0") {
    field->clear();  // runs this handler again with the empty text
    return;
  }
  bool ok = false;
  const int value = field->text().toInt(&ok);
  if (ok && value > 0) {
    TIniFile ini = Ini();
    if (!WriteIntSetting(ini, key, value)) ReportWriteFailure(ini);
  }
}

// --- tab loads

void TfrmMain::LoadCaptureTab() {
  TIniFile ini = Ini();
  chkMouse->setChecked(ReadBoolSetting(ini, keys::NoMouse));
  chkHide->setChecked(ReadBoolSetting(ini, keys::Hide));
  chkDelay->setChecked(ReadBoolSetting(ini, keys::DelayOn));
  chkLength->setChecked(ReadBoolSetting(ini, keys::LengthOn));
  edtLength->setEnabled(chkLength->isChecked());
  edtDelay->setEnabled(chkDelay->isChecked());
  edtLength->setText(ini.ReadString(keys::RecLength.Section, keys::RecLength.Name, "0"));
  edtDelay->setText(ini.ReadString(keys::Delay.Section, keys::Delay.Name, "0"));
}

void TfrmMain::LoadWatermarkTab() {
  TIniFile ini = Ini();
  chkAddText->setChecked(ReadBoolSetting(ini, keys::AddTextOn));
  edtAddText->setText(ReadSetting(ini, keys::AddText));
  edtTimestamp->setText(ReadSetting(ini, keys::AddTimestamp));
  chkAddTimestamp->setChecked(ReadBoolSetting(ini, keys::AddTimestampOn));
  chkAddWatermark->setChecked(ReadBoolSetting(ini, keys::AddWatermarkOn));
  edtIamgepath->setText(ReadSetting(ini, keys::ImagePath));
  Enable({edtAddText, btnAddTextOptions}, chkAddText->isChecked());
  Enable({edtTimestamp, btnAddTimeStamp}, chkAddTimestamp->isChecked());
  Enable({btnImagePath, btnAddWatermarkOptions}, chkAddWatermark->isChecked());
}

// --- Default

void TfrmMain::DefaultClicked() {
  SelectIndex(cmbFrameRate, QThread::idealThreadCount() >= 4 ? 5 : 3);
  SelectIndex(cmbBitRate, 0);
  chk_audio->setChecked(true);
  SelectIndex(cmbSampleRate, 2);
  rdoStereo->setChecked(true);
  SelectIndex(cmbQuality, 6);
  SelectIndex(cmbSampleRate, 2);
  FrameRateChanged();
  QualityChanged();
  SampleRateChanged();
  for (QCheckBox* box : {chkMouse, chkHide, chkDelay, chkLength, chkAddText, chkAddTimestamp, chkAddWatermark})
    box->setChecked(false);
}

// --- output folder

void TfrmMain::BrowseClicked() {
  Directory_->exec();
  const QString chosen = Directory_->ChosenFolder();
  if (chosen.isEmpty() || chosen == edtDir->text()) return;
  WriteText(keys::OutPutDir, chosen);
  edtDir->setText(chosen);
}

void TfrmMain::OpenClicked() {
  TIniFile ini = Ini();
  const QString folder = OutputFolderForOpen(ini, *this);
  if (edtDir->text().size() > 2) OpenFolder(folder);
}

// --- watermark picture and option dialogs

void TfrmMain::ImagePathClicked() {
  QFileDialog dialog(this, "Open", QFileInfo(edtIamgepath->text()).absolutePath(),
                     "All (*.png);;Portable Network Graphics (*.png)");
  dialog.setObjectName("OpenPictureDialog");
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  edtIamgepath->setText(dialog.selectedFiles().constFirst());
}

void TfrmMain::ShowOptionDialog(QDialog* dialog) {
  if (dialog) dialog->exec();
}

void TfrmMain::SetOptionDialogs(QDialog* text, QDialog* timestamp, QDialog* image) {
  const std::pair<QDialog**, QDialog*> replacements[] = {
      {&TextOptions_, text}, {&TimestampOptions_, timestamp}, {&ImageOptions_, image}};
  for (const auto& [current, replacement] : replacements) {
    if (!replacement || replacement == *current) continue;
    delete *current;
    replacement->setParent(this, replacement->windowFlags() | Qt::Dialog);
    *current = replacement;
  }
}

}  // namespace vexa::app
