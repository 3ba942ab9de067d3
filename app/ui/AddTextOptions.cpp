#include "ui/AddTextOptions.h"

#include "core/IniFile.h"
#include "core/Overlays.h"
#include "core/Settings.h"
#include "ui/PositionButtons.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdlib>
#include <limits>

namespace vexa {

namespace {

QPushButton* NamedButton(const char* name, const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QLatin1String(name));
  button->setAutoDefault(false);
  return button;
}

const char* const kFontStyles[4][2] = {
    {keys::overlay::FontBold, "fsBold"},
    {keys::overlay::FontItalic, "fsItalic"},
    {keys::overlay::FontUnderline, "fsUnderline"},
    {keys::overlay::FontStrikeOut, "fsStrikeOut"},
};

// The installed style of the family with this weight and slant: the font
// dialog selects styles by name, and the family's names ("Book", "Oblique")
// are not the generic ones. Equally close styles go to the shorter name, so
// "Bold" wins over "Condensed Bold".
QString MatchingStyle(const QString& family, bool bold, bool italic) {
  const int wanted = bold ? QFont::Bold : QFont::Normal;
  QString best;
  int bestScore = std::numeric_limits<int>::max();
  for (const QString& style : QFontDatabase::styles(family)) {
    const QFont probe = QFontDatabase::font(family, style, 12);
    if (probe.bold() != bold || probe.italic() != italic) continue;
    const int score = std::abs(probe.weight() - wanted) * 100 + static_cast<int>(style.size());
    if (score < bestScore) {
      bestScore = score;
      best = style;
    }
  }
  return best;
}

}  // namespace

QFont OverlayDialogFont(const TOverlayFontSpec& spec) {
  QFont font = MakeOverlayFont(spec);
  // An alias such as "Sans Serif" becomes the family it stands for.
  font.setFamily(QFontInfo(font).family());
  const QString style = MatchingStyle(font.family(), spec.Bold, spec.Italic);
  if (!style.isEmpty()) font.setStyleName(style);
  return font;
}

