// The region presets and the green outline, and the output folder chooser.
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "AppUiSupport.h"
#include "ui/RegionOutline.h"
#include "ui/directory.h"

namespace vexa::test {
namespace {

using TRegionTest = TMainWindowTest;

QSize ScreenSize() { return QGuiApplication::primaryScreen()->geometry().size(); }

// The outline's ring: outer rectangle at (left, top), W + 2b by H + 2b, with
// the inner W x H rectangle at (b, b) cut out.
void ExpectOutline(int left, int top, int width, int height, int border) {
  QWidget* outline = app::CurrentRegionOutline();
  ASSERT_NE(outline, nullptr);
  EXPECT_TRUE(outline->isVisible());
  EXPECT_EQ(outline->geometry(), QRect(left, top, width + 2 * border, height + 2 * border));
  const QRegion mask = outline->mask();
  EXPECT_TRUE(mask.contains(QPoint(0, 0)));
  EXPECT_TRUE(mask.contains(QPoint(border - 1, border - 1)));
  EXPECT_TRUE(mask.contains(QPoint(width + 2 * border - 1, height + 2 * border - 1)));
  EXPECT_TRUE(mask.contains(QPoint(width + border, border + height / 2)));
  EXPECT_FALSE(mask.contains(QPoint(border, border)));
  EXPECT_FALSE(mask.contains(QPoint(width + border - 1, height + border - 1)));
  EXPECT_FALSE(mask.contains(QPoint(border + width / 2, border + height / 2)));
  const Qt::WindowFlags flags = outline->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));  // clicks pass through
  EXPECT_EQ(outline->windowType(), Qt::Tool);                   // no taskbar entry
  EXPECT_EQ(outline->palette().color(QPalette::Window), QColor(0, 128, 0));
}

TEST_F(TRegionTest, CenterPresetCentresTheRegionOrPutsItAtZero) {
  ShowWindow();
  const QSize screen = ScreenSize();
  auto* width = Child<QLineEdit>("edtW");
  auto* height = Child<QLineEdit>("edtH");
  width->setText(QString::number(screen.width() - 480));
  height->setText("300");
  PickInList(Child<QComboBox>("cmbPreset"), 2);
  EXPECT_EQ(Child<QLineEdit>("edtLeft")->text().toInt(), screen.width() / 2 - (screen.width() - 480) / 2);
  EXPECT_EQ(Child<QLineEdit>("edtTop")->text().toInt(), screen.height() / 2 - 150);
  ExpectOutline(240, screen.height() / 2 - 150, screen.width() - 480, 300, 1);
  EXPECT_TRUE(Child<QPushButton>("btnStart")->hasFocus());
  EXPECT_EQ(Ini().ReadString("settings", "left", ""), "240");
  // Wider than the screen: Left 0.
  width->setText(QString::number(screen.width() + 80));
  PickInList(Child<QComboBox>("cmbPreset"), 2);
  EXPECT_EQ(Child<QLineEdit>("edtLeft")->text(), "0");
}

TEST_F(TRegionTest, FullScreenStoresTheInsetFlagThatCustomizeKeeps) {
  app::TfrmMain& window = ShowWindow();
  const QSize screen = ScreenSize();
  EXPECT_FALSE(window.InsetFlag());
  PickInList(Child<QComboBox>("cmbPreset"), 1);
  EXPECT_TRUE(window.InsetFlag());
  EXPECT_EQ(Ini().ReadString("settings", "fullscreen", ""), "1");
  EXPECT_EQ(Ini().ReadString("settings", "preset", ""), "1");
  EXPECT_EQ(Child<QLineEdit>("edtLeft")->text(), "0");
  EXPECT_EQ(Child<QLineEdit>("edtTop")->text(), "0");
  EXPECT_EQ(Child<QLineEdit>("edtW")->text(), QString::number(screen.width()));
  EXPECT_EQ(Child<QLineEdit>("edtH")->text(), QString::number(screen.height()));
  ExpectOutline(0, 0, screen.width(), screen.height(), 1);
  PickInList(Child<QComboBox>("cmbPreset"), 0);
  EXPECT_EQ(Ini().ReadString("settings", "preset", ""), "0");
  EXPECT_EQ(Ini().ReadString("settings", "fullscreen", ""), "1");
  EXPECT_TRUE(window.InsetFlag());
}

