// TfrmMain: construction and layout of the window.
#include "ui/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "FFEncode/FFEncode.h"
#include "FFLog/FFLog.h"
#include "core/GlobalUnit.h"
#include "core/RecordingController.h"
#include "ui/AddImageOptions.h"
#include "ui/AddTextOptions.h"
#include "ui/AddTimestampOptions.h"
#include "ui/AppIcon.h"
#include "ui/GlobalHotKeys.h"
#include "ui/RegionOutline.h"
#include "ui/directory.h"

namespace vexa::app {

namespace {

constexpr int kOuterWidth = 433;
constexpr int kOuterHeight = 423;
constexpr int kBannerHeight = 36;

template <typename T, typename... Args>
T* Named(const char* name, Args&&... args) {
  T* widget = new T(std::forward<Args>(args)...);
  widget->setObjectName(name);
  return widget;
}

QLabel* Label(const char* name, const QString& caption, QWidget* parent) {
  return Named<QLabel>(name, caption, parent);
}

QComboBox* DropDownList(const char* name, QWidget* parent) {
  auto* list = Named<QComboBox>(name, parent);
  list->setEditable(false);
  list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  list->setMinimumContentsLength(4);
  return list;
}

QLineEdit* NumberField(const char* name, QWidget* parent) {
  auto* field = Named<QLineEdit>(name, parent);
  // Keys are filtered by the window; the validator also keeps pasted text
  // (context menu, middle click) to digits.
  field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), field));
  return field;
}

QGroupBox* Group(const char* name, const QString& caption, QWidget* parent) {
  return Named<QGroupBox>(name, caption, parent);
}

void Compact(QLayout* layout, int spacing = 4) {
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(spacing);
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName("frmMain");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowIcon(RecorderIcon());
  UrlOpener_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };

  CreateSettingsObjects();
  BuildMenu();
  auto* central = Named<QWidget>("pnlMain", this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->setSpacing(3);
  layout->addWidget(BuildBanner());
  PageControl_ = Named<QTabWidget>("PageControl1", central);
  TabSheet1_ = BuildSettingsTab();
  TabSheet2_ = BuildCaptureTab();
  TabSheet3_ = BuildWatermarkTab();
  TabAbout_ = BuildAboutTab();
  PageControl_->addTab(TabSheet1_, "Settings");
  PageControl_->addTab(TabSheet2_, "Capture Settings");
  PageControl_->addTab(TabSheet3_, "Watermark");
  PageControl_->addTab(TabAbout_, "About");
  layout->addWidget(PageControl_, 1);
  layout->addWidget(BuildButtons());
  lblRecorderStatus = Label("lblRecorderStatus", "Recorder Status:", central);
  lblRecorderStatus->setMinimumHeight(18);
  layout->addWidget(lblRecorderStatus);
  setCentralWidget(central);

  Directory_ = std::make_unique<TfmDirectory>(this);
  // The overlay option dialogs live as long as the window; they read the
  // settings file the window names at the time.
  const auto settingsFile = [this] { return IniFileName(); };
  TextOptions_ = new TfrmAddTextOptions(settingsFile, this);
  TimestampOptions_ = new TfrmAddTimestampOptions(settingsFile, this);
  ImageOptions_ = new TfrmAddImageOptions(settingsFile, this);
  HotKeys_ = std::make_unique<TGlobalHotKeys>([this](int id) { HotKeyPressed(id); });
  StopTimer_ = new QTimer(this);
  StopTimer_->setObjectName("StopTimer");
  StopTimer_->setInterval(5);

  ConnectHandlers();
  ConnectController();
  ApplyFixedOuterSize();
  // First placed in the centre of the desktop.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->availableGeometry();
    move(desktop.center() - QPoint(kOuterWidth / 2, kOuterHeight / 2));
  }
  StopTimer_->start();
}

TfrmMain::~TfrmMain() {
  StopTimer_->stop();
  ShutDownRecording();
  CloseRegionOutline();
}

