#include "ui/AddImageOptions.h"
#include "ui/AddTextOptions.h"
#include "ui/AddTimestampOptions.h"
#include "ui/LanguageLoader.h"
#include "ui/PositionButtons.h"

#include "AppUi/UiTestSupport.h"
#include "core/IniFile.h"
#include "core/Overlays.h"
#include "core/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>
#include <functional>

#include <gtest/gtest.h>

namespace vexa {
namespace {

using testing_ui::SaveScreenshot;

// Answers the next modal dialog once it runs: inspect, then accept or reject.
void WhenModal(QDialog* dialog, std::function<void(QDialog*)> answer) {
  QTimer::singleShot(0, dialog, [dialog, answer] {
    if (dialog->isVisible()) answer(dialog);
    else dialog->reject();
  });
}

class OverlayOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString IniPath() const { return dir_.filePath("vexascreenrecorder.ini"); }
  TIniFile Ini() const { return TIniFile(IniPath()); }
  std::function<QString()> Settings() const {
    return [this] { return IniPath(); };
  }
  QString Read(const char* section, const char* key) const {
    return Ini().ReadString(QLatin1String(section), QLatin1String(key), QStringLiteral("<absent>"));
  }

  // Shows the dialog (as the main window does, but without blocking).
  template <typename Dialog>
  void Show(Dialog& dialog) {
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }

