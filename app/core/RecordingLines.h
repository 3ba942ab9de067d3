// The option lines of a recording: the capture input's line and the output
// file's line that Start hands to the encoder component, the device name, the
// output file name and the watermark filter. Pure functions of the controls
// and the settings file, so that they are tested without recording.
#pragma once

#include <QString>

#include "core/IniFile.h"

namespace vexa {

// What Start takes from the controls; everything else comes from the
// settings file.
struct TRecordControls {
  QString Left = QStringLiteral("10");
  QString Top = QStringLiteral("10");
  QString Width = QStringLiteral("800");
  QString Height = QStringLiteral("600");
  int FormatIndex = 0;
  bool RecordWithAudio = true;
  QString SampleRateText = QStringLiteral("44100");  // the sample-rate list's text
  bool Stereo = true;
  int QualityIndex = 0;
};

// The controls as the main window restores them from the settings file at
// start-up: region fields, format, sound, the format's sample-rate and
// quality selections (a stored index outside its list selects nothing: an
// empty sample-rate text, quality 0).
TRecordControls ControlsFromSettings(const TIniFile& AIni);

// The region fields as numbers.
struct TRegion {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// False, with the conversion message in AError ("'x' is not a valid integer
// value"), when a field is empty or not a decimal integer.
bool ParseRegion(const TRecordControls& AControls, TRegion& ARegion, QString& AError);

struct TRecordingLines {
  QString DeviceName;  // "video=0:audio=-1" or "video=0"
  QString InputLine;
  QString OutputLine;
};

// The device name and both lines. AInset: the inset flag (the captured
// rectangle shrinks by 2 pixels on every side). AProcessorCount: logical
// processors (more than one adds " -threads N").
TRecordingLines BuildRecordingLines(const TRecordControls& AControls, const TRegion& ARegion, bool AInset,
                                    const TIniFile& AIni, int AProcessorCount);

// Encoder settings that keep the format's codecs up with a live screen;
// empty for formats that need none. The one place where such settings are
// added to the output line (after the format's codec text).
QString RealTimeEncoderOptions(int AFormatIndex);

// "VexaScreenRecorder-" + width text + "-" + height text.
QString OutputBaseName(const TRecordControls& AControls);

// AFolder + ABaseName + "_(new)" + AExtension, or the first free
// "_(new_n)" (n = 1, 2, ...) when that file exists.
QString UniqueOutputFileName(const QString& AFolder, const QString& ABaseName, const QString& AExtension);

// The watermark filter for the picture in imageoptions/path at APosition
// (1..9; others count as 1): empty when no such file exists. The file name is
// escaped for both levels of the filter-graph syntax, so any existing file
// is read as that file and nothing in its name reaches the graph.
QString BuildWatermarkFilter(const TIniFile& AIni, int APosition);

// APath escaped once for a filter option value (key=value list) and once
// more for the filter-graph description.
QString EscapeFilterGraphPath(const QString& APath);

// AText in double quotes for an option line: quotes inside are escaped, as
// are the backslashes before them, so the tokenizer yields AText unchanged.
QString QuoteForOptionLine(const QString& AText);

}  // namespace vexa