void TfrmMain::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  LanguageMenu_ = bar->addMenu("Language");
  LanguageMenu_->setObjectName("Language");
  LanguageMenu_->menuAction()->setObjectName("mnuLanguage");
  QAction* help = bar->addAction(" Help ");
  help->setObjectName("Help");
  connect(help, &QAction::triggered, this, [this] { OpenUrl(QUrl(HelpPageUrl())); });
  HomePage_ = bar->addAction("HomePage");
  HomePage_->setObjectName("HomePage");
  HomePage_->setVisible(false);
  connect(HomePage_, &QAction::triggered, this, [this] { OpenUrl(QUrl(ProductPageUrl())); });
}

QWidget* TfrmMain::BuildBanner() {
  auto* banner = Named<QLabel>("imgBanner");
  banner->setFixedHeight(kBannerHeight);
  banner->setPixmap(RecorderBanner(kOuterWidth - 8, kBannerHeight));
  banner->setCursor(Qt::PointingHandCursor);
  banner->installEventFilter(this);
  return banner;
}

QWidget* TfrmMain::BuildSettingsTab() {
  auto* tab = Named<QWidget>("TabSheet1");
  auto* layout = new QVBoxLayout(tab);
  Compact(layout, 2);

  QGroupBox* region = Group("grpScreenRegion", "Screen Region", tab);
  auto* regionLayout = new QGridLayout(region);
  Compact(regionLayout, 3);
  auto* presetRow = new QHBoxLayout;
  presetRow->setSpacing(4);
  presetRow->addWidget(Label("lblPreset", "Preset:", region));
  cmbPreset = DropDownList("cmbPreset", region);
  presetRow->addWidget(cmbPreset);
  presetRow->addStretch(1);
  regionLayout->addLayout(presetRow, 0, 0, 1, 8);
  auto* regionButtons = new QHBoxLayout;
  regionButtons->setSpacing(4);
  btnSelect = Named<QPushButton>("btnSelect", "Select Region", region);
  btnShow = Named<QPushButton>("btnShow", "Show Region", region);
  btnClose = Named<QPushButton>("btnClose", "Close Region", region);
  for (QPushButton* button : {btnSelect, btnShow, btnClose}) regionButtons->addWidget(button);
  regionLayout->addLayout(regionButtons, 2, 0, 1, 8);
  edtLeft = NumberField("edtLeft", region);
  edtTop = NumberField("edtTop", region);
  edtW = NumberField("edtW", region);
  edtH = NumberField("edtH", region);
  edtLeft->setText("10");
  edtTop->setText("10");
  edtW->setText("320");
  edtH->setText("240");
  const std::pair<const char*, const char*> labels[] = {
      {"lblLeft", "Left:"}, {"lblTop", "Top:"}, {"lblWidth", "Width:"}, {"lblHeight", "Height:"}};
  QLineEdit* fields[] = {edtLeft, edtTop, edtW, edtH};
  for (int i = 0; i < 4; ++i) {
    regionLayout->addWidget(Label(labels[i].first, labels[i].second, region), 1, 2 * i);
    regionLayout->addWidget(fields[i], 1, 2 * i + 1);
  }
  layout->addWidget(region);

  QGroupBox* video = Group("grpVideoOption", "Video Option", tab);
  auto* videoLayout = new QGridLayout(video);
  Compact(videoLayout, 3);
  cmbFormat = DropDownList("cmbFormat", video);
  cmbFrameRate = DropDownList("cmbFrameRate", video);
  cmbQuality = DropDownList("cmbQuality", video);
  cmbBitRate = DropDownList("cmbBitRate", video);
  videoLayout->addWidget(Label("lblFormat", "Output format:", video), 0, 0);
  videoLayout->addWidget(cmbFormat, 0, 1);
  videoLayout->addWidget(Label("lblFrameRate", "FrameRate(FPS):", video), 0, 2);
  videoLayout->addWidget(cmbFrameRate, 0, 3);
  videoLayout->addWidget(Label("lblQuality", "Quality:", video), 1, 0);
  videoLayout->addWidget(cmbQuality, 1, 1, 1, 2);
  QLabel* bitRateLabel = Label("lblBitRate", "Video BitRate(kbps):", video);
  videoLayout->addWidget(bitRateLabel, 1, 2);
  videoLayout->addWidget(cmbBitRate, 1, 3);
  bitRateLabel->hide();
  cmbBitRate->hide();
  videoLayout->setColumnStretch(4, 1);
  layout->addWidget(video);

  QGroupBox* audio = Group("grpAudioOption", "Audio Option", tab);
  auto* audioLayout = new QGridLayout(audio);
  Compact(audioLayout, 3);
  chk_audio = Named<QCheckBox>("chk_audio", "Record with audio", audio);
  cmbSampleRate = DropDownList("cmbSampleRate", audio);
  rdoStereo = Named<QRadioButton>("rdoStereo", "Stereo", audio);
  rdoMono = Named<QRadioButton>("rdoMono", "Mono", audio);
  audioLayout->addWidget(chk_audio, 0, 0, 1, 2);
  audioLayout->addWidget(Label("lblSampleRate", "Sample Rate(Hz):", audio), 0, 2);
  audioLayout->addWidget(cmbSampleRate, 0, 3);
  audioLayout->addWidget(Label("lblChannel", "Channel:", audio), 1, 0);
  audioLayout->addWidget(rdoStereo, 1, 1);
  audioLayout->addWidget(rdoMono, 1, 2);
  audioLayout->setColumnStretch(4, 1);
  layout->addWidget(audio);

  auto* dirRow = new QHBoxLayout;
  dirRow->setSpacing(4);
  dirRow->addWidget(Label("lblOutputDirectory", "Output Directory:", tab));
  edtDir = Named<QLineEdit>("edtDir", tab);
  edtDir->setEnabled(false);
  dirRow->addWidget(edtDir, 1);
  btnBrowse = Named<QPushButton>("btnBrowse", "Browse", tab);
  btnOpen = Named<QPushButton>("btnOpen", "Open", tab);
  dirRow->addWidget(btnBrowse);
  dirRow->addWidget(btnOpen);
  layout->addLayout(dirRow);
  layout->addStretch(1);
  return tab;
}

