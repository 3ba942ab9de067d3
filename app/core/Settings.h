// The recorder's settings: every key of the settings file with its section
// and default (one table, below), the fixed lists of the recording profiles,
// and the file's value conventions for colours and font styles.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <vector>

#include "core/IniFile.h"

namespace vexa {

// A key of the settings file. Default is the text a reader uses when the key
// is absent or malformed (Booleans "1"/"0", integers in decimal).
struct TSettingKey {
  const char* Section;
  const char* Name;
  const char* Default;
};

// Typed access to one key through the facade, with the key's default.
QString ReadSetting(const TIniFile& AIni, const TSettingKey& AKey);
int ReadIntSetting(const TIniFile& AIni, const TSettingKey& AKey);
bool ReadBoolSetting(const TIniFile& AIni, const TSettingKey& AKey);
bool WriteSetting(TIniFile& AIni, const TSettingKey& AKey, const QString& AValue);
bool WriteIntSetting(TIniFile& AIni, const TSettingKey& AKey, int AValue);
bool WriteBoolSetting(TIniFile& AIni, const TSettingKey& AKey, bool AValue);

namespace keys {

// Section "settings".
extern const TSettingKey OutPutDir;        // default empty here; readers pass their own (see OutputFolder.h)
extern const TSettingKey FirstRun;         // "firstrun", true
extern const TSettingKey Preset;           // region preset index, 0
extern const TSettingKey FullScreen;       // the inset flag, false
extern const TSettingKey Format;           // format index, 0
extern const TSettingKey SampleRate;       // sample-rate text of the list (not read)
extern const TSettingKey FrameRate;        // frame-rate text, "15"
extern const TSettingKey FrameRateIndex;   // 0
extern const TSettingKey Quality;          // quality text (not read)
extern const TSettingKey QualityIndex;     // 0 (not read; the per-format key is)
extern const TSettingKey BitRate;          // kbit/s, 768
extern const TSettingKey Left;             // "10"
extern const TSettingKey Top;              // "10"
extern const TSettingKey Width;            // "800" at start-up
extern const TSettingKey Height;           // "600" at start-up
extern const TSettingKey RecordWithAudio;  // true
extern const TSettingKey Stereo;           // true
extern const TSettingKey Mono;             // false (not read)
extern const TSettingKey NoMouse;          // "chkMouse": true = no cursor, false
extern const TSettingKey Hide;             // "chkHide", false
extern const TSettingKey DelayOn;          // "chkDelay", false
extern const TSettingKey Delay;            // seconds, 0
extern const TSettingKey LengthOn;         // "chkLength", false
extern const TSettingKey RecLength;        // seconds, 0
extern const TSettingKey AddTextOn;        // "chkAddText", false
extern const TSettingKey AddText;          // "edtAddText", empty
extern const TSettingKey AddTimestampOn;   // "chkAddTimestamp", false
extern const TSettingKey AddTimestamp;     // "edtAddTimestamp", empty
extern const TSettingKey AddWatermarkOn;   // "chkAddWatermark", false

// Start reads the output frame size with smaller defaults than start-up.
constexpr int StartWidthDefault = 320;
constexpr int StartHeightDefault = 240;

// Section "imageoptions".
extern const TSettingKey ImagePath;      // empty
extern const TSettingKey ImagePosition;  // 1

// Keys of each per-format section (the section is the format's).
namespace format {
extern const char* const SampleRateIndex;  // 0
extern const char* const SampleRate;       // 44100 when read by Start
extern const char* const FrameRateIndex;   // 0
extern const char* const FrameRate;
extern const char* const QualityIndex;  // 0
extern const char* const Quality;
extern const char* const BitRateIndex;  // 0
extern const char* const BitRate;
constexpr int SampleRateDefault = 44100;
}  // namespace format

// Keys of the two overlay sections ("fontoptions", "timestampoptions").
namespace overlay {
extern const char* const TextSection;
extern const char* const TimestampSection;
extern const char* const Position;               // 1
extern const char* const TextBackgroundOn;       // "baddtextbkcolor" in fontoptions, false
extern const char* const TimestampBackgroundOn;  // "baddtimestampbkcolor" in timestampoptions, false
extern const char* const BackgroundColor;        // "ClBlack"
extern const char* const TextColor;              // "ClBlack"
extern const char* const FontSize;               // 0 = the default height
extern const char* const FontName;               // "Default" = the default typeface
extern const char* const FontBold;               // "font-fsBold", default "fsBold"
extern const char* const FontItalic;             // "font-fsItalic", default "fsItalic"
extern const char* const FontUnderline;          // "font-fsUnderline", default "fsUnderline"
extern const char* const FontStrikeOut;          // "font-fsStrikeOut", default "fsStrikeOut"
extern const char* const ColorDefault;           // "ClBlack"
extern const char* const FontNameDefault;        // "Default"
}  // namespace overlay

// Every key of the file with its default, per-format and overlay sections
// included, in file order.
std::vector<TSettingKey> AllSettingKeys();

}  // namespace keys

// --- recording profiles (list order is the index stored in the file)

struct TOutputFormat {
  const char* Name;       // list text, "mp4"
  const char* Extension;  // ".mp4"
  const char* Section;    // "mp4settings"
  QStringList SampleRates;
};
const std::vector<TOutputFormat>& OutputFormats();
// The format of an index; indexes outside the list give the first format.
const TOutputFormat& OutputFormat(int AIndex);
const QStringList& FrameRates();    // "8" ... "30", "Auto"
const QStringList& QualityLevels();  // "0 (Highest Quality)" ... "10 (Lowest Quality)"
const QStringList& VideoBitRates();  // kbit/s
const QStringList& RegionPresets();  // "Customize", "Full Screen", "Center"

// --- colours: an identifier ("clRed"; case does not matter) or "$00BBGGRR"

// False for text that is neither.
bool ColorFromText(const QString& AText, QColor& AColor);
// The identifier when the colour has one, else "$" and eight hex digits.
QString ColorToText(const QColor& AColor);
QColor ReadColorSetting(const TIniFile& AIni, const QString& ASection, const QString& AKey, const QString& ADefault);

// --- fonts of the overlays: colour, size, typeface and the four style keys

struct TOverlayFontSpec {
  QString Name = QStringLiteral("Default");  // "Default": the application's typeface
  int Size = 0;                              // points; 0: the application's size
  QColor Color = Qt::black;
  bool Bold = true;
  bool Italic = true;
  bool Underline = true;
  bool StrikeOut = true;
};
TOverlayFontSpec ReadOverlayFont(const TIniFile& AIni, const QString& ASection);
bool WriteOverlayFont(TIniFile& AIni, const QString& ASection, const TOverlayFontSpec& AFont);

}  // namespace vexa