TEST_F(TRegionTest, ShowRegionDrawsARingOfTwoAndCloseRegionRemovesIt) {
  ShowWindow();
  Child<QLineEdit>("edtLeft")->setText("30");
  Child<QLineEdit>("edtTop")->setText("40");
  Child<QLineEdit>("edtW")->setText("200");
  Child<QLineEdit>("edtH")->setText("100");
  QTest::mouseClick(Child<QPushButton>("btnShow"), Qt::LeftButton);
  ExpectOutline(30, 40, 200, 100, 2);
  QWidget* first = app::CurrentRegionOutline();
  QPointer<QWidget> firstGuard(first);
  // At most one outline: a new one replaces the old.
  QTest::mouseClick(Child<QPushButton>("btnShow"), Qt::LeftButton);
  EXPECT_TRUE(firstGuard.isNull());
  QTest::mouseClick(Child<QPushButton>("btnClose"), Qt::LeftButton);
  EXPECT_EQ(app::CurrentRegionOutline(), nullptr);
}

TEST_F(TRegionTest, LeavingARegionFieldShowsTheOutlineAndFocusesStart) {
  ShowWindow();
  auto* left = Child<QLineEdit>("edtLeft");
  left->setFocus();
  EXPECT_TRUE(QTest::qWaitFor([&] { return left->hasFocus(); }));
  QTest::keyClick(left, Qt::Key_5);  // 105
  QTest::keyClick(left, Qt::Key_Tab);
  EXPECT_TRUE(QTest::qWaitFor([&] { return app::CurrentRegionOutline() != nullptr; }));
  ExpectOutline(105, 10, 800, 600, 2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Child<QPushButton>("btnStart")->hasFocus(); }));
}

TEST_F(TRegionTest, AnEmptyRegionFieldGivesTheConversionErrorAndNoOutline) {
  ShowWindow();
  Child<QLineEdit>("edtW")->setText("");
  TMessageBoxAnswer answer(QMessageBox::Ok);
  QTest::mouseClick(Child<QPushButton>("btnShow"), Qt::LeftButton);
  EXPECT_TRUE(answer.Answered());
  EXPECT_EQ(answer.Caption(), "Warning");
  EXPECT_EQ(answer.Text(), "'' is not a valid integer value");
  EXPECT_EQ(app::CurrentRegionOutline(), nullptr);
}

// --- the output folder chooser

using TFolderTest = TMainWindowTest;

// Runs `act` on the chooser once it is showing, then returns.
void WhenChooserShows(app::TfmDirectory& chooser, std::function<void(app::TfmDirectory&)> act) {
  auto* timer = new QTimer(&chooser);
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, &chooser, [timer, &chooser, act] {
    if (!chooser.isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(chooser);
  });
  timer->start();
}

QPushButton* ChooserButton(app::TfmDirectory& chooser, const char* name) {
  return chooser.findChild<QPushButton*>(name);
}

