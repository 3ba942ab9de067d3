#include "ui/LanguageLoader.h"

#include "core/LanguageFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace vexa {
namespace {

template <typename T>
T* Make(const char* name, QWidget* parent) {
  auto* w = new T(parent);
  w->setObjectName(QLatin1String(name));
  return w;
}

// A window with one component of every kind the language files reach, and
// some they do not.
struct TSampleWindow {
  QWidget window;
  QLabel* label = Make<QLabel>("lblPreset", &window);
  QLabel* fixedLabel = Make<QLabel>("lblFixed", &window);
  QCheckBox* check = Make<QCheckBox>("chkMouse", &window);
  QRadioButton* radio = Make<QRadioButton>("rdoStereo", &window);
  QPushButton* button = Make<QPushButton>("btnStart", &window);
  QPushButton* untouched = Make<QPushButton>("btnExit", &window);
  QToolButton* toggle = Make<QToolButton>("SpeedButton1", &window);
  QLineEdit* edit = Make<QLineEdit>("edtLeft", &window);
  QGroupBox* group = Make<QGroupBox>("grpScreenRegion", &window);
  QTabWidget* tabs = Make<QTabWidget>("PageControl1", &window);
  QWidget* page = Make<QWidget>("TabSheet1", nullptr);
  QMenu* menu = Make<QMenu>("Language", &window);
  QAction* help = new QAction(QStringLiteral(" Help "), &window);

