// The text and timestamp overlays drawn into every recorded frame by the
// video input hook, on the engine's bitmap wrapped in a QImage (no copy).
//
// Start loads the parameters (LoadOverlayParams) before the task starts; the
// hook then only reads them and keeps the frame state (W, H and the last
// positions) from frame to frame, on the engine's thread.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QString>
#include <functional>

#include "Base/Bitmap.h"
#include "core/IniFile.h"
#include "core/Settings.h"

namespace vexa {

struct TOverlayItem {
  bool On = false;
  QString Text;  // the text, or the timestamp's prefix
  TOverlayFontSpec Font;
  int Position = 1;  // 1..9
  bool BackgroundOn = false;
  QColor Background = Qt::black;
};

struct TOverlayParams {
  TOverlayItem Text;
  TOverlayItem Timestamp;
  // (text on and text not empty) or timestamp on.
  bool HookEnabled() const { return (Text.On && !Text.Text.isEmpty()) || Timestamp.On; }
};

TOverlayParams LoadOverlayParams(const TIniFile& AIni);

// The QFont of a font spec: "Default" is the application's typeface, size 0
// its size.
QFont MakeOverlayFont(const TOverlayFontSpec& ASpec);

// The QImage format over a bitmap's rows, and the image itself (no copy; an
// indexed bitmap gets the engine's palette).
QImage::Format ImageFormatOf(TBitmapFormat AFormat);
QImage WrapBitmap(TBitmap& ABitmap);

// "hh:nn:ss:zz": hours 00-23, minutes and seconds of two digits, the
// milliseconds zero-padded to at least two digits.
QString FormatTimestamp(const QTime& ATime);
// APrefix + " " + the time.
QString TimestampText(const QString& APrefix, const QTime& ATime);

// trunc(AFrame / 2 - AExtent / 2), computed in floating point.
int CentreOffset(int AFrame, int AExtent);
// Whether a text of tw x th fits a W x H frame.
bool OverlayFits(int AW, int AH, int ATw, int ATh);
// The top-left corner for APosition (margin 5); false (APlace unchanged) for
// a position outside 1..9.
bool OverlayPlace(int APosition, int AW, int AH, int ATw, int ATh, QPoint& APlace);

// The overlay drawing with its frame state.
class TOverlayPainter {
 public:
  void SetParams(const TOverlayParams& AParams) { Params_ = AParams; }
  const TOverlayParams& Params() const { return Params_; }

  // The clock of the timestamp (the local time by default).
  void SetClock(std::function<QTime()> AClock) { Clock_ = std::move(AClock); }

  // Draws the overlays of one frame into AImage (an image over the frame's
  // rows). AFrameNumber is 1 for the first frame of a recording.
  void PaintFrame(QImage& AImage, int AFrameNumber);
  // The same on the engine's hook bitmap, its rows wrapped without copying.
  // The caller holds the bitmap's canvas (the engine does, during a hook).
  void PaintBitmap(TBitmap& ABitmap, int AFrameNumber);

  int FrameWidth() const { return W_; }
  int FrameHeight() const { return H_; }
  QPoint TextPlace() const { return TextPlace_; }
  QPoint TimestampPlace() const { return TimestampPlace_; }

 private:
  // Steps 1-7 of one overlay; AText is called for the text to measure and
  // again for the text to draw.
  void PaintItem(QImage& AImage, const TOverlayItem& AItem, const std::function<QString()>& AText, QPoint& APlace);

  TOverlayParams Params_;
  std::function<QTime()> Clock_;
  int W_ = 0;
  int H_ = 0;
  QPoint TextPlace_{0, 0};
  QPoint TimestampPlace_{0, 0};
};

}  // namespace vexa
