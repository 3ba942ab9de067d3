#include "core/LanguageFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vexa {
namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

TEST(LanguageFiles, KnownNamesHaveTheirNativeCaptionsBothWays) {
  int count = 0;
  const TKnownLanguage* known = KnownLanguages(&count);
  ASSERT_EQ(count, 11);
  EXPECT_STREQ(known[0].fileName, "Chinese-Simplified");
  EXPECT_STREQ(known[10].fileName, "Afrikaans");
  EXPECT_EQ(LanguageCaption(QStringLiteral("Vietnamese")), QStringLiteral("tiếng Việt"));
  EXPECT_EQ(LanguageCaption(QStringLiteral("German")), QStringLiteral("deutsch"));
  EXPECT_EQ(LanguageFileForCaption(QStringLiteral("tiếng Việt")), QStringLiteral("Vietnamese"));
  EXPECT_EQ(LanguageFileForCaption(QStringLiteral("中文繁體")), QStringLiteral("Chinese-Traditional"));
  // Exact text only: no case folding, no other names.
  EXPECT_TRUE(LanguageCaption(QStringLiteral("german")).isEmpty());
  EXPECT_TRUE(LanguageCaption(QStringLiteral("Klingon")).isEmpty());
  EXPECT_TRUE(LanguageFileForCaption(QStringLiteral("Deutsch")).isEmpty());
}

TEST(LanguageFiles, ListingFindsIniFilesOnlyAndAMissingFolderGivesNothing) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  EXPECT_TRUE(ListLanguageFiles(dir.path()).isEmpty());
  WriteFile(dir.filePath("German.ini"), "");
  WriteFile(dir.filePath("Klingon.ini"), "");
  WriteFile(dir.filePath(".Hidden.ini"), "");
  WriteFile(dir.filePath("notes.txt"), "");
  QStringList names = ListLanguageFiles(dir.path());
  names.sort();
  EXPECT_EQ(names, (QStringList{".Hidden", "German", "Klingon"}));
  EXPECT_TRUE(ListLanguageFiles(dir.filePath("absent")).isEmpty());
}

TEST(LanguageFiles, ReadsSectionsAndKeysWithoutRegardToCase) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("German.ini");
  WriteFile(path,
            "\xEF\xBB\xBF; comment\r\n"
            "[Translations]\r\n"
            "btnStart.Caption = &Starten\r\n"
            "btnStart.Hint=Taste Alt+s, dann S, T\r\n"
            "BTNSTART.CAPTION=second\r\n"
            ".Caption=alle\r\n"
            "quoted.Caption=\"  mit Leerzeichen \"\r\n"
            "empty.Caption=\r\n"
            "[Messages]\r\n"
            "M1=Nachricht\r\n");
  const TLanguageFile file(path);
  ASSERT_TRUE(file.IsLoaded());
  EXPECT_EQ(file.Translation("btnstart.caption", "x"), QStringLiteral("&Starten"));
  EXPECT_EQ(file.Translation("btnStart.Hint", "x"), QStringLiteral("Taste Alt+s, dann S, T"));
  EXPECT_EQ(file.Translation(".Caption", "x"), QStringLiteral("alle"));
  EXPECT_EQ(file.Translation("quoted.Caption", "x"), QStringLiteral("  mit Leerzeichen "));
  EXPECT_EQ(file.Translation("empty.Caption", "x"), QString());
  EXPECT_EQ(file.Translation("absent.Caption", "kept"), QStringLiteral("kept"));
  EXPECT_EQ(file.Value("messages", "m1", ""), QStringLiteral("Nachricht"));
  EXPECT_EQ(file.Value("Messages", "btnStart.Caption", "none"), QStringLiteral("none"));

  const TLanguageFile missing(dir.filePath("French.ini"));
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_EQ(missing.Translation("btnStart.Caption", "kept"), QStringLiteral("kept"));
}

}  // namespace
}  // namespace vexa