  TSampleWindow() {
    label->setText(QStringLiteral("Preset:"));
    fixedLabel->setText(QStringLiteral("Short"));
    fixedLabel->setFixedWidth(40);
    check->setText(QStringLiteral("Doesn't capture the mouse."));
    radio->setText(QStringLiteral("Stereo"));
    button->setText(QStringLiteral("&Start"));
    button->setToolTip(QStringLiteral("Hotkey"));
    untouched->setText(QStringLiteral("&Exit"));
    untouched->setToolTip(QStringLiteral("leave"));
    toggle->setText(QStringLiteral("x"));
    edit->setText(QStringLiteral("10"));
    group->setTitle(QStringLiteral("Screen Region"));
    tabs->addTab(page, QStringLiteral("Settings"));
    menu->setTitle(QStringLiteral("Language"));
    help->setObjectName(QStringLiteral("Help"));
  }
};

class LanguageLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  void WriteLanguage(const QString& name, const QByteArray& text) {
    QFile file(LanguageFilePath(dir_.path(), name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }

  QTemporaryDir dir_;
};

TEST_F(LanguageLoaderTest, TranslatesEachKindByNameAndLeavesOthersAlone) {
  WriteLanguage("German",
                "[Translations]\n"
                "lblPreset.Caption=Vorgabe:\n"
                "lblFixed.Caption=Ein viel längerer Text\n"
                "chkMouse.Caption=Mauszeiger nicht aufnehmen.\n"
                "rdoStereo.Caption=Zweikanal\n"
                "btnStart.Caption=&Starten\n"
                "btnStart.Hint=Tastenkürzel Alt+S\n"
                "SpeedButton1.Caption=no\n"
                "edtLeft.Caption=no\n"
                "grpScreenRegion.Caption=Bildschirmbereich\n"
                "TabSheet1.Caption=Einstellungen\n"
                "Language.Caption=Sprache\n"
                "Help.Caption=\" Hilfe \"\n"
                "[Messages]\nM1=x\n");
  TSampleWindow w;
  ApplyLanguage(&w.window, dir_.path(), QStringLiteral("German"));
  EXPECT_EQ(w.label->text(), QStringLiteral("Vorgabe:"));
  EXPECT_EQ(w.label->toolTip(), QStringLiteral("Vorgabe:"));
  EXPECT_EQ(w.label->width(), QFontMetrics(w.label->font()).horizontalAdvance(QStringLiteral("Vorgabe:")));
  EXPECT_EQ(w.fixedLabel->text(), QStringLiteral("Ein viel längerer Text"));
  EXPECT_EQ(w.fixedLabel->width(), 40);
  EXPECT_EQ(w.check->text(), QStringLiteral("Mauszeiger nicht aufnehmen."));
  EXPECT_EQ(w.check->toolTip(), QStringLiteral("Mauszeiger nicht aufnehmen."));
  EXPECT_EQ(w.radio->text(), QStringLiteral("Zweikanal"));
  EXPECT_EQ(w.radio->toolTip(), QStringLiteral("Zweikanal"));
  EXPECT_EQ(w.button->text(), QStringLiteral("&Starten"));
  EXPECT_EQ(w.button->toolTip(), QStringLiteral("Tastenkürzel Alt+S"));
  EXPECT_EQ(w.untouched->text(), QStringLiteral("&Exit"));
  EXPECT_EQ(w.untouched->toolTip(), QStringLiteral("leave"));
  EXPECT_EQ(w.toggle->text(), QStringLiteral("x"));
  EXPECT_EQ(w.edit->text(), QStringLiteral("10"));
  EXPECT_EQ(w.group->title(), QStringLiteral("Bildschirmbereich"));
  EXPECT_EQ(w.tabs->tabText(0), QStringLiteral("Einstellungen"));
  EXPECT_EQ(w.menu->title(), QStringLiteral("Sprache"));
  EXPECT_EQ(w.help->text(), QStringLiteral(" Hilfe "));
}

TEST_F(LanguageLoaderTest, AVanishedFileLeavesEveryTextAsItIs) {
  TSampleWindow w;
  w.label->setToolTip(QStringLiteral("Preset:"));
  ApplyLanguage(&w.window, dir_.path(), QStringLiteral("French"));
  EXPECT_EQ(w.label->text(), QStringLiteral("Preset:"));
  EXPECT_EQ(w.button->text(), QStringLiteral("&Start"));
  EXPECT_EQ(w.button->toolTip(), QStringLiteral("Hotkey"));
  EXPECT_EQ(w.group->title(), QStringLiteral("Screen Region"));
  EXPECT_EQ(w.tabs->tabText(0), QStringLiteral("Settings"));
  EXPECT_EQ(w.menu->title(), QStringLiteral("Language"));
}

TEST_F(LanguageLoaderTest, TheMenuOffersKnownLanguagesInFileOrderWithTheirOwnNames) {
  QMenu menu;
  QStringList chosen;
  FillLanguageMenu(&menu, {"Vietnamese", "Klingon", "German", "german", "English", "中文简体"},
                   [&](const QString& name) { chosen << name; });
  QStringList captions;
  for (QAction* a : menu.actions()) captions << a->text();
  EXPECT_EQ(captions, (QStringList{"tiếng Việt", "deutsch", "english"}));
  menu.actions().first()->trigger();
  menu.actions().at(1)->trigger();
  EXPECT_EQ(chosen, (QStringList{"Vietnamese", "German"}));

  QMenu empty;
  FillLanguageMenu(&empty, ListLanguageFiles(dir_.filePath("missing")), [](const QString&) {});
  EXPECT_TRUE(empty.actions().isEmpty());
  FillLanguageMenu(&empty, ListLanguageFiles(dir_.path()), [](const QString&) {});
  EXPECT_TRUE(empty.actions().isEmpty());
}

TEST_F(LanguageLoaderTest, AFileWithTheBareCaptionKeyRenamesEveryLanguageItem) {
  WriteLanguage("German", "[Translations]\n.Caption=Sprache wählen\n");
  WriteLanguage("English", "[Translations]\nLanguage.Caption=Language\n");
  QWidget window;
  auto* menu = new QMenu(QStringLiteral("Language"), &window);
  menu->setObjectName(QStringLiteral("Language"));
  QStringList chosen;
  FillLanguageMenu(menu, ListLanguageFiles(dir_.path()), [&](const QString& name) {
    chosen << name;
    ApplyLanguage(&window, dir_.path(), name);
  });
  ASSERT_EQ(menu->actions().size(), 2);
  for (QAction* a : menu->actions())
    if (a->text() == QStringLiteral("deutsch")) a->trigger();
  EXPECT_EQ(chosen, QStringList{"German"});
  for (QAction* a : menu->actions()) EXPECT_EQ(a->text(), QStringLiteral("Sprache wählen"));
  EXPECT_EQ(menu->title(), QStringLiteral("Language"));
  // A caption that is no language's own name chooses nothing.
  menu->actions().first()->trigger();
  EXPECT_EQ(chosen, QStringList{"German"});
}

}  // namespace
}  // namespace vexa
