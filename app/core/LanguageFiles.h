#pragma once
// Interface languages: the language files in the "language" folder, the known
// languages with their native menu captions, and reading one file.

#include <QHash>
#include <QString>
#include <QStringList>

namespace vexa {

struct TKnownLanguage {
  const char* fileName;  // the file's name without ".ini"
  const char* caption;   // the language's own name, UTF-8, shown in the menu
};

// The eleven known languages in the order the menu builder tests them.
const TKnownLanguage* KnownLanguages(int* count);
// The native caption of a known file name; empty for any other name.
QString LanguageCaption(const QString& fileName);
// The file name whose native caption is exactly this text; empty when none.
QString LanguageFileForCaption(const QString& caption);

// The folder holding the language files: "language" beside the program when
// it exists, else the installed data folder.
QString LanguageFolder();
// Names (without ".ini") of the files matching *.ini in the folder, in the
// order the file system lists them; empty when the folder is missing.
QStringList ListLanguageFiles(const QString& folder);
// The path of a language's file in the folder.
QString LanguageFilePath(const QString& folder, const QString& name);

// One language file read whole: sections "Translations" and "Messages".
// Section and key names match without regard to case; the first occurrence of
// a key counts. A file that cannot be read yields every default.
class TLanguageFile {
 public:
  explicit TLanguageFile(const QString& path);

  bool IsLoaded() const { return loaded_; }
  QString Value(const QString& section, const QString& key, const QString& defaultValue) const;
  QString Translation(const QString& key, const QString& defaultValue) const {
    return Value(QStringLiteral("Translations"), key, defaultValue);
  }

 private:
  bool loaded_ = false;
  QHash<QString, QString> values_;  // "section\nkey" in lower case -> value
};

}  // namespace vexa
