// The main window with the languages, the option dialogs and the region
// selection window it opens.
#include "AppUi/AppUiSupport.h"
#include "AppUi/UiTestSupport.h"
#include "core/LanguageFiles.h"
#include "ui/ScreenShotMain.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace vexa {
namespace {

using TMainWindowLanguageTest = test::TMainWindowTest;

// Named components whose texts a language file translates, with the key
// their caption comes from.
QList<QObject*> TranslatableComponents(QWidget* window) {
  QList<QObject*> found;
  for (QObject* o : window->findChildren<QObject*>()) {
    bool ownWindow = true;  // not inside a dialog of the window
    for (QObject* p = o; p && p != window; p = p->parent())
      if (auto* w = qobject_cast<QWidget*>(p); w && w->isWindow() && !qobject_cast<QMenu*>(w)) ownWindow = false;
    if (!ownWindow) continue;
    const QString name = o->objectName();
    if (name.isEmpty() || name.startsWith(QStringLiteral("qt_")) || name.startsWith(QStringLiteral("btnShare")))
      continue;
    if (auto* label = qobject_cast<QLabel*>(o)) {
      if (label->pixmap().isNull() && label->textFormat() != Qt::RichText) found << o;
    } else if (qobject_cast<QCheckBox*>(o) || qobject_cast<QRadioButton*>(o) || qobject_cast<QGroupBox*>(o)) {
      if (!qobject_cast<QAbstractButton*>(o) || !qobject_cast<QAbstractButton*>(o)->text().isEmpty()) found << o;
    } else if (qobject_cast<QPushButton*>(o) || qobject_cast<QMenu*>(o)) {
      found << o;
    } else if (auto* action = qobject_cast<QAction*>(o); action && !action->menu() && !action->isSeparator()) {
      found << o;
    }
  }
  return found;
}

QString TextOf(QObject* o) {
  if (auto* label = qobject_cast<QLabel*>(o)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(o)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(o)) return group->title();
  if (auto* menu = qobject_cast<QMenu*>(o)) return menu->title();
  if (auto* action = qobject_cast<QAction*>(o)) return action->text();
  return {};
}

TEST_F(TMainWindowLanguageTest, TheShippedGermanTranslationRenamesAllFourWindows) {
  app::TfrmMain& window = ShowWindow();
  QStringList captions;
  for (QAction* item : window.LanguageMenu()->actions()) captions << item->text();
  ASSERT_TRUE(captions.contains(QStringLiteral("deutsch"))) << captions.join(',').toStdString();
  ASSERT_TRUE(captions.contains(QStringLiteral("english")));

  const QString folder = LanguageFolder();
  const TLanguageFile german(LanguageFilePath(folder, QStringLiteral("German")));
  ASSERT_TRUE(german.IsLoaded());
  QList<QWidget*> windows{&window};
  for (const char* name : {"frmAddTextOptions", "frmAddTimestampOptions", "frmAddImageOptions"}) {
    auto* dialog = window.findChild<QDialog*>(QLatin1String(name));
    ASSERT_NE(dialog, nullptr) << name;
    windows << dialog;
  }
  for (QAction* item : window.LanguageMenu()->actions())
    if (item->text() == QStringLiteral("deutsch")) item->trigger();

  int checked = 0;
  for (QWidget* w : windows) {
    for (QObject* o : TranslatableComponents(w)) {
      const QString key = o->objectName() + QStringLiteral(".Caption");
      const QString wanted = german.Translation(key, QStringLiteral("<missing>"));
      EXPECT_NE(wanted, QStringLiteral("<missing>")) << key.toStdString();
      EXPECT_EQ(TextOf(o), wanted) << key.toStdString();
      ++checked;
    }
  }
  EXPECT_GT(checked, 60);
  auto* start = window.findChild<QPushButton*>(QStringLiteral("btnStart"));
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->toolTip(), german.Translation(QStringLiteral("btnStart.Hint"), QString()));
  auto* tabs = window.findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("Einstellungen"));
  testing_ui::SaveScreenshot(&window, QStringLiteral("main-window-german"));
}

TEST_F(TMainWindowLanguageTest, OkInTheRegionWindowFillsTheMainWindowAndTheSettingsFile) {
  app::TfrmMain& window = ShowWindow();
  auto* select = window.findChild<QPushButton*>(QStringLiteral("btnSelect"));
  ASSERT_NE(select, nullptr);
  QTest::mouseClick(select, Qt::LeftButton);
  auto* region = qobject_cast<TfrmScreenShots*>(window.RegionWindow());
  ASSERT_NE(region, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(region));
  testing_ui::Drag(region, {120, 80}, {440, 320});
  region->repaint();
  testing_ui::SendMouse(region, QEvent::MouseButtonDblClick, {200, 200}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_FALSE(region->isVisible());
  EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("edtLeft"))->text(), QStringLiteral("120"));
  EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("edtTop"))->text(), QStringLiteral("80"));
  EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("edtW"))->text(), QStringLiteral("320"));
  EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("edtH"))->text(), QStringLiteral("240"));
  EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblRecorderStatus"))->text(),
            QStringLiteral("Recorder Status: select region 320 x 240"));
  const TIniFile ini = Ini();
  EXPECT_TRUE(ini.ReadBool(QStringLiteral("settings"), QStringLiteral("fullscreen"), false));
  EXPECT_EQ(ini.ReadString(QStringLiteral("settings"), QStringLiteral("left"), QString()), QStringLiteral("120"));
  EXPECT_EQ(ini.ReadString(QStringLiteral("settings"), QStringLiteral("width"), QString()), QStringLiteral("320"));
}

}  // namespace
}  // namespace vexa
