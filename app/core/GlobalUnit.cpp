#include "core/GlobalUnit.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#ifndef VEXA_VERSION_MAJOR
#define VEXA_VERSION_MAJOR 0
#define VEXA_VERSION_MINOR 1
#define VEXA_VERSION_RELEASE 0
#define VEXA_VERSION_BUILD 0
#endif

namespace vexa {

QString RightChars(const QString& AText, int ACount) {
  if (ACount <= 0) return QString();
  return AText.size() <= ACount ? AText : AText.right(ACount);
}

QString BuildVersionText(int AMajor, int AMinor, int ARelease, int ABuild) {
  return QStringLiteral(" %1.%2%3%4 ").arg(AMajor).arg(AMinor).arg(ARelease).arg(ABuild);
}

QString ProgramFolder() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  QString folder;
  if (n > 0) {
    buffer[n] = '\0';
    folder = QFileInfo(QString::fromUtf8(buffer)).absolutePath();
  } else {
    folder = QDir::currentPath();
  }
  return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString DefaultIniFileName(const QString& AProgramFolder) {
  if (!AProgramFolder.isEmpty() && access(QFile::encodeName(AProgramFolder).constData(), W_OK) == 0) {
    const QString folder = AProgramFolder.endsWith(QLatin1Char('/')) ? AProgramFolder : AProgramFolder + '/';
    return folder + QLatin1String(IniBaseName);
  }
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
  const QString folder = config + QStringLiteral("/vexa-screen-recorder");
  QDir().mkpath(folder);
  return folder + QLatin1Char('/') + QLatin1String(IniBaseName);
}

TGlobalObject::TGlobalObject()
    : IniFileName_(DefaultIniFileName(ProgramFolder())),
      AppName_(QStringLiteral("Vexa Screen Recorder")),
      VersionText_(BuildVersionText(VEXA_VERSION_MAJOR, VEXA_VERSION_MINOR, VEXA_VERSION_RELEASE, VEXA_VERSION_BUILD)),
      HomePageUrl_(QStringLiteral("https://vexa-recorder.example.org/")),
      ProductPageUrl_(QStringLiteral("https://vexa-recorder.example.org/screen-recorder/")),
      HelpPageUrl_(QStringLiteral("https://vexa-recorder.example.org/screen-recorder/help/")) {}

void TGlobalObject::SetIniFileName(const QString& AValue) {
  if (AValue.size() > 3) IniFileName_ = AValue;
}
void TGlobalObject::SetAppName(const QString& AValue) {
  if (!AValue.isEmpty()) AppName_ = AValue;
}
void TGlobalObject::SetVersionText(const QString& AValue) {
  if (!AValue.isEmpty()) VersionText_ = AValue;
}
void TGlobalObject::SetHomePageUrl(const QString& AValue) {
  if (!AValue.isEmpty()) HomePageUrl_ = AValue;
}
void TGlobalObject::SetProductPageUrl(const QString& AValue) {
  if (!AValue.isEmpty()) ProductPageUrl_ = AValue;
}
void TGlobalObject::SetHelpPageUrl(const QString& AValue) {
  if (!AValue.isEmpty()) HelpPageUrl_ = AValue;
}

QString TGlobalObject::MainCaption() const { return AppName_ + QStringLiteral(" free version") + VersionText_; }

}  // namespace vexa