QWidget* TfrmMain::BuildCaptureTab() {
  auto* tab = Named<QWidget>("TabSheet2");
  auto* layout = new QGridLayout(tab);
  layout->setContentsMargins(12, 10, 12, 10);
  layout->setVerticalSpacing(8);
  chkMouse = Named<QCheckBox>("chkMouse", "Doesn't capture the mouse.", tab);
  layout->addWidget(chkMouse, 0, 0, 1, 3);
  chkLength = Named<QCheckBox>("chkLength", "Record length", tab);
  edtLength = NumberField("edtLength", tab);
  edtLength->setMaximumWidth(80);
  layout->addWidget(chkLength, 1, 0);
  layout->addWidget(edtLength, 1, 1);
  layout->addWidget(Label("lblLengthSeconds", "Seconds", tab), 1, 2);
  chkHide = Named<QCheckBox>("chkHide", "Start recording,hide this window.", tab);
  layout->addWidget(chkHide, 2, 0, 1, 3);
  chkDelay = Named<QCheckBox>("chkDelay", "Click Start, delay seconds to start recording.", tab);
  edtDelay = NumberField("edtDelay", tab);
  edtDelay->setMaximumWidth(80);
  QLabel* delaySeconds = Label("lblDelaySeconds", "Seconds", tab);
  layout->addWidget(chkDelay, 3, 0);
  layout->addWidget(edtDelay, 3, 1);
  layout->addWidget(delaySeconds, 3, 2);
  // Hidden options: they still act through their settings keys.
  for (QWidget* hidden : std::initializer_list<QWidget*>{chkHide, chkDelay, edtDelay, delaySeconds}) hidden->hide();
  layout->setColumnStretch(3, 1);
  layout->setRowStretch(4, 1);
  return tab;
}