  QTemporaryDir dir_;
};

TEST_F(OverlayOptionsTest, WithNothingSavedTheTopLeftIsDownAndTheFontHasAllFourStyles) {
  TfrmAddTextOptions dialog(Settings());
  Show(dialog);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add Text Options"));
  EXPECT_EQ(dialog.Positions->objectName(), QStringLiteral("grpTextPosition"));
  EXPECT_EQ(dialog.Positions->Position(), 1);
  EXPECT_TRUE(dialog.Positions->Button(1)->isChecked());
  EXPECT_FALSE(dialog.chkBkColor->isChecked());
  EXPECT_FALSE(dialog.btnBackgroundColor->isEnabled());
  SaveScreenshot(&dialog, QStringLiteral("dialog-add-text-options"));

  QFont preset;
  WhenModal(dialog.FontDialog1, [&](QDialog* d) {
    preset = dialog.FontDialog1->currentFont();
    d->reject();
  });
  QTest::mouseClick(dialog.btnFontDialog, Qt::LeftButton);
  EXPECT_TRUE(preset.bold());
  EXPECT_TRUE(preset.italic());
  EXPECT_TRUE(preset.underline());
  EXPECT_TRUE(preset.strikeOut());
  EXPECT_EQ(preset.family(), QFontInfo(QApplication::font()).family());
  // Cancelled: the style keys stay absent, so the overlay keeps all four.
  for (const char* key : {"font-fsBold", "font-fsItalic", "font-fsUnderline", "font-fsStrikeOut", "font-name"})
    EXPECT_FALSE(Ini().ValueExists(QStringLiteral("fontoptions"), QLatin1String(key))) << key;
}

TEST_F(OverlayOptionsTest, APlainFontWritesTheFourStyleKeysEmpty) {
  TfrmAddTextOptions dialog(Settings());
  Show(dialog);
  QFont plain = QApplication::font();
  plain.setPointSize(17);
  WhenModal(dialog.FontDialog1, [&](QDialog* d) {
    dialog.FontDialog1->setCurrentFont(plain);
    SaveScreenshot(d, QStringLiteral("dialog-font"));
    d->accept();
  });
  QTest::mouseClick(dialog.btnFontDialog, Qt::LeftButton);
  for (const char* key : {"font-fsBold", "font-fsItalic", "font-fsUnderline", "font-fsStrikeOut"}) {
    EXPECT_TRUE(Ini().ValueExists(QStringLiteral("fontoptions"), QLatin1String(key))) << key;
    EXPECT_EQ(Read("fontoptions", key), QString()) << key;
  }
  EXPECT_EQ(Read("fontoptions", "font-size"), QStringLiteral("17"));
  EXPECT_EQ(Read("fontoptions", "font-name"), plain.family());
  EXPECT_EQ(Read("fontoptions", "textcolor"), QStringLiteral("<absent>"));

  // The next time the font dialog starts from what was stored.
  QFont preset;
  WhenModal(dialog.FontDialog1, [&](QDialog* d) {
    preset = dialog.FontDialog1->currentFont();
    TOverlayFontSpec spec;
    spec.Name = preset.family();
    spec.Size = 17;
    spec.Italic = spec.Underline = false;
    dialog.FontDialog1->setCurrentFont(OverlayDialogFont(spec));
    d->accept();
  });
  QTest::mouseClick(dialog.btnFontDialog, Qt::LeftButton);
  EXPECT_FALSE(preset.bold());
  EXPECT_FALSE(preset.strikeOut());
  EXPECT_EQ(preset.pointSize(), 17);
  EXPECT_EQ(Read("fontoptions", "font-fsBold"), QStringLiteral("fsBold"));
  EXPECT_EQ(Read("fontoptions", "font-fsStrikeOut"), QStringLiteral("fsStrikeOut"));
  EXPECT_EQ(Read("fontoptions", "font-fsItalic"), QString());
}

TEST_F(OverlayOptionsTest, AStoredPositionOutsideOneToNineShowsNoButtonDownUntilAClick) {
  for (const int stored : {0, 10}) {
    SCOPED_TRACE(stored);
    ASSERT_TRUE(Ini().WriteInteger(QStringLiteral("fontoptions"), QStringLiteral("position"), stored));
    TfrmAddTextOptions dialog(Settings());
    Show(dialog);
    EXPECT_EQ(dialog.Positions->Position(), 0);
    for (int tag = 1; tag <= 9; ++tag) EXPECT_FALSE(dialog.Positions->Button(tag)->isChecked()) << tag;
    QTest::mouseClick(dialog.Positions->Button(5), Qt::LeftButton);
    EXPECT_EQ(Read("fontoptions", "position"), QStringLiteral("5"));
    QTest::mouseClick(dialog.Positions->Button(9), Qt::LeftButton);
    EXPECT_EQ(dialog.Positions->Position(), 9);
    EXPECT_FALSE(dialog.Positions->Button(5)->isChecked());
    EXPECT_EQ(Read("fontoptions", "position"), QStringLiteral("9"));
  }
}

TEST_F(OverlayOptionsTest, TheBackgroundBoxEnablesItsButtonAndUntickingKeepsTheColour) {
  TfrmAddTextOptions dialog(Settings());
  Show(dialog);
  QTest::mouseClick(dialog.chkBkColor, Qt::LeftButton);
  EXPECT_EQ(Read("fontoptions", "baddtextbkcolor"), QStringLiteral("1"));
  EXPECT_TRUE(dialog.btnBackgroundColor->isEnabled());
  QColor preset;
  WhenModal(dialog.ColorDialog2, [&](QDialog* d) {
    preset = dialog.ColorDialog2->currentColor();
    dialog.ColorDialog2->setCurrentColor(QColor(255, 255, 0));
    SaveScreenshot(d, QStringLiteral("dialog-colour"));
    d->accept();
  });
  QTest::mouseClick(dialog.btnBackgroundColor, Qt::LeftButton);
  EXPECT_EQ(preset, QColor(Qt::black));
  EXPECT_EQ(Read("fontoptions", "backgroundcolor"), QStringLiteral("clYellow"));
  QTest::mouseClick(dialog.chkBkColor, Qt::LeftButton);
  EXPECT_EQ(Read("fontoptions", "baddtextbkcolor"), QStringLiteral("0"));
  EXPECT_FALSE(dialog.btnBackgroundColor->isEnabled());
  EXPECT_EQ(Read("fontoptions", "backgroundcolor"), QStringLiteral("clYellow"));
}

TEST_F(OverlayOptionsTest, TextColoursAreStoredAsIdentifiersOrBgrNumbersAndCancelKeepsThem) {
  TfrmAddTextOptions dialog(Settings());
  Show(dialog);
  const struct {
    QColor chosen;
    const char* stored;
  } cases[] = {{QColor(255, 0, 0), "clRed"}, {QColor(0x12, 0x34, 0x56), "$00563412"}};
  for (const auto& c : cases) {
    WhenModal(dialog.ColorDialog1, [&](QDialog* d) {
      dialog.ColorDialog1->setCurrentColor(c.chosen);
      d->accept();
    });
    QTest::mouseClick(dialog.btnTextColor, Qt::LeftButton);
    EXPECT_EQ(Read("fontoptions", "textcolor"), QLatin1String(c.stored));
  }
  QColor preset;
  WhenModal(dialog.ColorDialog1, [&](QDialog* d) {
    preset = dialog.ColorDialog1->currentColor();
    dialog.ColorDialog1->setCurrentColor(Qt::green);
    d->reject();
  });
  QTest::mouseClick(dialog.btnTextColor, Qt::LeftButton);
  EXPECT_EQ(preset, QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(Read("fontoptions", "textcolor"), QStringLiteral("$00563412"));
}

TEST_F(OverlayOptionsTest, EachShowingReloadsFromTheFile) {
  TfrmAddTimestampOptions dialog(Settings());
  Show(dialog);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add Time Stamp Options"));
  EXPECT_EQ(dialog.Positions->objectName(), QStringLiteral("grpTimestamptPosition"));
  SaveScreenshot(&dialog, QStringLiteral("dialog-add-timestamp-options"));
  QTest::mouseClick(dialog.Positions->Button(3), Qt::LeftButton);
  QTest::mouseClick(dialog.chkBkColor, Qt::LeftButton);
  EXPECT_EQ(Read("timestampoptions", "position"), QStringLiteral("3"));
  EXPECT_EQ(Read("timestampoptions", "baddtimestampbkcolor"), QStringLiteral("1"));
  EXPECT_EQ(Read("fontoptions", "position"), QStringLiteral("<absent>"));
  dialog.hide();

  TIniFile ini = Ini();
  ASSERT_TRUE(ini.WriteInteger(QStringLiteral("timestampoptions"), QStringLiteral("position"), 8));
  ASSERT_TRUE(ini.WriteBool(QStringLiteral("timestampoptions"), QStringLiteral("baddtimestampbkcolor"), false));
  ASSERT_TRUE(ini.WriteString(QStringLiteral("timestampoptions"), QStringLiteral("font-fsItalic"), QString()));
  Show(dialog);
  EXPECT_EQ(dialog.Positions->Position(), 8);
  EXPECT_FALSE(dialog.chkBkColor->isChecked());
  EXPECT_FALSE(dialog.btnBackgroundColor->isEnabled());
  // The timestamp dialog loads its font dialog when shown.
  EXPECT_FALSE(dialog.FontDialog1->currentFont().italic());
  EXPECT_TRUE(dialog.FontDialog1->currentFont().bold());
}

TEST_F(OverlayOptionsTest, TheImageDialogStoresItsPosition) {
  TfrmAddImageOptions dialog(Settings());
  Show(dialog);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add Watermark Options"));
  EXPECT_EQ(dialog.Positions->objectName(), QStringLiteral("grpImagePosition"));
  EXPECT_EQ(dialog.Positions->Position(), 1);
  SaveScreenshot(&dialog, QStringLiteral("dialog-add-watermark-options"));
  QTest::mouseClick(dialog.Positions->Button(6), Qt::LeftButton);
  EXPECT_EQ(Read("imageoptions", "position"), QStringLiteral("6"));
  QTest::mouseClick(dialog.btnCloseOptions, Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  ASSERT_TRUE(Ini().WriteInteger(QStringLiteral("imageoptions"), QStringLiteral("position"), 12));
  Show(dialog);
  EXPECT_EQ(dialog.Positions->Position(), 0);
}

TEST_F(OverlayOptionsTest, ChoicesMadeInTheDialogAreWhatTheOverlayDraws) {
  TfrmAddTextOptions dialog(Settings());
  Show(dialog);
  QTest::mouseClick(dialog.Positions->Button(5), Qt::LeftButton);
  QTest::mouseClick(dialog.chkBkColor, Qt::LeftButton);
  WhenModal(dialog.ColorDialog1, [&](QDialog* d) {
    dialog.ColorDialog1->setCurrentColor(Qt::red);
    d->accept();
  });
  QTest::mouseClick(dialog.btnTextColor, Qt::LeftButton);
  WhenModal(dialog.ColorDialog2, [&](QDialog* d) {
    dialog.ColorDialog2->setCurrentColor(Qt::yellow);
    d->accept();
  });
  QTest::mouseClick(dialog.btnBackgroundColor, Qt::LeftButton);
  TIniFile ini = Ini();
  ASSERT_TRUE(WriteBoolSetting(ini, keys::AddTextOn, true));
  ASSERT_TRUE(WriteSetting(ini, keys::AddText, QStringLiteral("MMMM")));

  // The frame hook of a recording draws with the parameters Start loads.
  TOverlayPainter painter;
  painter.SetParams(LoadOverlayParams(Ini()));
  QImage frame(320, 240, QImage::Format_RGB32);
  frame.fill(Qt::white);
  painter.PaintFrame(frame, 1);
  int red = 0, yellow = 0, elsewhere = 0;
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) {
      const QRgb c = frame.pixel(x, y) & 0xFFFFFF;
      const bool central = std::abs(x - 160) < 60 && std::abs(y - 120) < 30;
      if (c == 0xFF0000 && central) ++red;
      if (c == 0xFFFF00 && central) ++yellow;
      if (c != 0xFFFFFF && !central) ++elsewhere;
    }
  EXPECT_GT(red, 20);
  EXPECT_GT(yellow, 20);
  EXPECT_EQ(elsewhere, 0);
}

TEST_F(OverlayOptionsTest, TheShippedGermanFileTranslatesTheDialogs) {
  const QString folder = QStringLiteral(VEXA_SOURCE_LANGUAGE_DIR);
  TfrmAddTextOptions text(Settings());
  TfrmAddTimestampOptions timestamp(Settings());
  TfrmAddImageOptions image(Settings());
  for (QWidget* w : std::initializer_list<QWidget*>{&text, &timestamp, &image})
    ApplyLanguage(w, folder, QStringLiteral("German"));
  EXPECT_EQ(text.btnFontDialog->text(), QStringLiteral("Schrift"));
  EXPECT_EQ(text.btnTextColor->text(), QStringLiteral("Textfarbe"));
  EXPECT_EQ(timestamp.btnBackgroundColor->text(), QStringLiteral("Hintergrundfarbe"));
  EXPECT_EQ(timestamp.btnCloseOptions->text(), QStringLiteral("Schließen"));
  EXPECT_EQ(image.btnCloseOptions->text(), QStringLiteral("Schließen"));
  text.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&text));
  SaveScreenshot(&text, QStringLiteral("dialog-add-text-options-german"));
}

}  // namespace
}  // namespace vexa
