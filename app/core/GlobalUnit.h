// Application information: the program's name, version text, web addresses
// and the path of the settings file. One instance lives while the main
// window (or vexarec) runs.
#pragma once

#include <QString>

namespace vexa {

class TGlobalObject {
 public:
  // IniFileName: beside the program when that folder is writable, else the
  // user's configuration folder (see DefaultIniFileName).
  TGlobalObject();

  const QString& IniFileName() const { return IniFileName_; }
  const QString& AppName() const { return AppName_; }
  const QString& VersionText() const { return VersionText_; }
  const QString& HomePageUrl() const { return HomePageUrl_; }
  const QString& ProductPageUrl() const { return ProductPageUrl_; }
  const QString& HelpPageUrl() const { return HelpPageUrl_; }

  // Ignored for a text of 3 characters or fewer.
  void SetIniFileName(const QString& AValue);
  // Each ignored when empty.
  void SetAppName(const QString& AValue);
  void SetVersionText(const QString& AValue);
  void SetHomePageUrl(const QString& AValue);
  void SetProductPageUrl(const QString& AValue);
  void SetHelpPageUrl(const QString& AValue);

  // AppName + " free version" + VersionText.
  QString MainCaption() const;

 private:
  QString IniFileName_;
  QString AppName_;
  QString VersionText_;
  QString HomePageUrl_;
  QString ProductPageUrl_;
  QString HelpPageUrl_;
};

// The last ACount characters of AText, or all of it when it is shorter.
QString RightChars(const QString& AText, int ACount);

// " major.minorreleasebuild ": 3.9.0.3 gives " 3.903 ".
QString BuildVersionText(int AMajor, int AMinor, int ARelease, int ABuild);

// The program's folder with a trailing "/" (the folder of the running
// executable).
QString ProgramFolder();

inline constexpr const char* IniBaseName = "vexascreenrecorder.ini";

// The settings file's place: AProgramFolder + the base name when that folder
// is writable, else $XDG_CONFIG_HOME/vexa-screen-recorder/ (~/.config when
// unset), the folder created on demand.
QString DefaultIniFileName(const QString& AProgramFolder);

}  // namespace vexa