QWidget* TfrmMain::BuildWatermarkTab() {
  auto* tab = Named<QWidget>("TabSheet3");
  auto* layout = new QVBoxLayout(tab);
  Compact(layout, 3);

  // A check box, a text field and its Options button in one row.
  const auto overlayGroup = [&](const char* groupName, const QString& caption, QCheckBox*& check,
                                const char* checkName, QLineEdit*& field, const char* fieldName,
                                QPushButton*& options, const char* optionsName) {
    QGroupBox* group = Group(groupName, caption, tab);
    auto* row = new QHBoxLayout(group);
    Compact(row);
    check = Named<QCheckBox>(checkName, caption, group);
    field = Named<QLineEdit>(fieldName, group);
    options = Named<QPushButton>(optionsName, "Options", group);
    row->addWidget(check);
    row->addWidget(field, 1);
    row->addWidget(options);
    layout->addWidget(group);
  };
  overlayGroup("grpAddText", "Add Text", chkAddText, "chkAddText", edtAddText, "edtAddText", btnAddTextOptions,
               "btnAddTextOptions");
  overlayGroup("grpAddTimestamp", "Add Timestamp", chkAddTimestamp, "chkAddTimestamp", edtTimestamp, "edtTimestamp",
               btnAddTimeStamp, "btnAddTimeStamp");
  edtTimestamp->setText("Recording ");

  QGroupBox* image = Group("grpAddImageWatermark", "Add Image Watermark", tab);
  auto* imageLayout = new QGridLayout(image);
  Compact(imageLayout);
  chkAddWatermark = Named<QCheckBox>("chkAddWatermark", "Add Image Watermark", image);
  edtIamgepath = Named<QLineEdit>("edtIamgepath", image);
  edtIamgepath->setReadOnly(true);
  edtIamgepath->setEnabled(false);
  btnImagePath = Named<QPushButton>("btnImagePath", "Browse", image);
  btnAddWatermarkOptions = Named<QPushButton>("btnAddWatermarkOptions", "Options", image);
  imageLayout->addWidget(chkAddWatermark, 0, 0, 1, 3);
  imageLayout->addWidget(Label("lblImagePath", "Image Path", image), 1, 0);
  imageLayout->addWidget(edtIamgepath, 1, 1);
  imageLayout->addWidget(btnImagePath, 1, 2);
  imageLayout->addWidget(btnAddWatermarkOptions, 1, 3);
  imageLayout->setColumnStretch(1, 1);
  layout->addWidget(image);
  layout->addStretch(1);
  return tab;
}

