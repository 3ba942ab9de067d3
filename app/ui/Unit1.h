// The recorder's main window: four tabs of settings, the six buttons, the
// status line, the menu, the hot keys and the region outline. Every control
// writes its settings key the moment it changes; the recording itself is
// driven by the recording controller, which this window serves as its user
// interface.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

#include "core/IniFile.h"
#include "core/RecorderHost.h"
#include "core/Settings.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;
class QWidget;

namespace vexa {
class TFFEncoder;
class TFFLogger;
class TGlobalObject;
class TRecordingController;
}

namespace vexa::app {

class TGlobalHotKeys;
class TfmDirectory;

class TfrmMain : public QMainWindow, public TRecorderHost {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // --- what other windows use (the region selection window, the dialogs) ---
  // Sets the texts of Left, Top, Width and Height (their handlers store them).
  void SetRegionFields(int left, int top, int width, int height);
  // Sets the inset flag and stores fullscreen = true.
  void SetInsetFlag();
  bool InsetFlag() const { return InsetFlag_; }
  void SetStatusText(const QString& text) override;
  QString StatusText() const;
  // The Language menu, filled by the language support.
  QMenu* LanguageMenu() const { return LanguageMenu_; }
  // The output folder chooser (created with the window, reused).
  TfmDirectory& DirectoryChooser() const { return *Directory_; }

  // The dialogs behind the three Options buttons (text, timestamp, image),
  // shown modally and reused; the window takes them over.
  void SetOptionDialogs(QDialog* text, QDialog* timestamp, QDialog* image);
  // The region selection window while it is open.
  QWidget* RegionWindow() const { return RegionWindow_.data(); }
  const TGlobalObject& Global() const { return *Global_; }

  // Opens web pages and folders; the system's default program unless replaced
  // (tests record the requests instead).
  using TUrlOpener = std::function<void(const QUrl&)>;
  void SetUrlOpener(TUrlOpener opener) { UrlOpener_ = std::move(opener); }

  // The default beep; counted so that tests can see refusals.
  void Beep() override;
  int BeepCount() const { return BeepCount_; }

  TRecorderState State() const { return State_; }
  // The recording controller behind the buttons (tests read the file name
  // and the option lines of the last Start from it).
  TRecordingController& Controller() const { return *Controller_; }
  // The settings file this window reads and writes; another one may be set
  // before the window is first shown.
  QString IniFileName() const;
  void SetIniFileName(const QString& fileName);

  // TRecorderHost
  void ShowWarning(const QString& text) override;
  bool AskYesNo(const QString& text) override;
  void MinimizeApplication() override;
  void OpenFolder(const QString& folder) override;
  QString StartCaption() const override;
  void SetStartCaption(const QString& caption) override;
  void SetStartEnabled(bool enabled) override;
  void ApplyControlState(TRecorderState state) override;
  void AudioUnticked() override;
  void ProcessEvents() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // construction (Unit1.cpp)
  void BuildMenu();
  QWidget* BuildBanner();
  QWidget* BuildSettingsTab();
  QWidget* BuildCaptureTab();
  QWidget* BuildWatermarkTab();
  QWidget* BuildAboutTab();
  QWidget* BuildButtons();
  void ConnectHandlers();
  void OpenUrl(const QUrl& url);
  void ApplyFixedOuterSize();
  QString HomePageUrl() const;
  QString ProductPageUrl() const;
  QString HelpPageUrl() const;

  // settings handlers (Unit1Handlers.cpp)
  TIniFile Ini() const;
  int CurrentFormat() const;
  QString CurrentFormatSection() const;
  void WriteText(const TSettingKey& key, const QString& value);
  void WriteFlag(const TSettingKey& key, bool value);
  void WriteInFormatSection(const char* key, const QString& value);
  void ReportWriteFailure(const TIniFile& ini);
  void StartUp();
  void FillSampleRates(int format);
  void PresetClicked(int index);
  void PresetSelected(int index);
  bool ShowOutlineAtFields(int border);
  void SelectRegionClicked();
  void BuildLanguageMenu();
  void FormatChanged(int index);
  void StoreListChoice(const QComboBox* list, const char* formatIndexKey, const char* formatTextKey,
                       const TSettingKey& textKey, const TSettingKey& indexKey);
  void FrameRateChanged();
  void QualityChanged();
  void SampleRateChanged();
  void AudioClicked(bool on);
  void StereoOrMonoClicked(bool stereo);
  void LengthOrDelayChanged(QLineEdit* field, const TSettingKey& key);
  void LoadCaptureTab();
  void LoadWatermarkTab();
  void UpdateWatermarkControls();
  void DefaultClicked();
  void BrowseClicked();
  void OpenClicked();
  void ImagePathClicked();
  void ShowOptionDialog(QDialog* dialog);
  bool IsNumericField(QObject* object) const;
  bool FilterNumericKey(QKeyEvent* event);

