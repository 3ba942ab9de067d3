#include "core/IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <limits>

namespace vexa {

namespace {

// One line of the file as the reader sees it.
struct TIniLine {
  enum TKind { lkOther, lkSection, lkKey } Kind = lkOther;
  QString Name;   // section or key name, trimmed
  QString Value;  // key value, trimmed and unquoted
};

TIniLine ClassifyLine(QString line) {
  TIniLine result;
  if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
  const QString trimmed = line.trimmed();
  if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';'))) return result;
  if (trimmed.startsWith(QLatin1Char('['))) {
    const int close = trimmed.indexOf(QLatin1Char(']'));
    if (close > 0) {
      result.Kind = TIniLine::lkSection;
      result.Name = trimmed.mid(1, close - 1).trimmed();
    }
    return result;
  }
  const int eq = trimmed.indexOf(QLatin1Char('='));
  if (eq <= 0) return result;
  result.Kind = TIniLine::lkKey;
  result.Name = trimmed.left(eq).trimmed();
  QString value = trimmed.mid(eq + 1).trimmed();
  if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
    value = value.mid(1, value.size() - 2);
  result.Value = value;
  return result;
}

QString EncodeValue(QString value) {
  value.replace(QLatin1String("\r\n"), QLatin1String(" "));
  value.replace(QLatin1Char('\r'), QLatin1Char(' '));
  value.replace(QLatin1Char('\n'), QLatin1Char(' '));
  const bool needsQuotes =
      !value.isEmpty() && (value.front().isSpace() || value.back().isSpace() ||
                           (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))));
  return needsQuotes ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool ReadLines(const QString& fileName, QStringList& lines) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QString text = QString::fromUtf8(file.readAll());
  lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();  // the final line break
  return true;
}

}  // namespace

TIniFile::TIniFile(QString AFileName) : FileName_(std::move(AFileName)) {}

bool TIniFile::ParseInteger(const QString& AText, int& AValue) {
  QString text = AText.trimmed();
  bool negative = false;
  if (text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+'))) {
    negative = text.front() == QLatin1Char('-');
    text.remove(0, 1);
  }
  int base = 10;
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    base = 16;
    text.remove(0, 2);
  } else if (text.startsWith(QLatin1Char('$'))) {
    base = 16;
    text.remove(0, 1);
  }
  if (text.isEmpty()) return false;
  for (const QChar c : text) {
    const bool digit = c.isDigit() && c.unicode() < 128;
    const bool hex = base == 16 && ((c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                                    (c >= QLatin1Char('A') && c <= QLatin1Char('F')));
    if (!digit && !hex) return false;
  }
  bool ok = false;
  const qulonglong magnitude = text.toULongLong(&ok, base);
  if (!ok) return false;
  // Hexadecimal numbers may use all 32 bits ("0xFFFFFFFF" is -1).
  if (base == 16 && !negative && magnitude <= 0xFFFFFFFFull) {
    AValue = static_cast<int>(static_cast<uint32_t>(magnitude));
    return true;
  }
  const qulonglong limit = negative ? qulonglong(std::numeric_limits<int>::max()) + 1
                                    : qulonglong(std::numeric_limits<int>::max());
  if (magnitude > limit) return false;
  AValue = negative ? static_cast<int>(-static_cast<long long>(magnitude)) : static_cast<int>(magnitude);
  return true;
}

bool TIniFile::ReadRaw(const QString& ASection, const QString& AKey, QString& AValue) const {
  QStringList lines;
  if (!ReadLines(FileName_, lines)) return false;
  bool inSection = false;
  for (const QString& line : lines) {
    const TIniLine parsed = ClassifyLine(line);
    if (parsed.Kind == TIniLine::lkSection) {
      inSection = SameName(parsed.Name, ASection);
    } else if (inSection && parsed.Kind == TIniLine::lkKey && SameName(parsed.Name, AKey)) {
      AValue = parsed.Value;
      return true;
    }
  }
  return false;
}

QString TIniFile::ReadString(const QString& ASection, const QString& AKey, const QString& ADefault) const {
  QString value;
  return ReadRaw(ASection, AKey, value) ? value : ADefault;
}

int TIniFile::ReadInteger(const QString& ASection, const QString& AKey, int ADefault) const {
  QString text;
  int value = 0;
  if (!ReadRaw(ASection, AKey, text) || !ParseInteger(text, value)) return ADefault;
  return value;
}

bool TIniFile::ReadBool(const QString& ASection, const QString& AKey, bool ADefault) const {
  return ReadInteger(ASection, AKey, ADefault ? 1 : 0) != 0;
}

bool TIniFile::ValueExists(const QString& ASection, const QString& AKey) const {
  QString value;
  return ReadRaw(ASection, AKey, value);
}

bool TIniFile::WriteString(const QString& ASection, const QString& AKey, const QString& AValue) {
  QStringList lines;
  ReadLines(FileName_, lines);  // a missing file starts empty
  const bool crlf = !lines.isEmpty() && lines.front().endsWith(QLatin1Char('\r'));
  const QString eol = crlf ? QStringLiteral("\r") : QString();
  const QString keyLine = AKey + QLatin1Char('=') + EncodeValue(AValue) + eol;

  int sectionAt = -1;  // line of the section header
  int insertAt = -1;   // after the section's last key
  bool replaced = false;
  bool inSection = false;
  for (int i = 0; i < lines.size() && !replaced; ++i) {
    const TIniLine parsed = ClassifyLine(lines[i]);
    if (parsed.Kind == TIniLine::lkSection) {
      inSection = SameName(parsed.Name, ASection);
      if (inSection && sectionAt < 0) {
        sectionAt = i;
        insertAt = i + 1;
      }
    } else if (inSection && parsed.Kind == TIniLine::lkKey) {
      if (SameName(parsed.Name, AKey)) {
        lines[i] = keyLine;
        replaced = true;
      } else if (sectionAt >= 0) {
        insertAt = i + 1;
      }
    }
  }
  if (!replaced) {
    if (sectionAt >= 0) {
      lines.insert(insertAt, keyLine);
    } else {
      lines.append(QLatin1Char('[') + ASection + QLatin1Char(']') + eol);
      lines.append(keyLine);
    }
  }

  QSaveFile file(FileName_);
  if (!file.open(QIODevice::WriteOnly)) {
    LastError_ = file.errorString();
    return false;
  }
  const QByteArray text = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
  if (file.write(text) != text.size()) {
    LastError_ = file.errorString();
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {  // flushes, syncs and renames over the old file
    LastError_ = file.errorString();
    return false;
  }
  LastError_.clear();
  return true;
}

bool TIniFile::WriteInteger(const QString& ASection, const QString& AKey, int AValue) {
  return WriteString(ASection, AKey, QString::number(AValue));
}

bool TIniFile::WriteBool(const QString& ASection, const QString& AKey, bool AValue) {
  return WriteString(ASection, AKey, AValue ? QStringLiteral("1") : QStringLiteral("0"));
}

}  // namespace vexa
