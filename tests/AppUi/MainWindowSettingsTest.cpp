// The main window's settings: the fresh start, every handler's key, what
// setting a control from code runs, the tab loads, the format restore and
// Default.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>

#include <functional>

#include "AppUiSupport.h"
#include "core/GlobalUnit.h"
#include "core/Settings.h"

namespace vexa::test {
namespace {

using TSettingsTest = TMainWindowTest;

TEST_F(TSettingsTest, FreshStartShowsAndStoresTheDefaults) {
  app::TfrmMain& window = ShowWindow();
  EXPECT_EQ(Child<QLineEdit>("edtLeft")->text(), "10");
  EXPECT_EQ(Child<QLineEdit>("edtTop")->text(), "10");
  EXPECT_EQ(Child<QLineEdit>("edtW")->text(), "800");
  EXPECT_EQ(Child<QLineEdit>("edtH")->text(), "600");
  EXPECT_TRUE(Child<QCheckBox>("chk_audio")->isChecked());
  EXPECT_TRUE(Child<QRadioButton>("rdoStereo")->isChecked());
  EXPECT_EQ(Child<QComboBox>("cmbFormat")->currentText(), "mp4");
  EXPECT_EQ(Child<QComboBox>("cmbPreset")->currentText(), "Customize");
  EXPECT_EQ(Child<QComboBox>("cmbFrameRate")->currentText(), "8");
  EXPECT_EQ(Child<QComboBox>("cmbQuality")->currentIndex(), 0);
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->count(), 3);
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->currentText(), "44100");
  EXPECT_EQ(Child<QLineEdit>("edtDir")->text(), AllUsersFolder());
  EXPECT_FALSE(Child<QLineEdit>("edtDir")->isEnabled());
  EXPECT_TRUE(QDir(AllUsersFolder()).exists());
  EXPECT_EQ(Child<QLabel>("lblRecorderStatus")->text(), "Recorder Status:");
  EXPECT_EQ(Child<QTabWidget>("PageControl1")->currentWidget()->objectName(), "TabSheet1");
  EXPECT_TRUE(window.windowTitle().startsWith("Vexa Screen Recorder free version "));
  EXPECT_EQ(window.frameGeometry().size(), QSize(433, 423));

  // The enabled states of the idle window.
  for (const char* on : {"btnStart", "btnDefault", "btnExit"}) EXPECT_TRUE(Child<QPushButton>(on)->isEnabled()) << on;
  for (const char* off : {"btnPause", "btnResume", "btnStop"})
    EXPECT_FALSE(Child<QPushButton>(off)->isEnabled()) << off;

  // The file: what start-up writes back.
  const TIniFile ini = Ini();
  EXPECT_FALSE(ini.ReadBool("settings", "firstrun", true));
  EXPECT_EQ(ini.ReadString("settings", "OutPutDir", ""), AllUsersFolder());
  EXPECT_EQ(ini.ReadString("settings", "width", ""), "800");
  EXPECT_EQ(ini.ReadString("settings", "height", ""), "600");
  EXPECT_EQ(ini.ReadString("settings", "recordwithaudio", ""), "1");
  EXPECT_EQ(ini.ReadString("settings", "stereo", ""), "1");
  EXPECT_EQ(ini.ReadString("settings", "mono", ""), "0");
  // Nothing else is written at start-up.
  for (const char* key : {"format", "preset", "framerate", "quality", "chkMouse", "fullscreen"})
    EXPECT_FALSE(ini.ValueExists("settings", key)) << key;
}

