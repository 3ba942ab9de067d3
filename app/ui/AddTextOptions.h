#pragma once
// The text overlay's option dialog, and the base it shares with the timestamp
// overlay's dialog: font, position, text colour and background. Every choice
// goes to the settings file at once; the dialog reloads from the file each
// time it is shown.

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QColorDialog;
class QFont;
class QFontDialog;
class QPushButton;

namespace vexa {

class TIniFile;
struct TOverlayFontSpec;
class TPositionButtons;

// Names the settings file at the moment it is read or written.
using TSettingsFileName = std::function<QString()>;

class TOverlayTextOptions : public QDialog {
  Q_OBJECT

 public:
  // Component names, captions and settings keys of one of the two dialogs.
  struct TNames {
    const char* objectName;
    const char* caption;
    const char* positionGroup;
    const char* section;
    const char* backgroundKey;
  };

  QPushButton* btnFontDialog = nullptr;
  TPositionButtons* Positions = nullptr;
  QPushButton* btnTextColor = nullptr;
  QCheckBox* chkBkColor = nullptr;
  QPushButton* btnBackgroundColor = nullptr;
  QPushButton* btnCloseOptions = nullptr;
  QFontDialog* FontDialog1 = nullptr;
  QColorDialog* ColorDialog1 = nullptr;
  QColorDialog* ColorDialog2 = nullptr;

  const QString& Section() const { return section_; }

 protected:
  TOverlayTextOptions(const TNames& names, TSettingsFileName iniFileName, QWidget* parent);

  void showEvent(QShowEvent* event) override;
  // Position and background box from the file.
  virtual void LoadFromSettings();
  // The font dialog's font from the file (size, typeface, the four styles).
  void LoadFontDialogFont();

 private:
  void FontClicked();
  void TextColorClicked();
  void BackgroundBoxClicked(bool checked);
  void BackgroundColorClicked();
  void PositionClicked(int tag);
  // Runs a colour dialog preset from the key; stores the colour on confirm.
  void ChooseColor(QColorDialog* dialog, const char* key);
  // Tells the user when the settings file could not be written.
  void CheckWrite(bool written, const TIniFile& ini);

  TIniFile Ini() const;

  TSettingsFileName iniFileName_;
  QString section_;
  QString backgroundKey_;
};

class TfrmAddTextOptions : public TOverlayTextOptions {
  Q_OBJECT

 public:
  explicit TfrmAddTextOptions(TSettingsFileName iniFileName, QWidget* parent = nullptr);
};

// The overlay's font as the font dialog can select it: the installed family
// and style names instead of aliases and generic styles.
QFont OverlayDialogFont(const TOverlayFontSpec& spec);

}  // namespace vexa