QWidget* TfrmMain::BuildAboutTab() {
  auto* tab = Named<QWidget>("TabSheet4");
  auto* layout = new QGridLayout(tab);
  layout->setContentsMargins(12, 10, 12, 10);
  auto* icon = Named<QLabel>("imgIcon", tab);
  icon->setPixmap(RecorderIconPixmap(64));
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  auto* name = Label("lblProductName", "Vexa Screen Recorder Free Version", tab);
  QFont bold = name->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  name->setFont(bold);
  layout->addWidget(name, 0, 1);
  auto* link = Label("lblHomePage", {}, tab);
  link->setTextFormat(Qt::RichText);
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  link->setOpenExternalLinks(false);
  link->setText(QString("<a href=\"%1\">%1</a>").arg(HomePageUrl().toHtmlEscaped()));
  connect(link, &QLabel::linkActivated, this, [this](const QString& url) { OpenUrl(QUrl(url)); });
  layout->addWidget(link, 1, 1);

  auto* shareRow = new QHBoxLayout;
  shareRow->addWidget(Label("lblShare", "Share:", tab));
  struct TShare {
    const char* Name;
    const char* Caption;
    const char* Address;
    const char* UrlKey;
  };
  const TShare shares[] = {
      {"btnShareFacebook", "Facebook", "https://www.facebook.com/sharer/sharer.php", "u"},
      {"btnShareTwitter", "Twitter", "https://twitter.com/intent/tweet", "url"},
      {"btnShareLinkedIn", "LinkedIn", "https://www.linkedin.com/sharing/share-offsite/", "url"},
      {"btnShareReddit", "Reddit", "https://www.reddit.com/submit", "url"},
  };
  for (const TShare& share : shares) {
    auto* button = Named<QPushButton>(share.Name, share.Caption, tab);
    const QString address = share.Address;
    const QString key = share.UrlKey;
    connect(button, &QPushButton::clicked, this, [this, address, key] {
      QUrl url(address);
      QUrlQuery query;
      query.addQueryItem(key, ProductPageUrl());
      url.setQuery(query);
      OpenUrl(url);
    });
    shareRow->addWidget(button);
  }
  shareRow->addStretch(1);
  layout->addLayout(shareRow, 2, 0, 1, 2);
  layout->setColumnStretch(1, 1);
  layout->setRowStretch(3, 1);
  return tab;
}

QWidget* TfrmMain::BuildButtons() {
  auto* row = Named<QWidget>("pnlButtons");
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  btnStart = Named<QPushButton>("btnStart", "&Start", row);
  btnStart->setToolTip("Hotkey:press key Alt+s.Hold down the key 'Alt' and press 'S' .");
  btnPause = Named<QPushButton>("btnPause", "&Pause", row);
  btnPause->setToolTip("Hotkey:press key Alt+p.Hold down the key 'Alt' and press 'P' .");
  btnResume = Named<QPushButton>("btnResume", "&Resume", row);
  btnResume->setToolTip("Hotkey:press key Alt+r.Hold down the key 'Alt' and press 'R' .");
  btnStop = Named<QPushButton>("btnStop", "S&top", row);
  btnStop->setToolTip("Hotkey:press key Alt+t.Hold down the key 'Alt' and press 'T' .");
  btnDefault = Named<QPushButton>("btnDefault", "Default", row);
  btnExit = Named<QPushButton>("btnExit", "&Exit", row);
  for (QPushButton* button : {btnStart, btnPause, btnResume, btnStop, btnDefault, btnExit}) {
    button->setMinimumWidth(60);
    layout->addWidget(button);
  }
  return row;
}

void TfrmMain::ApplyFixedOuterSize() {
  // The outer size includes the window manager's frame, known once shown.
  const QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                       frameGeometry().right() - geometry().right(),
                       frameGeometry().bottom() - geometry().bottom());
  setFixedSize(kOuterWidth - frame.left() - frame.right(), kOuterHeight - frame.top() - frame.bottom());
}

void TfrmMain::OpenUrl(const QUrl& url) {
  if (UrlOpener_) UrlOpener_(url);
}

void TfrmMain::Beep() {
  ++BeepCount_;
  QApplication::beep();
}

void TfrmMain::SetStatusText(const QString& text) { lblRecorderStatus->setText(text); }

QString TfrmMain::StatusText() const { return lblRecorderStatus->text(); }

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched->objectName() == "imgBanner" && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    OpenUrl(QUrl(ProductPageUrl()));
    return true;
  }
  if (IsNumericField(watched) && event->type() == QEvent::KeyPress)
    return FilterNumericKey(static_cast<QKeyEvent*>(event));
  if (event->type() == QEvent::FocusOut && (watched == edtLeft || watched == edtTop || watched == edtW ||
                                            watched == edtH)) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    // Leaving the field for another control of this window, not the window.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && isActiveWindow()) {
      QTimer::singleShot(0, this, [this] {
        ShowOutlineAtFields(2);
        btnStart->setFocus(Qt::OtherFocusReason);
      });
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace vexa::app