TEST_F(TSettingsTest, EveryControlAndHintCarriesItsName) {
  ShowWindow();
  const std::pair<const char*, const char*> buttons[] = {
      {"btnStart", "&Start"}, {"btnResume", "&Resume"}, {"btnPause", "&Pause"},
      {"btnStop", "S&top"},   {"btnExit", "&Exit"},     {"btnDefault", "Default"}};
  for (const auto& [name, caption] : buttons) EXPECT_EQ(Child<QPushButton>(name)->text(), caption) << name;
  EXPECT_EQ(Child<QPushButton>("btnPause")->toolTip(),
            "Hotkey:press key Alt+p.Hold down the key 'Alt' and press 'P' .");
  EXPECT_EQ(Child<QPushButton>("btnStop")->toolTip(),
            "Hotkey:press key Alt+t.Hold down the key 'Alt' and press 'T' .");
  const QTabWidget* tabs = Child<QTabWidget>("PageControl1");
  ASSERT_EQ(tabs->count(), 4);
  EXPECT_EQ(tabs->tabText(0), "Settings");
  EXPECT_EQ(tabs->tabText(1), "Capture Settings");
  EXPECT_EQ(tabs->tabText(2), "Watermark");
  EXPECT_EQ(tabs->tabText(3), "About");
  for (const char* name : {"grpScreenRegion", "grpVideoOption", "grpAudioOption", "grpAddText", "grpAddTimestamp",
                           "grpAddImageWatermark"})
    EXPECT_NE(Window().findChild<QWidget*>(name), nullptr) << name;
  // Hidden but present: the bit-rate list, the hide and delay options.
  for (const char* name : {"cmbBitRate", "chkHide", "chkDelay", "edtDelay"}) {
    QWidget* widget = Window().findChild<QWidget*>(name);
    ASSERT_NE(widget, nullptr) << name;
    EXPECT_TRUE(widget->isHidden()) << name;
  }
  EXPECT_EQ(Child<QLineEdit>("edtTimestamp")->text(), "Recording ");
  EXPECT_FALSE(Child<QLineEdit>("edtIamgepath")->isEnabled());
  QStringList menus;
  for (QAction* action : Window().menuBar()->actions())
    if (action->isVisible()) menus << action->text();
  EXPECT_EQ(menus, QStringList({"Language", " Help "}));
}

TEST_F(TSettingsTest, BannerLinksAndHelpOpenTheirPagesInTheBrowser) {
  app::TfrmMain& window = ShowWindow();
  const QString product = window.Global().ProductPageUrl();
  QTest::mouseClick(Child<QLabel>("imgBanner"), Qt::LeftButton);
  ASSERT_EQ(OpenedUrls.size(), 1u);
  EXPECT_EQ(OpenedUrls.back(), QUrl(product));
  EXPECT_TRUE(Child<QLabel>("lblHomePage")->text().contains(window.Global().HomePageUrl()));
  QTest::mouseClick(Child<QPushButton>("btnShareTwitter"), Qt::LeftButton);
  ASSERT_EQ(OpenedUrls.size(), 2u);
  EXPECT_EQ(OpenedUrls.back().host(), "twitter.com");
  EXPECT_TRUE(OpenedUrls.back().query(QUrl::FullyDecoded).contains(product));
  for (QAction* action : window.menuBar()->actions())
    if (action->text() == " Help ") action->trigger();
  ASSERT_EQ(OpenedUrls.size(), 3u);
  EXPECT_EQ(OpenedUrls.back(), QUrl(window.Global().HelpPageUrl()));
}

// One user action and the key it stores at once.
struct THandlerCase {
  const char* Name;
  std::function<void(TSettingsTest&)> Act;
  const char* Section;
  const char* Key;
  const char* Value;
};