TOverlayTextOptions::TOverlayTextOptions(const TNames& names, TSettingsFileName iniFileName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      iniFileName_(std::move(iniFileName)),
      section_(QLatin1String(names.section)),
      backgroundKey_(QLatin1String(names.backgroundKey)) {
  setObjectName(QLatin1String(names.objectName));
  setWindowTitle(QLatin1String(names.caption));
  setModal(true);

  btnFontDialog = NamedButton("btnFontDialog", QStringLiteral("Font"), this);
  Positions = new TPositionButtons(QLatin1String(names.positionGroup), this);
  btnTextColor = NamedButton("btnTextColor", QStringLiteral("Text Color"), this);
  chkBkColor = new QCheckBox(this);
  chkBkColor->setObjectName(QStringLiteral("chkBkColor"));
  btnBackgroundColor = NamedButton("btnBackgroundColor", QStringLiteral("Background Color"), this);
  btnCloseOptions = NamedButton("btnCloseOptions", QStringLiteral("Close"), this);

  FontDialog1 = new QFontDialog(this);
  FontDialog1->setObjectName(QStringLiteral("FontDialog1"));
  FontDialog1->setOption(QFontDialog::DontUseNativeDialog);
  ColorDialog1 = new QColorDialog(this);
  ColorDialog2 = new QColorDialog(this);
  ColorDialog1->setObjectName(QStringLiteral("ColorDialog1"));
  ColorDialog2->setObjectName(QStringLiteral("ColorDialog2"));
  for (QColorDialog* dialog : {ColorDialog1, ColorDialog2}) dialog->setOption(QColorDialog::DontUseNativeDialog);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  auto* top = new QHBoxLayout;
  top->addWidget(Positions);
  auto* side = new QVBoxLayout;
  side->addWidget(btnFontDialog);
  side->addWidget(btnTextColor);
  auto* background = new QHBoxLayout;
  background->addWidget(chkBkColor);
  background->addWidget(btnBackgroundColor, 1);
  side->addLayout(background);
  side->addStretch(1);
  top->addLayout(side);
  layout->addLayout(top);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(btnCloseOptions);
  layout->addLayout(bottom);

  connect(btnFontDialog, &QPushButton::clicked, this, &TOverlayTextOptions::FontClicked);
  connect(btnTextColor, &QPushButton::clicked, this, &TOverlayTextOptions::TextColorClicked);
  connect(chkBkColor, &QCheckBox::clicked, this, &TOverlayTextOptions::BackgroundBoxClicked);
  connect(btnBackgroundColor, &QPushButton::clicked, this, &TOverlayTextOptions::BackgroundColorClicked);
  connect(btnCloseOptions, &QPushButton::clicked, this, &QDialog::accept);
  connect(Positions, &TPositionButtons::positionClicked, this, &TOverlayTextOptions::PositionClicked);
}

TIniFile TOverlayTextOptions::Ini() const { return TIniFile(iniFileName_()); }

void TOverlayTextOptions::showEvent(QShowEvent* event) {
  LoadFromSettings();
  QDialog::showEvent(event);
}

void TOverlayTextOptions::LoadFromSettings() {
  const TIniFile ini = Ini();
  Positions->SetPosition(ini.ReadInteger(section_, QLatin1String(keys::overlay::Position), 1));
  const bool background = ini.ReadBool(section_, backgroundKey_, false);
  chkBkColor->setChecked(background);
  btnBackgroundColor->setEnabled(background);
}

void TOverlayTextOptions::LoadFontDialogFont() {
  FontDialog1->setCurrentFont(OverlayDialogFont(ReadOverlayFont(Ini(), section_)));
}

void TOverlayTextOptions::FontClicked() {
  LoadFontDialogFont();
  if (FontDialog1->exec() != QDialog::Accepted) return;
  const QFont font = FontDialog1->selectedFont();
  const bool styles[4] = {font.bold(), font.italic(), font.underline(), font.strikeOut()};
  TIniFile ini = Ini();
  bool written = ini.WriteString(section_, QLatin1String(keys::overlay::FontSize), QString::number(font.pointSize()));
  for (int i = 0; written && i < 4; ++i)
    written = ini.WriteString(section_, QLatin1String(kFontStyles[i][0]),
                              styles[i] ? QLatin1String(kFontStyles[i][1]) : QString());
  if (written) written = ini.WriteString(section_, QLatin1String(keys::overlay::FontName), font.family());
  CheckWrite(written, ini);
}

void TOverlayTextOptions::ChooseColor(QColorDialog* dialog, const char* key) {
  dialog->setCurrentColor(ReadColorSetting(Ini(), section_, QLatin1String(key),
                                           QLatin1String(keys::overlay::ColorDefault)));
  if (dialog->exec() != QDialog::Accepted) return;
  TIniFile ini = Ini();
  CheckWrite(ini.WriteString(section_, QLatin1String(key), ColorToText(dialog->selectedColor())), ini);
}

void TOverlayTextOptions::TextColorClicked() { ChooseColor(ColorDialog1, keys::overlay::TextColor); }

void TOverlayTextOptions::BackgroundColorClicked() { ChooseColor(ColorDialog2, keys::overlay::BackgroundColor); }

void TOverlayTextOptions::BackgroundBoxClicked(bool checked) {
  TIniFile ini = Ini();
  CheckWrite(ini.WriteBool(section_, backgroundKey_, checked), ini);
  btnBackgroundColor->setEnabled(checked);
}

void TOverlayTextOptions::PositionClicked(int tag) {
  TIniFile ini = Ini();
  CheckWrite(ini.WriteInteger(section_, QLatin1String(keys::overlay::Position), tag), ini);
}

void TOverlayTextOptions::CheckWrite(bool written, const TIniFile& ini) {
  if (!written) QMessageBox::warning(this, QStringLiteral("Warning"), ini.LastError());
}

TfrmAddTextOptions::TfrmAddTextOptions(TSettingsFileName iniFileName, QWidget* parent)
    : TOverlayTextOptions({"frmAddTextOptions", "Add Text Options", "grpTextPosition", keys::overlay::TextSection,
                           keys::overlay::TextBackgroundOn},
                          std::move(iniFileName), parent) {}

}  // namespace vexa
