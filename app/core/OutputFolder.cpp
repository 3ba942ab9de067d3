#include "core/OutputFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "core/Settings.h"

namespace vexa {

namespace {

QString Home() { return QDir::homePath(); }

QString ReadOutPutDir(const TIniFile& AIni, const QString& ADefault) {
  return AIni.ReadString(QLatin1String(keys::OutPutDir.Section), QLatin1String(keys::OutPutDir.Name), ADefault);
}

bool FolderExists(const QString& AFolder) { return !AFolder.isEmpty() && QFileInfo(AFolder).isDir(); }

}  // namespace

QString AllUsersOutputFolder() {
  QString base = qEnvironmentVariable("ALLUSERSPROFILE");
  if (base.isEmpty()) base = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (base.isEmpty()) base = Home() + QStringLiteral("/Videos");
  return base + QStringLiteral("/screenrecorder");
}

QString VideoConverterFolder() { return Home() + QStringLiteral("/videoconverter"); }

QString UserVideosFolder() { return Home() + QStringLiteral("/Videos"); }

bool ForceFolder(const QString& AFolder) {
  if (AFolder.isEmpty()) return false;
  if (FolderExists(AFolder)) return true;
  return QDir().mkpath(AFolder) && FolderExists(AFolder);
}

QString ResolveOutputFolderAtStartup(TIniFile& AIni, TRecorderHost& AHost) {
  QString folder;
  if (!ReadBoolSetting(AIni, keys::FirstRun)) {
    folder = ReadOutPutDir(AIni, QString());
    if (!FolderExists(folder)) folder.clear();
  }
  if (folder.isEmpty()) {
    folder = AllUsersOutputFolder();
    WriteSetting(AIni, keys::OutPutDir, folder);
    WriteBoolSetting(AIni, keys::FirstRun, false);
  }
  if (!ForceFolder(folder)) {
    const QString fallback = AllUsersOutputFolder();
    AHost.ShowWarning(QStringLiteral("Can not create output directory:") + folder +
                      QStringLiteral(".It will create default directory") + fallback);
    ForceFolder(fallback);
    WriteSetting(AIni, keys::OutPutDir, fallback);
    folder = fallback;
  }
  return folder;
}

QString OutputFolderForRecording(TIniFile& AIni, TRecorderHost& AHost) {
  const QString folder = ReadOutPutDir(AIni, VideoConverterFolder());
  if (!ForceFolder(folder)) {
    const QString fallback = VideoConverterFolder();
    AHost.ShowWarning(QStringLiteral("Cannot create output directory:") + folder +
                      QStringLiteral(".It will create default directory ") + fallback + QStringLiteral("!"));
    ForceFolder(fallback);
    WriteSetting(AIni, keys::OutPutDir, fallback);
  }
  return folder;
}

QString OutputFolderForOpen(TIniFile& AIni, TRecorderHost& AHost) {
  const QString folder = ReadOutPutDir(AIni, UserVideosFolder());
  if (ForceFolder(folder)) return folder;
  const QString fallback = UserVideosFolder();
  AHost.ShowWarning(QStringLiteral("Can not create output directory:") + folder +
                    QStringLiteral(".It will create default directory") + fallback);
  ForceFolder(fallback);
  WriteSetting(AIni, keys::OutPutDir, fallback);
  return fallback;
}

}  // namespace vexa