TEST_F(TSettingsTest, EveryHandlerStoresItsKeyAtOnce) {
  ShowWindow();
  const std::vector<THandlerCase> cases = {
      {"Left typed", [](TSettingsTest& t) { QTest::keyClicks(t.Child<QLineEdit>("edtLeft"), "5"); }, "settings",
       "left", "105"},
      {"Top typed", [](TSettingsTest& t) { QTest::keyClicks(t.Child<QLineEdit>("edtTop"), "7"); }, "settings", "top",
       "107"},
      {"Width typed", [](TSettingsTest& t) { QTest::keyClicks(t.Child<QLineEdit>("edtW"), "0"); }, "settings", "width",
       "8000"},
      {"Height typed", [](TSettingsTest& t) { QTest::keyClick(t.Child<QLineEdit>("edtH"), Qt::Key_1); }, "settings",
       "height", "6001"},
      {"Preset Center", [](TSettingsTest& t) { PickInList(t.Child<QComboBox>("cmbPreset"), 2); }, "settings",
       "preset", "2"},
      {"Frame rate 25", [](TSettingsTest& t) { PickInList(t.Child<QComboBox>("cmbFrameRate"), 8); }, "settings",
       "framerate", "25"},
      {"Frame rate index", nullptr, "settings", "framerateindex", "8"},
      {"Frame rate in mp4", nullptr, "mp4settings", "framerateindex", "8"},
      {"Frame rate text in mp4", nullptr, "mp4settings", "framerate", "25"},
      {"Quality 3", [](TSettingsTest& t) { PickInList(t.Child<QComboBox>("cmbQuality"), 3); }, "settings",
       "qualityindex", "3"},
      {"Quality text", nullptr, "settings", "quality", "3"},
      {"Quality in mp4", nullptr, "mp4settings", "qualityindex", "3"},
      {"Sample rate 22050", [](TSettingsTest& t) { PickInList(t.Child<QComboBox>("cmbSampleRate"), 2); },
       "mp4settings", "samplerate", "22050"},
      {"Sample rate index", nullptr, "mp4settings", "samplerateindex", "2"},
      {"Sample rate text", nullptr, "settings", "samplerate", "22050"},
      {"Mono", [](TSettingsTest& t) { QTest::mouseClick(t.Child<QRadioButton>("rdoMono"), Qt::LeftButton); },
       "settings", "mono", "1"},
      {"Mono clears stereo", nullptr, "settings", "stereo", "0"},
      {"Stereo", [](TSettingsTest& t) { QTest::mouseClick(t.Child<QRadioButton>("rdoStereo"), Qt::LeftButton); },
       "settings", "stereo", "1"},
      {"Audio off", [](TSettingsTest& t) { QTest::mouseClick(t.Child<QCheckBox>("chk_audio"), Qt::LeftButton); },
       "settings", "recordwithaudio", "0"},
      {"Format flv", [](TSettingsTest& t) { PickInList(t.Child<QComboBox>("cmbFormat"), 2); }, "settings", "format",
       "2"},
  };
  for (const THandlerCase& c : cases) {
    if (c.Act) c.Act(*this);
    EXPECT_EQ(Ini().ReadString(c.Section, c.Key, "<absent>"), c.Value) << c.Name;
  }
  // The sound controls follow "Record with audio".
  EXPECT_FALSE(Child<QComboBox>("cmbSampleRate")->isEnabled());
  EXPECT_FALSE(Child<QRadioButton>("rdoMono")->isEnabled());
}

TEST_F(TSettingsTest, CaptureAndWatermarkHandlersStoreTheirKeys) {
  ShowWindow();
  auto* tabs = Child<QTabWidget>("PageControl1");
  tabs->setCurrentIndex(1);
  auto* length = Child<QLineEdit>("edtLength");
  EXPECT_FALSE(length->isEnabled());
  QTest::mouseClick(Child<QCheckBox>("chkLength"), Qt::LeftButton);
  EXPECT_TRUE(Ini().ReadBool("settings", "chkLength", false));
  ASSERT_TRUE(length->isEnabled());
  QTest::keyClicks(length, "10");
  EXPECT_EQ(Ini().ReadString("settings", "RecLength", ""), "10");
  QTest::mouseClick(Child<QCheckBox>("chkMouse"), Qt::LeftButton);
  EXPECT_EQ(Ini().ReadString("settings", "chkMouse", ""), "1");
  // The hidden options act through their keys when set.
  Child<QCheckBox>("chkDelay")->setChecked(true);
  EXPECT_EQ(Ini().ReadString("settings", "chkDelay", ""), "1");
  EXPECT_TRUE(Child<QLineEdit>("edtDelay")->isEnabled());
  Child<QLineEdit>("edtDelay")->setText("3");
  EXPECT_EQ(Ini().ReadString("settings", "delay", ""), "3");
  Child<QCheckBox>("chkHide")->setChecked(true);
  EXPECT_EQ(Ini().ReadString("settings", "chkHide", ""), "1");

  tabs->setCurrentIndex(2);
  auto* text = Child<QLineEdit>("edtAddText");
  EXPECT_FALSE(text->isEnabled());
  QTest::mouseClick(Child<QCheckBox>("chkAddText"), Qt::LeftButton);
  EXPECT_TRUE(text->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("btnAddTextOptions")->isEnabled());
  QTest::keyClicks(text, "Hi");
  EXPECT_EQ(Ini().ReadString("settings", "edtAddText", ""), "Hi");
  QTest::mouseClick(Child<QCheckBox>("chkAddTimestamp"), Qt::LeftButton);
  EXPECT_EQ(Ini().ReadString("settings", "chkAddTimestamp", ""), "1");
  QTest::keyClicks(Child<QLineEdit>("edtTimestamp"), "At ");
  EXPECT_EQ(Ini().ReadString("settings", "edtAddTimestamp", ""), "At ");
  QTest::mouseClick(Child<QCheckBox>("chkAddWatermark"), Qt::LeftButton);
  EXPECT_EQ(Ini().ReadString("settings", "chkAddWatermark", ""), "1");
  EXPECT_TRUE(Child<QPushButton>("btnImagePath")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("btnAddWatermarkOptions")->isEnabled());
  Child<QLineEdit>("edtIamgepath")->setText("/tmp/logo.png");
  EXPECT_EQ(Ini().ReadString("imageoptions", "path", ""), "/tmp/logo.png");
}

