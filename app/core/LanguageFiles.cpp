#include "core/LanguageFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <iterator>

#ifndef VEXA_LANGUAGE_INSTALL_DIR
#define VEXA_LANGUAGE_INSTALL_DIR "/usr/local/share/vexa-screen-recorder/language"
#endif

namespace vexa {

namespace {

const TKnownLanguage kKnown[] = {
    {"Chinese-Simplified", "中文简体"}, {"Chinese-Traditional", "中文繁體"}, {"English", "english"},
    {"French", "français"},            {"German", "deutsch"},                {"Japanese", "日本の"},
    {"Portuguese", "português"},       {"Russian", "русский"},               {"Spanish", "español"},
    {"Vietnamese", "tiếng Việt"},      {"Afrikaans", "afrikaans"},
};

QString EntryKey(const QString& section, const QString& key) {
  return section.toLower() + QLatin1Char('\n') + key.toLower();
}

QString DecodeText(const QByteArray& bytes) {
  // UTF-8 unless a byte-order mark says otherwise.
  const auto encoding = QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8);
  QStringDecoder decode(encoding);
  QString text = decode(bytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  return text;
}

}  // namespace

const TKnownLanguage* KnownLanguages(int* count) {
  *count = static_cast<int>(std::size(kKnown));
  return kKnown;
}

QString LanguageCaption(const QString& fileName) {
  for (const auto& language : kKnown)
    if (fileName == QLatin1String(language.fileName)) return QString::fromUtf8(language.caption);
  return {};
}

QString LanguageFileForCaption(const QString& caption) {
  for (const auto& language : kKnown)
    if (caption == QString::fromUtf8(language.caption)) return QString::fromLatin1(language.fileName);
  return {};
}

QString LanguageFolder() {
  const QString besideProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/language");
  if (QFileInfo(besideProgram).isDir()) return besideProgram;
  return QStringLiteral(VEXA_LANGUAGE_INSTALL_DIR);
}

QStringList ListLanguageFiles(const QString& folder) {
  QStringList names;
  const QDir dir(folder);
  if (!dir.exists()) return names;
  const QStringList entries =
      dir.entryList({QStringLiteral("*.ini")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
  for (const QString& entry : entries) names << QFileInfo(entry).completeBaseName();
  return names;
}

QString LanguageFilePath(const QString& folder, const QString& name) {
  return QDir(folder).filePath(name + QStringLiteral(".ini"));
}

TLanguageFile::TLanguageFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  loaded_ = true;
  const QString text = DecodeText(file.readAll());
  QString section;
  for (QString line : text.split(QLatin1Char('\n'))) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
    if (line.startsWith(QLatin1Char('['))) {
      const int close = line.indexOf(QLatin1Char(']'));
      section = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
      continue;
    }
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0) continue;
    const QString key = line.left(equals).trimmed();
    QString value = line.mid(equals + 1).trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
      value = value.mid(1, value.size() - 2);
    const QString entry = EntryKey(section, key);
    if (!values_.contains(entry)) values_.insert(entry, value);
  }
}

QString TLanguageFile::Value(const QString& section, const QString& key, const QString& defaultValue) const {
  const auto it = values_.constFind(EntryKey(section, key));
  return it == values_.constEnd() ? defaultValue : it.value();
}

}  // namespace vexa
