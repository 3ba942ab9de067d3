// The settings file facade: plain INI text in UTF-8, read and written key by
// key. Nothing is cached: every call opens the file, and every write replaces
// the whole file atomically (a temporary file in the same folder, flushed to
// disk, renamed over the old one), so an interrupted write leaves either the
// old or the new file, never a truncated one.
//
// Section and key names match without regard to case. Values are trimmed on
// reading; a value with blanks at either end, or enclosed in double quotes, is
// written inside an extra pair of double quotes that reading removes again.
// Line breaks in a written value become blanks (one key, one line).
#pragma once

#include <QString>

namespace vexa {

class TIniFile {
 public:
  explicit TIniFile(QString AFileName);

  const QString& FileName() const { return FileName_; }

  // A missing file, section or key, or an unreadable file, yields ADefault.
  QString ReadString(const QString& ASection, const QString& AKey, const QString& ADefault) const;
  // Decimal, or hexadecimal after "0x" (or "$"); anything else yields ADefault.
  int ReadInteger(const QString& ASection, const QString& AKey, int ADefault) const;
  // An integer other than 0 is true; a value that is not an integer yields ADefault.
  bool ReadBool(const QString& ASection, const QString& AKey, bool ADefault) const;
  bool ValueExists(const QString& ASection, const QString& AKey) const;

  // False when the file could not be replaced (LastError() says why); the old
  // file is then unchanged.
  bool WriteString(const QString& ASection, const QString& AKey, const QString& AValue);
  bool WriteInteger(const QString& ASection, const QString& AKey, int AValue);
  bool WriteBool(const QString& ASection, const QString& AKey, bool AValue);

  const QString& LastError() const { return LastError_; }

  // The integer convention of the file: optional sign, decimal digits or
  // "0x"/"$" and hexadecimal digits, blanks around; false when malformed or
  // out of range.
  static bool ParseInteger(const QString& AText, int& AValue);

 private:
  bool ReadRaw(const QString& ASection, const QString& AKey, QString& AValue) const;

  QString FileName_;
  QString LastError_;
};

}  // namespace vexa
