#include "core/Settings.h"

#include <array>

namespace vexa {

QString ReadSetting(const TIniFile& AIni, const TSettingKey& AKey) {
  return AIni.ReadString(QLatin1String(AKey.Section), QLatin1String(AKey.Name), QString::fromUtf8(AKey.Default));
}

int ReadIntSetting(const TIniFile& AIni, const TSettingKey& AKey) {
  int fallback = 0;
  TIniFile::ParseInteger(QLatin1String(AKey.Default), fallback);
  return AIni.ReadInteger(QLatin1String(AKey.Section), QLatin1String(AKey.Name), fallback);
}

bool ReadBoolSetting(const TIniFile& AIni, const TSettingKey& AKey) { return ReadIntSetting(AIni, AKey) != 0; }

bool WriteSetting(TIniFile& AIni, const TSettingKey& AKey, const QString& AValue) {
  return AIni.WriteString(QLatin1String(AKey.Section), QLatin1String(AKey.Name), AValue);
}

bool WriteIntSetting(TIniFile& AIni, const TSettingKey& AKey, int AValue) {
  return AIni.WriteInteger(QLatin1String(AKey.Section), QLatin1String(AKey.Name), AValue);
}

bool WriteBoolSetting(TIniFile& AIni, const TSettingKey& AKey, bool AValue) {
  return AIni.WriteBool(QLatin1String(AKey.Section), QLatin1String(AKey.Name), AValue);
}

namespace keys {

namespace {
constexpr const char* S = "settings";
}

const TSettingKey OutPutDir{S, "OutPutDir", ""};
const TSettingKey FirstRun{S, "firstrun", "1"};
const TSettingKey Preset{S, "preset", "0"};
const TSettingKey FullScreen{S, "fullscreen", "0"};
const TSettingKey Format{S, "format", "0"};
const TSettingKey SampleRate{S, "samplerate", ""};
const TSettingKey FrameRate{S, "framerate", "15"};
const TSettingKey FrameRateIndex{S, "framerateindex", "0"};
const TSettingKey Quality{S, "quality", ""};
const TSettingKey QualityIndex{S, "qualityindex", "0"};
const TSettingKey BitRate{S, "bitrate", "768"};
const TSettingKey Left{S, "left", "10"};
const TSettingKey Top{S, "top", "10"};
const TSettingKey Width{S, "width", "800"};
const TSettingKey Height{S, "height", "600"};
const TSettingKey RecordWithAudio{S, "recordwithaudio", "1"};
const TSettingKey Stereo{S, "stereo", "1"};
const TSettingKey Mono{S, "mono", "0"};
const TSettingKey NoMouse{S, "chkMouse", "0"};
const TSettingKey Hide{S, "chkHide", "0"};
const TSettingKey DelayOn{S, "chkDelay", "0"};
const TSettingKey Delay{S, "delay", "0"};
const TSettingKey LengthOn{S, "chkLength", "0"};
const TSettingKey RecLength{S, "RecLength", "0"};
const TSettingKey AddTextOn{S, "chkAddText", "0"};
const TSettingKey AddText{S, "edtAddText", ""};
const TSettingKey AddTimestampOn{S, "chkAddTimestamp", "0"};
const TSettingKey AddTimestamp{S, "edtAddTimestamp", ""};
const TSettingKey AddWatermarkOn{S, "chkAddWatermark", "0"};

const TSettingKey ImagePath{"imageoptions", "path", ""};
const TSettingKey ImagePosition{"imageoptions", "position", "1"};

namespace format {
const char* const SampleRateIndex = "samplerateindex";
const char* const SampleRate = "samplerate";
const char* const FrameRateIndex = "framerateindex";
const char* const FrameRate = "framerate";
const char* const QualityIndex = "qualityindex";
const char* const Quality = "quality";
const char* const BitRateIndex = "bitrateindex";
const char* const BitRate = "bitrate";
}  // namespace format

namespace overlay {
const char* const TextSection = "fontoptions";
const char* const TimestampSection = "timestampoptions";
const char* const Position = "position";
const char* const TextBackgroundOn = "baddtextbkcolor";
const char* const TimestampBackgroundOn = "baddtimestampbkcolor";
const char* const BackgroundColor = "backgroundcolor";
const char* const TextColor = "textcolor";
const char* const FontSize = "font-size";
const char* const FontName = "font-name";
const char* const FontBold = "font-fsBold";
const char* const FontItalic = "font-fsItalic";
const char* const FontUnderline = "font-fsUnderline";
const char* const FontStrikeOut = "font-fsStrikeOut";
const char* const ColorDefault = "ClBlack";
const char* const FontNameDefault = "Default";
}  // namespace overlay

std::vector<TSettingKey> AllSettingKeys() {
  std::vector<TSettingKey> all = {OutPutDir,   FirstRun,       Preset,          FullScreen, Format,
                                  SampleRate,  FrameRate,      FrameRateIndex,  Quality,    QualityIndex,
                                  BitRate,     Left,           Top,             Width,      Height,
                                  RecordWithAudio, Stereo,     Mono,            NoMouse,    Hide,
                                  DelayOn,     Delay,          LengthOn,        RecLength,  AddTextOn,
                                  AddText,     AddTimestampOn, AddTimestamp,    AddWatermarkOn};
  for (const TOutputFormat& f : OutputFormats()) {
    all.push_back({f.Section, format::SampleRateIndex, "0"});
    all.push_back({f.Section, format::SampleRate, "44100"});
    all.push_back({f.Section, format::FrameRateIndex, "0"});
    all.push_back({f.Section, format::FrameRate, ""});
    all.push_back({f.Section, format::QualityIndex, "0"});
    all.push_back({f.Section, format::Quality, ""});
    all.push_back({f.Section, format::BitRateIndex, "0"});
    all.push_back({f.Section, format::BitRate, ""});
  }
  all.push_back(ImagePath);
  all.push_back(ImagePosition);
  for (const char* section : {overlay::TextSection, overlay::TimestampSection}) {
    const bool text = section == overlay::TextSection;
    all.push_back({section, overlay::Position, "1"});
    all.push_back({section, text ? overlay::TextBackgroundOn : overlay::TimestampBackgroundOn, "0"});
    all.push_back({section, overlay::BackgroundColor, overlay::ColorDefault});
    all.push_back({section, overlay::TextColor, overlay::ColorDefault});
    all.push_back({section, overlay::FontSize, "0"});
    all.push_back({section, overlay::FontName, overlay::FontNameDefault});
    all.push_back({section, overlay::FontBold, "fsBold"});
    all.push_back({section, overlay::FontItalic, "fsItalic"});
    all.push_back({section, overlay::FontUnderline, "fsUnderline"});
    all.push_back({section, overlay::FontStrikeOut, "fsStrikeOut"});
  }
  return all;
}

}  // namespace keys

const std::vector<TOutputFormat>& OutputFormats() {
  static const std::vector<TOutputFormat> formats = {
      {"mp4", ".mp4", "mp4settings", {"44100", "32000", "22050"}},
      {"swf", ".swf", "swfsettings", {"44100", "22050", "11025"}},
      {"flv", ".flv", "flvsettings", {"44100", "22050", "11025"}},
      {"wmv", ".wmv", "wmvsettings", {"44100"}},
      {"mkv", ".mkv", "mkvsettings", {"44100", "32000"}},
      {"avi", ".avi", "avisettings", {"44100", "32000", "22050", "11025", "8000"}},
      {"webm", ".webm", "webmsettings", {"44100", "32000"}},
  };
  return formats;
}

const TOutputFormat& OutputFormat(int AIndex) {
  const auto& formats = OutputFormats();
  return AIndex >= 0 && AIndex < static_cast<int>(formats.size()) ? formats[static_cast<size_t>(AIndex)]
                                                                  : formats.front();
}

const QStringList& FrameRates() {
  static const QStringList rates = {"8", "10", "12", "15", "16", "20", "23.97", "24", "25", "29.97", "30", "Auto"};
  return rates;
}

const QStringList& QualityLevels() {
  static const QStringList levels = {"0 (Highest Quality)", "1", "2", "3", "4", "5", "6 (Recommend)",
                                     "7", "8", "9", "10 (Lowest Quality)"};
  return levels;
}

const QStringList& VideoBitRates() {
  static const QStringList rates = {"192", "256", "384", "512", "640", "768", "900", "1200", "1500"};
  return rates;
}

const QStringList& RegionPresets() {
  static const QStringList presets = {"Customize", "Full Screen", "Center"};
  return presets;
}

namespace {

struct TNamedColor {
  const char* Name;
  uint32_t Value;  // 00BBGGRR
};

// The sixteen standard colours first (their names are written), then the
// four extra identifiers the file accepts.
constexpr std::array<TNamedColor, 20> NamedColors = {{
    {"clBlack", 0x000000},     {"clMaroon", 0x000080},  {"clGreen", 0x008000},  {"clOlive", 0x008080},
    {"clNavy", 0x800000},      {"clPurple", 0x800080},  {"clTeal", 0x808000},   {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},    {"clRed", 0x0000FF},     {"clLime", 0x00FF00},   {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},      {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},   {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6}, {"clCream", 0xF0FBFF}, {"clMedGray", 0xA4A0A0},
}};

QColor FromBgr(uint32_t value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

uint32_t ToBgr(const QColor& c) {
  return static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
         (static_cast<uint32_t>(c.blue()) << 16);
}

}  // namespace

bool ColorFromText(const QString& AText, QColor& AColor) {
  const QString text = AText.trimmed();
  for (const TNamedColor& named : NamedColors) {
    if (text.compare(QLatin1String(named.Name), Qt::CaseInsensitive) == 0) {
      AColor = FromBgr(named.Value);
      return true;
    }
  }
  int value = 0;
  if (!TIniFile::ParseInteger(text, value)) return false;
  // Only plain RGB values: the top byte selects system colours, which the
  // file never holds.
  if (static_cast<uint32_t>(value) > 0xFFFFFF) return false;
  AColor = FromBgr(static_cast<uint32_t>(value));
  return true;
}

QString ColorToText(const QColor& AColor) {
  const uint32_t value = ToBgr(AColor);
  for (const TNamedColor& named : NamedColors) {
    if (named.Value == value) return QLatin1String(named.Name);
  }
  return QStringLiteral("$%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

QColor ReadColorSetting(const TIniFile& AIni, const QString& ASection, const QString& AKey, const QString& ADefault) {
  QColor color;
  if (ColorFromText(AIni.ReadString(ASection, AKey, ADefault), color)) return color;
  if (ColorFromText(ADefault, color)) return color;
  return QColor(Qt::black);
}

TOverlayFontSpec ReadOverlayFont(const TIniFile& AIni, const QString& ASection) {
  using namespace keys::overlay;
  TOverlayFontSpec font;
  font.Color = ReadColorSetting(AIni, ASection, QLatin1String(TextColor), QLatin1String(ColorDefault));
  font.Size = AIni.ReadInteger(ASection, QLatin1String(FontSize), 0);
  font.Name = AIni.ReadString(ASection, QLatin1String(FontName), QLatin1String(FontNameDefault));
  auto style = [&](const char* key, const char* on) {
    return AIni.ReadString(ASection, QLatin1String(key), QLatin1String(on)) == QLatin1String(on);
  };
  font.Bold = style(FontBold, "fsBold");
  font.Italic = style(FontItalic, "fsItalic");
  font.Underline = style(FontUnderline, "fsUnderline");
  font.StrikeOut = style(FontStrikeOut, "fsStrikeOut");
  return font;
}

bool WriteOverlayFont(TIniFile& AIni, const QString& ASection, const TOverlayFontSpec& AFont) {
  using namespace keys::overlay;
  auto style = [&](const char* key, bool on, const char* name) {
    return AIni.WriteString(ASection, QLatin1String(key), on ? QLatin1String(name) : QString());
  };
  return AIni.WriteString(ASection, QLatin1String(TextColor), ColorToText(AFont.Color)) &&
         AIni.WriteInteger(ASection, QLatin1String(FontSize), AFont.Size) &&
         AIni.WriteString(ASection, QLatin1String(FontName), AFont.Name) && style(FontBold, AFont.Bold, "fsBold") &&
         style(FontItalic, AFont.Italic, "fsItalic") && style(FontUnderline, AFont.Underline, "fsUnderline") &&
         style(FontStrikeOut, AFont.StrikeOut, "fsStrikeOut");
}

}  // namespace vexa
