#include "core/RecordingLines.h"

#include <QFileInfo>

#include "core/Settings.h"

namespace vexa {

namespace {

// A decimal integer as a field holds it: optional blanks and sign, digits.
bool FieldToInt(const QString& AText, int& AValue) {
  const QString text = AText.trimmed();
  if (text.isEmpty()) return false;
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (!(c.isDigit() && c.unicode() < 128) && !(i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+'))))
      return false;
  }
  bool ok = false;
  AValue = text.toInt(&ok, 10);
  return ok;
}

// The largest even number not above AValue, truncating toward zero.
int Even(int AValue) { return (AValue / 2) * 2; }

QString Num(int AValue) { return QString::number(AValue); }  // always the C locale

// The overlay clause of a watermark position.
const char* WatermarkClause(int APosition) {
  static const char* const clauses[] = {
      "[watermark] overlay=x=5:y=5",
      "[watermark] overlay=x=main_w/2-overlay_w/2:y=5",
      "[watermark] overlay=main_w-overlay_w-5:5",
      "[watermark] overlay=5:main_h/2-overlay_h/2",
      "[watermark] overlay=main_w/2-overlay_w/2:main_h/2-overlay_h/2",
      "[watermark] overlay=main_w-overlay_w-5:main_h/2-overlay_h/2",
      "[watermark] overlay=5:main_h-overlay_h-5",
      "[watermark] overlay=main_w/2-overlay_w/2:main_h-overlay_h-5",
      "[watermark] overlay=main_w-overlay_w-5:main_h-overlay_h-5",
  };
  return clauses[APosition >= 1 && APosition <= 9 ? APosition - 1 : 0];
}

// Backslash before every character of ASpecial (and every control character).
QString BackslashEscape(const QString& AText, const QString& ASpecial) {
  QString out;
  out.reserve(AText.size() * 2);
  for (const QChar c : AText) {
    if (ASpecial.contains(c) || c.unicode() < 0x20) out += QLatin1Char('\\');
    out += c;
  }
  return out;
}

}  // namespace

bool ParseRegion(const TRecordControls& AControls, TRegion& ARegion, QString& AError) {
  const QString* texts[] = {&AControls.Left, &AControls.Top, &AControls.Width, &AControls.Height};
  int* values[] = {&ARegion.Left, &ARegion.Top, &ARegion.Width, &ARegion.Height};
  for (int i = 0; i < 4; ++i) {
    if (!FieldToInt(*texts[i], *values[i])) {
      AError = QStringLiteral("'%1' is not a valid integer value").arg(*texts[i]);
      return false;
    }
  }
  return true;
}

TRecordControls ControlsFromSettings(const TIniFile& AIni) {
  TRecordControls c;
  c.Left = ReadSetting(AIni, keys::Left);
  c.Top = ReadSetting(AIni, keys::Top);
  c.Width = ReadSetting(AIni, keys::Width);
  c.Height = ReadSetting(AIni, keys::Height);
  c.FormatIndex = ReadIntSetting(AIni, keys::Format);
  if (c.FormatIndex < 0 || c.FormatIndex >= static_cast<int>(OutputFormats().size())) c.FormatIndex = 0;
  const TOutputFormat& format = OutputFormat(c.FormatIndex);
  const QString section = QLatin1String(format.Section);
  c.RecordWithAudio = ReadBoolSetting(AIni, keys::RecordWithAudio);
  const int rateIndex = AIni.ReadInteger(section, QLatin1String(keys::format::SampleRateIndex), 0);
  c.SampleRateText = rateIndex >= 0 && rateIndex < format.SampleRates.size() ? format.SampleRates[rateIndex] : QString();
  c.Stereo = ReadBoolSetting(AIni, keys::Stereo);
  const int quality = AIni.ReadInteger(section, QLatin1String(keys::format::QualityIndex), 0);
  c.QualityIndex = quality >= 0 && quality < QualityLevels().size() ? quality : 0;
  return c;
}

QString RealTimeEncoderOptions(int AFormatIndex) {
  switch (AFormatIndex) {
    case 4:
      // x264 at its default preset falls behind a live 1080p screen on two
      // cores and buffers 40 frames ahead; superfast keeps up, has no
      // look-ahead (memory stays flat) and at the recorder's bit rates looks
      // like the other profiles.
      return QStringLiteral(" -preset superfast ");
    case 6:
      // libvpx's default "good" deadline is an offline setting; realtime with
      // a high cpu-used is its live-encoding mode.
      return QStringLiteral(" -deadline realtime -cpu-used 8 ");
    default:
      return QString();
  }
}

TRecordingLines BuildRecordingLines(const TRecordControls& AControls, const TRegion& ARegion, bool AInset,
                                    const TIniFile& AIni, int AProcessorCount) {
  TRecordingLines lines;
  const TOutputFormat& format = OutputFormat(AControls.FormatIndex);
  const int formatIndex = static_cast<int>(&format - OutputFormats().data());

  // Input.
  const QString frameRate = ReadSetting(AIni, keys::FrameRate);
  const QString flags = ReadBoolSetting(AIni, keys::NoMouse) ? QStringLiteral(" -capture_flags +showframe+client-cursor ")
                                                              : QStringLiteral(" -capture_flags +showframe+client+cursor ");
  const int w2 = Even(ARegion.Width), h2 = Even(ARegion.Height);
  QString in = QStringLiteral(" -f gdicapture  -capture_offset ");
  if (AInset)
    in += Num(ARegion.Left + 2) + ',' + Num(ARegion.Top + 2) + flags + " -s " + Num(w2 - 4) + 'x' + Num(h2 - 4);
  else
    in += Num(ARegion.Left) + ',' + Num(ARegion.Top) + flags + " -s " + Num(w2) + 'x' + Num(h2);
  if (frameRate == QLatin1String("Auto"))
    in += QStringLiteral(" -re ");
  else
    in += QStringLiteral(" -r ") + frameRate;
  if (AControls.RecordWithAudio) {
    in += QStringLiteral(" -ar ") + AControls.SampleRateText + QStringLiteral(" -ac ") +
          (AControls.Stereo ? QStringLiteral("2") : QStringLiteral("1")) + QStringLiteral(" -sample_fmt s16 ");
    lines.DeviceName = QStringLiteral("video=0:audio=-1");
  } else {
    lines.DeviceName = QStringLiteral("video=0");
  }
  lines.InputLine = in;

  // Output.
  static const char* const codecs[] = {
      "",
      " -c:a libmp3lame",
      " -c:a libmp3lame",
      " -c:v wmv2 -c:a wmav2",
      " -pix_fmt yuv420p  -c:v libx264 ",
      " -c:v rawvideo",
      " -f webm  -c:v libvpx -c:a libvorbis",
  };
  QString out;
  if (formatIndex == 0) out += QStringLiteral(" -c:v mpeg4 -c:a aac");
  const int ws = Even(AIni.ReadInteger(QLatin1String(keys::Width.Section), QLatin1String(keys::Width.Name),
                                       keys::StartWidthDefault));
  const int hs = Even(AIni.ReadInteger(QLatin1String(keys::Height.Section), QLatin1String(keys::Height.Name),
                                       keys::StartHeightDefault));
  out += QStringLiteral(" -s ") + Num(ws) + 'x' + Num(hs);
  out += QLatin1String(codecs[formatIndex]);
  out += RealTimeEncoderOptions(formatIndex);
  out += ReadBoolSetting(AIni, keys::Stereo) ? QStringLiteral(" -ac 2 ") : QStringLiteral(" -ac 1 ");
  if (AControls.RecordWithAudio) {
    const int rate = AIni.ReadInteger(QLatin1String(format.Section), QLatin1String(keys::format::SampleRate),
                                      keys::format::SampleRateDefault);
    out += QStringLiteral(" -b:a 128k -ar ") + Num(rate);
  }
  if (ReadBoolSetting(AIni, keys::AddWatermarkOn)) {
    const QString filter = BuildWatermarkFilter(AIni, ReadIntSetting(AIni, keys::ImagePosition));
    if (!filter.isEmpty()) {
      out += QStringLiteral(" -vf ") + QuoteForOptionLine(filter);
      // The blend yields a picture with transparency, which raw video in
      // AVI cannot hold (the file would be unreadable): store plain BGR.
      if (formatIndex == 5) out += QStringLiteral(" -pix_fmt bgr24");
    }
  }
  out += QStringLiteral(" -sn -b:v ") + Num(ReadIntSetting(AIni, keys::BitRate)) + QStringLiteral("k -qscale ") +
         Num(AControls.QualityIndex);
  if (AProcessorCount > 1) out += QStringLiteral("  -threads ") + Num(AProcessorCount);
  out += QStringLiteral("   -async 1 -vsync 1 ");
  lines.OutputLine = out;
  return lines;
}

QString OutputBaseName(const TRecordControls& AControls) {
  return QStringLiteral("VexaScreenRecorder-") + AControls.Width + QLatin1Char('-') + AControls.Height;
}

QString UniqueOutputFileName(const QString& AFolder, const QString& ABaseName, const QString& AExtension) {
  QString folder = AFolder;
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  QString candidate = folder + ABaseName + QStringLiteral("_(new)") + AExtension;
  for (int n = 1; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
    candidate = folder + ABaseName + QStringLiteral("_(new_%1)").arg(n) + AExtension;
  return candidate;
}

QString EscapeFilterGraphPath(const QString& APath) {
  // Level 1, the filter's key=value options: every ASCII character other than
  // letters, digits and "/._-" is escaped, so nothing in the name reads as a
  // separator, a key, a quote or an escape.
  QString option;
  for (const QChar c : APath) {
    const ushort u = c.unicode();
    const bool plain = u >= 0x80 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                       u == '/' || u == '.' || u == '_' || u == '-';
    if (!plain) option += QLatin1Char('\\');
    option += c;
  }
  // Level 2, the graph description: its separators, quotes, escapes and blanks.
  return BackslashEscape(option, QStringLiteral("\\'[],;= \t"));
}

QString BuildWatermarkFilter(const TIniFile& AIni, int APosition) {
  const QString path = ReadSetting(AIni, keys::ImagePath);
  if (path.isEmpty()) return QString();
  const QFileInfo info(path);
  if (!info.isFile()) return QString();
  return QStringLiteral("movie=") + EscapeFilterGraphPath(info.absoluteFilePath()) +
         QStringLiteral(" [watermark]; [in] ") + QLatin1String(WatermarkClause(APosition)) + QStringLiteral(" [out]");
}

QString QuoteForOptionLine(const QString& AText) {
  QString out = QStringLiteral("\"");
  int backslashes = 0;
  for (const QChar c : AText) {
    if (c == QLatin1Char('\\')) {
      ++backslashes;
      continue;
    }
    if (c == QLatin1Char('"')) {
      out += QString(backslashes * 2 + 1, QLatin1Char('\\'));
    } else {
      out += QString(backslashes, QLatin1Char('\\'));
    }
    backslashes = 0;
    out += c;
  }
  out += QString(backslashes * 2, QLatin1Char('\\'));
  out += QLatin1Char('"');
  return out;
}

}  // namespace vexa