TEST_F(TSettingsTest, SettingControlsFromCodeRunsOnlyTheirOwnHandlers) {
  ShowWindow();
  const QString before = IniText();
  // Selecting list entries from code runs no handler.
  Child<QComboBox>("cmbFormat")->setCurrentIndex(4);
  Child<QComboBox>("cmbFrameRate")->setCurrentIndex(2);
  Child<QComboBox>("cmbQuality")->setCurrentIndex(9);
  Child<QComboBox>("cmbPreset")->setCurrentIndex(1);
  EXPECT_EQ(IniText(), before);
  // A check box set to the state it has already runs nothing either.
  Child<QCheckBox>("chk_audio")->setChecked(true);
  EXPECT_EQ(IniText(), before);
  // A state change runs the click handler, a text its change handler.
  Child<QCheckBox>("chk_audio")->setChecked(false);
  EXPECT_EQ(Ini().ReadString("settings", "recordwithaudio", ""), "0");
  EXPECT_FALSE(Child<QRadioButton>("rdoStereo")->isEnabled());
  Child<QLineEdit>("edtW")->setText("1024");
  EXPECT_EQ(Ini().ReadString("settings", "width", ""), "1024");
  EXPECT_FALSE(Ini().ValueExists("settings", "format"));
  EXPECT_FALSE(Ini().ValueExists("settings", "preset"));
}

TEST_F(TSettingsTest, StartUpRestoresTheStoredSettings) {
  TIniFile ini = Ini();
  ini.WriteBool("settings", "firstrun", false);
  const QString output = TempPath("out");
  QDir().mkpath(output);
  ini.WriteString("settings", "OutPutDir", output);
  ini.WriteString("settings", "format", "5");
  ini.WriteString("avisettings", "samplerateindex", "3");
  ini.WriteString("avisettings", "qualityindex", "7");
  ini.WriteString("settings", "framerateindex", "10");
  ini.WriteString("settings", "preset", "2");
  ini.WriteString("settings", "left", "1");
  ini.WriteString("settings", "width", "640");
  ini.WriteBool("settings", "recordwithaudio", false);
  ini.WriteBool("settings", "stereo", false);
  ShowWindow();
  EXPECT_EQ(Child<QComboBox>("cmbFormat")->currentText(), "avi");
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->currentText(), "11025");
  EXPECT_EQ(Child<QComboBox>("cmbQuality")->currentText(), "7");
  EXPECT_EQ(Child<QComboBox>("cmbFrameRate")->currentText(), "30");
  EXPECT_EQ(Child<QComboBox>("cmbPreset")->currentText(), "Center");
  EXPECT_EQ(Child<QLineEdit>("edtLeft")->text(), "1");
  EXPECT_EQ(Child<QLineEdit>("edtW")->text(), "640");
  EXPECT_EQ(Child<QLineEdit>("edtDir")->text(), output);
  EXPECT_FALSE(Child<QCheckBox>("chk_audio")->isChecked());
  EXPECT_FALSE(Child<QComboBox>("cmbSampleRate")->isEnabled());
  EXPECT_TRUE(Child<QRadioButton>("rdoMono")->isChecked());
}

