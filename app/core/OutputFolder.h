// The output folder: its defaults on this platform and the fallbacks when a
// stored folder can neither be found nor created.
#pragma once

#include <QString>

#include "core/IniFile.h"
#include "core/RecorderHost.h"

namespace vexa {

// $ALLUSERSPROFILE when set, else the user's videos folder, + "/screenrecorder".
QString AllUsersOutputFolder();
// $HOME/videoconverter: the path builder's default and fallback.
QString VideoConverterFolder();
// $HOME/Videos: the Open action's default and fallback.
QString UserVideosFolder();

// True when AFolder exists as a folder or was created with its parents.
bool ForceFolder(const QString& AFolder);

// Start-up: the stored folder when it is not the first run and the folder
// exists, else the all-users folder (stored, firstrun cleared); when that
// cannot be created either, warns and falls back to the all-users folder
// once more. Returns the folder for the output-folder field.
QString ResolveOutputFolderAtStartup(TIniFile& AIni, TRecorderHost& AHost);

// The folder the recording is named in (OutPutDir, default
// $HOME/videoconverter). When it can be neither found nor created, warns,
// creates $HOME/videoconverter and stores it; the folder read is still
// returned.
QString OutputFolderForRecording(TIniFile& AIni, TRecorderHost& AHost);

// The Open action: the folder to show (OutPutDir, default $HOME/Videos);
// one that can be neither found nor created is replaced by $HOME/Videos
// (warned, created, stored).
QString OutputFolderForOpen(TIniFile& AIni, TRecorderHost& AHost);

}  // namespace vexa