  // recording (Unit1Recording.cpp)
  void CreateSettingsObjects();
  void ConnectController();
  void CreateController();
  void ShutDownRecording();
  void RegisterHotKeys();
  void HotKeyPressed(int id);
  void StartClicked();
  void PauseClicked();
  void ResumeClicked();
  void StopClicked();

  // controls, named as the language files and settings keys name them
  QTabWidget* PageControl_ = nullptr;
  QWidget* TabSheet1_ = nullptr;
  QWidget* TabSheet2_ = nullptr;
  QWidget* TabSheet3_ = nullptr;
  QWidget* TabAbout_ = nullptr;
  QComboBox* cmbPreset = nullptr;
  QPushButton* btnSelect = nullptr;
  QPushButton* btnShow = nullptr;
  QPushButton* btnClose = nullptr;
  QLineEdit* edtLeft = nullptr;
  QLineEdit* edtTop = nullptr;
  QLineEdit* edtW = nullptr;
  QLineEdit* edtH = nullptr;
  QComboBox* cmbFormat = nullptr;
  QComboBox* cmbFrameRate = nullptr;
  QComboBox* cmbQuality = nullptr;
  QComboBox* cmbBitRate = nullptr;
  QCheckBox* chk_audio = nullptr;
  QComboBox* cmbSampleRate = nullptr;
  QRadioButton* rdoStereo = nullptr;
  QRadioButton* rdoMono = nullptr;
  QLineEdit* edtDir = nullptr;
  QPushButton* btnBrowse = nullptr;
  QPushButton* btnOpen = nullptr;
  QCheckBox* chkMouse = nullptr;
  QCheckBox* chkLength = nullptr;
  QLineEdit* edtLength = nullptr;
  QCheckBox* chkHide = nullptr;
  QCheckBox* chkDelay = nullptr;
  QLineEdit* edtDelay = nullptr;
  QCheckBox* chkAddText = nullptr;
  QLineEdit* edtAddText = nullptr;
  QPushButton* btnAddTextOptions = nullptr;
  QCheckBox* chkAddTimestamp = nullptr;
  QLineEdit* edtTimestamp = nullptr;
  QPushButton* btnAddTimeStamp = nullptr;
  QCheckBox* chkAddWatermark = nullptr;
  QLineEdit* edtIamgepath = nullptr;
  QPushButton* btnImagePath = nullptr;
  QPushButton* btnAddWatermarkOptions = nullptr;
  QPushButton* btnStart = nullptr;
  QPushButton* btnResume = nullptr;
  QPushButton* btnPause = nullptr;
  QPushButton* btnStop = nullptr;
  QPushButton* btnExit = nullptr;
  QPushButton* btnDefault = nullptr;
  QLabel* lblRecorderStatus = nullptr;
  QMenu* LanguageMenu_ = nullptr;
  QAction* HomePage_ = nullptr;

  std::unique_ptr<TfmDirectory> Directory_;
  std::unique_ptr<TGlobalHotKeys> HotKeys_;
  QTimer* StopTimer_ = nullptr;
  QDialog* TextOptions_ = nullptr;
  QDialog* TimestampOptions_ = nullptr;
  QDialog* ImageOptions_ = nullptr;
  QPointer<QWidget> RegionWindow_;
  TUrlOpener UrlOpener_;
  std::unique_ptr<TGlobalObject> Global_;
  std::unique_ptr<TFFLogger> Logger_;
  std::unique_ptr<TFFEncoder> Encoder_;
  std::unique_ptr<TRecordingController> Controller_;
  QString LastWriteError_;
  TRecorderState State_ = rsIdle;
  bool InsetFlag_ = false;
  bool StartedUp_ = false;
  bool Exiting_ = false;
  int BeepCount_ = 0;
};

}  // namespace vexa::app