TEST_F(TSettingsTest, FormatChangeRestoresTheFormatsOwnSelections) {
  TIniFile ini = Ini();
  ini.WriteString("mkvsettings", "samplerateindex", "1");
  ini.WriteString("mkvsettings", "framerateindex", "9");
  ini.WriteString("mkvsettings", "qualityindex", "4");
  ShowWindow();
  PickInList(Child<QComboBox>("cmbFrameRate"), 3);  // settings/framerate = "15"
  const QString framerate = Ini().ReadString("settings", "framerate", "");
  PickInList(Child<QComboBox>("cmbFormat"), 4);
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->count(), 2);
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->currentText(), "32000");
  EXPECT_EQ(Child<QComboBox>("cmbFrameRate")->currentText(), "29.97");
  EXPECT_EQ(Child<QComboBox>("cmbQuality")->currentText(), "4");
  EXPECT_EQ(Ini().ReadString("settings", "format", ""), "4");
  // The restore writes no other key: the frame rate Start uses stays.
  EXPECT_EQ(Ini().ReadString("settings", "framerate", ""), framerate);
  // A format whose section is empty selects the first entries.
  PickInList(Child<QComboBox>("cmbFormat"), 6);
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->currentIndex(), 0);
  EXPECT_EQ(Child<QComboBox>("cmbFrameRate")->currentIndex(), 0);
  EXPECT_EQ(Child<QComboBox>("cmbQuality")->currentIndex(), 0);
}

TEST_F(TSettingsTest, FormatOutOfRangeLeavesTheListsWithoutSelection) {
  Ini().WriteString("settings", "format", "42");
  ShowWindow();
  EXPECT_EQ(Child<QComboBox>("cmbFormat")->currentIndex(), -1);
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->count(), 0);
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->currentIndex(), -1);
}

TEST_F(TSettingsTest, DefaultRunsItsNineSteps) {
  ShowWindow();
  Child<QCheckBox>("chkMouse")->setChecked(true);
  Child<QCheckBox>("chkAddText")->setChecked(true);
  Child<QCheckBox>("chk_audio")->setChecked(false);
  QTest::mouseClick(Child<QPushButton>("btnDefault"), Qt::LeftButton);
  const bool fourCores = QThread::idealThreadCount() >= 4;
  EXPECT_EQ(Child<QComboBox>("cmbFrameRate")->currentText(), fourCores ? "20" : "15");
  EXPECT_EQ(Ini().ReadString("settings", "framerate", ""), fourCores ? "20" : "15");
  EXPECT_EQ(Ini().ReadString("mp4settings", "framerateindex", ""), fourCores ? "5" : "3");
  EXPECT_EQ(Child<QComboBox>("cmbQuality")->currentText(), "6 (Recommend)");
  EXPECT_EQ(Ini().ReadString("mp4settings", "qualityindex", ""), "6");
  EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->currentText(), "22050");
  EXPECT_EQ(Ini().ReadString("mp4settings", "samplerate", ""), "22050");
  EXPECT_TRUE(Child<QCheckBox>("chk_audio")->isChecked());
  EXPECT_EQ(Ini().ReadString("settings", "recordwithaudio", ""), "1");
  EXPECT_TRUE(Child<QRadioButton>("rdoStereo")->isChecked());
  for (const char* key : {"chkMouse", "chkAddText"}) EXPECT_EQ(Ini().ReadString("settings", key, ""), "0") << key;
  EXPECT_FALSE(Child<QCheckBox>("chkMouse")->isChecked());
}

TEST_F(TSettingsTest, DefaultLeavesNoSampleRateForFormatsWithFewerThanThree) {
  ShowWindow();
  for (const auto& [format, section] : {std::pair<int, const char*>{3, "wmvsettings"}, {4, "mkvsettings"},
                                        {6, "webmsettings"}}) {
    PickInList(Child<QComboBox>("cmbFormat"), format);
    QTest::mouseClick(Child<QPushButton>("btnDefault"), Qt::LeftButton);
    EXPECT_EQ(Child<QComboBox>("cmbSampleRate")->currentIndex(), -1) << section;
    EXPECT_EQ(Ini().ReadString(section, "samplerateindex", ""), "-1") << section;
    EXPECT_EQ(Ini().ReadString(section, "samplerate", "<absent>"), "") << section;
    EXPECT_EQ(Ini().ReadString("settings", "samplerate", "<absent>"), "") << section;
  }
}