TEST_F(TFolderTest, ChooserRefusesTheCollectionsAndTakesAFolder) {
  ShowWindow();
  const QString target = QDir::homePath() + "/Recordings/Today";
  ASSERT_TRUE(QDir().mkpath(target));
  app::TfmDirectory& chooser = Window().DirectoryChooser();
  bool checked = false;
  WhenChooserShows(chooser, [&](app::TfmDirectory& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Browse");
    EXPECT_EQ(dialog.size(), QSize(322, 351));
    auto* tree = dialog.findChild<QTreeWidget*>("stview_selectdir");
    ASSERT_NE(tree, nullptr);
    ASSERT_GE(tree->topLevelItemCount(), 5);
    for (int index = 0; index < 5; ++index) {
      QTreeWidgetItem* item = tree->topLevelItem(index);
      tree->scrollToItem(item);
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
      EXPECT_EQ(dialog.OkEnabled(), index == 0 || index > 4) << index;
    }
    ASSERT_TRUE(dialog.SelectFolder(target));
    EXPECT_TRUE(dialog.OkEnabled());
    checked = true;
    QTest::mouseClick(ChooserButton(dialog, "btnOk"), Qt::LeftButton);
  });
  QTest::mouseClick(Child<QPushButton>("btnBrowse"), Qt::LeftButton);
  EXPECT_TRUE(checked);
  EXPECT_EQ(chooser.ChosenFolder(), target);
  EXPECT_EQ(Child<QLineEdit>("edtDir")->text(), target);
  EXPECT_EQ(Ini().ReadString("settings", "OutPutDir", ""), target);

  // The same folder again changes nothing.
  const QString before = IniText();
  WhenChooserShows(chooser, [&](app::TfmDirectory& dialog) {
    ASSERT_TRUE(dialog.SelectFolder(target));
    QTest::mouseClick(ChooserButton(dialog, "btnOk"), Qt::LeftButton);
  });
  QTest::mouseClick(Child<QPushButton>("btnBrowse"), Qt::LeftButton);
  EXPECT_EQ(IniText(), before);

  // Cancel leaves no chosen folder and the field as it was.
  WhenChooserShows(chooser, [&](app::TfmDirectory& dialog) {
    ASSERT_TRUE(dialog.SelectFolder(QDir::homePath()));
    QTest::mouseClick(ChooserButton(dialog, "btnCancel"), Qt::LeftButton);
  });
  QTest::mouseClick(Child<QPushButton>("btnBrowse"), Qt::LeftButton);
  EXPECT_EQ(chooser.ChosenFolder(), "");
  EXPECT_EQ(Child<QLineEdit>("edtDir")->text(), target);
}

TEST_F(TFolderTest, ChooserRefusesAFolderOnADisc) {
  ShowWindow();
  const QString disc = QDir::homePath() + "/disc";
  ASSERT_TRUE(QDir().mkpath(disc));
  app::TfmDirectory& chooser = Window().DirectoryChooser();
  // The test cannot mount a disc: the chooser is told this folder is on one.
  chooser.SetOpticalDiscTest([disc](const std::string& path) { return QString::fromStdString(path) == disc; });
  bool stayedOpen = false;
  WhenChooserShows(chooser, [&](app::TfmDirectory& dialog) {
    ASSERT_TRUE(dialog.SelectFolder(disc));
    TMessageBoxAnswer answer(QMessageBox::Ok);
    QTest::mouseClick(ChooserButton(dialog, "btnOk"), Qt::LeftButton);
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(answer.Text(), "Output folder cannot be located in CD-ROM.Please select another folder.");
    EXPECT_EQ(answer.Caption(), "Vexa Screen Recorder");
    stayedOpen = dialog.isVisible();
    EXPECT_EQ(dialog.ChosenFolder(), "");
    ASSERT_TRUE(dialog.SelectFolder(QDir::homePath()));
    QTest::mouseClick(ChooserButton(dialog, "btnOk"), Qt::LeftButton);
  });
  QTest::mouseClick(Child<QPushButton>("btnBrowse"), Qt::LeftButton);
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(Child<QLineEdit>("edtDir")->text(), QDir::homePath());
}

TEST_F(TFolderTest, OpenShowsTheStoredFolderInTheFileBrowser) {
  ShowWindow();
  QTest::mouseClick(Child<QPushButton>("btnOpen"), Qt::LeftButton);
  ASSERT_EQ(OpenedUrls.size(), 1u);
  EXPECT_EQ(OpenedUrls[0], QUrl::fromLocalFile(AllUsersFolder()));
}

}  // namespace
}  // namespace vexa::test