TEST_F(TSettingsTest, CaptureTabLoadsItsKeysEachTimeItIsShown) {
  ShowWindow();
  TIniFile ini = Ini();
  ini.WriteBool("settings", "chkMouse", true);
  ini.WriteBool("settings", "chkLength", true);
  ini.WriteInteger("settings", "RecLength", 0);
  ini.WriteInteger("settings", "delay", 4);
  auto* tabs = Child<QTabWidget>("PageControl1");
  tabs->setCurrentIndex(1);
  EXPECT_TRUE(Child<QCheckBox>("chkMouse")->isChecked());
  EXPECT_TRUE(Child<QCheckBox>("chkLength")->isChecked());
  EXPECT_EQ(Child<QLineEdit>("edtLength")->text(), "");  // "0" reads as empty
  EXPECT_EQ(Child<QLineEdit>("edtDelay")->text(), "4");
  EXPECT_EQ(Ini().ReadString("settings", "RecLength", ""), "0");  // and nothing was stored
  tabs->setCurrentIndex(0);
  Ini().WriteInteger("settings", "RecLength", 30);
  Ini().WriteBool("settings", "chkMouse", false);
  tabs->setCurrentIndex(1);
  EXPECT_EQ(Child<QLineEdit>("edtLength")->text(), "30");
  EXPECT_FALSE(Child<QCheckBox>("chkMouse")->isChecked());
}

TEST_F(TSettingsTest, WatermarkTabLoadsItsKeysAndEnablesItsControls) {
  ShowWindow();
  TIniFile ini = Ini();
  ini.WriteBool("settings", "chkAddText", true);
  ini.WriteString("settings", "edtAddText", "Demo");
  ini.WriteString("settings", "edtAddTimestamp", "Now ");
  ini.WriteBool("settings", "chkAddWatermark", true);
  ini.WriteString("imageoptions", "path", "/srv/logo.png");
  Child<QTabWidget>("PageControl1")->setCurrentIndex(2);
  EXPECT_TRUE(Child<QCheckBox>("chkAddText")->isChecked());
  EXPECT_EQ(Child<QLineEdit>("edtAddText")->text(), "Demo");
  EXPECT_TRUE(Child<QLineEdit>("edtAddText")->isEnabled());
  EXPECT_EQ(Child<QLineEdit>("edtTimestamp")->text(), "Now ");
  EXPECT_FALSE(Child<QCheckBox>("chkAddTimestamp")->isChecked());
  EXPECT_FALSE(Child<QPushButton>("btnAddTimeStamp")->isEnabled());
  EXPECT_EQ(Child<QLineEdit>("edtIamgepath")->text(), "/srv/logo.png");
  EXPECT_TRUE(Child<QPushButton>("btnImagePath")->isEnabled());
}

TEST_F(TSettingsTest, NumericFieldsRefuseEverythingButDigits) {
  ShowWindow();
  Child<QTabWidget>("PageControl1")->setCurrentIndex(1);
  Child<QCheckBox>("chkLength")->setChecked(true);
  Child<QCheckBox>("chkDelay")->setChecked(true);
  Child<QTabWidget>("PageControl1")->setCurrentIndex(0);
  for (const char* name : {"edtLeft", "edtTop", "edtW", "edtH", "edtDelay", "edtLength"}) {
    auto* field = Child<QLineEdit>(name);
    field->setText("12");
    field->setCursorPosition(2);
    const int beeps = Window().BeepCount();
    QTest::keyClicks(field, "a3-b");
    EXPECT_EQ(field->text(), "123") << name;
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "123") << name;
    QApplication::clipboard()->setText("99");
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "123") << name;
    EXPECT_EQ(Window().BeepCount(), beeps + 5) << name;
    // Delete types no character and still deletes.
    field->setCursorPosition(0);
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_EQ(field->text(), "23") << name;
  }
}

TEST_F(TSettingsTest, ZeroInTheLengthFieldEmptiesItAndStoresNothing) {
  ShowWindow();
  Ini().WriteInteger("settings", "RecLength", 25);
  Child<QTabWidget>("PageControl1")->setCurrentIndex(1);
  QTest::mouseClick(Child<QCheckBox>("chkLength"), Qt::LeftButton);
  auto* length = Child<QLineEdit>("edtLength");
  length->selectAll();
  QTest::keyClick(length, Qt::Key_0);
  EXPECT_EQ(length->text(), "");
  EXPECT_EQ(Ini().ReadString("settings", "RecLength", ""), "25");
  QTest::keyClicks(length, "10");
  EXPECT_EQ(Ini().ReadString("settings", "RecLength", ""), "10");
}

}  // namespace
}  // namespace vexa::test
