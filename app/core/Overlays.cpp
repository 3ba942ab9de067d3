#include "core/Overlays.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <cmath>

namespace vexa {

namespace {

TOverlayItem LoadItem(const TIniFile& AIni, const char* ASection, const char* ABackgroundKey) {
  using namespace keys::overlay;
  TOverlayItem item;
  const QString section = QLatin1String(ASection);
  item.BackgroundOn = AIni.ReadBool(section, QLatin1String(ABackgroundKey), false);
  item.Background = ReadColorSetting(AIni, section, QLatin1String(BackgroundColor), QLatin1String(ColorDefault));
  item.Font = ReadOverlayFont(AIni, section);
  item.Position = AIni.ReadInteger(section, QLatin1String(Position), 1);
  return item;
}

}  // namespace

TOverlayParams LoadOverlayParams(const TIniFile& AIni) {
  using namespace keys::overlay;
  TOverlayParams params;
  params.Text = LoadItem(AIni, TextSection, TextBackgroundOn);
  params.Text.On = ReadBoolSetting(AIni, keys::AddTextOn);
  params.Text.Text = ReadSetting(AIni, keys::AddText);
  params.Timestamp = LoadItem(AIni, TimestampSection, TimestampBackgroundOn);
  params.Timestamp.On = ReadBoolSetting(AIni, keys::AddTimestampOn);
  params.Timestamp.Text = ReadSetting(AIni, keys::AddTimestamp);
  return params;
}

QFont MakeOverlayFont(const TOverlayFontSpec& ASpec) {
  QFont font = QGuiApplication::font();
  if (ASpec.Name.compare(QLatin1String(keys::overlay::FontNameDefault), Qt::CaseInsensitive) != 0)
    font.setFamily(ASpec.Name);
  if (ASpec.Size > 0) font.setPointSize(ASpec.Size);
  font.setBold(ASpec.Bold);
  font.setItalic(ASpec.Italic);
  font.setUnderline(ASpec.Underline);
  font.setStrikeOut(ASpec.StrikeOut);
  return font;
}

QImage::Format ImageFormatOf(TBitmapFormat AFormat) {
  switch (AFormat) {
    case TBitmapFormat::bf8bit:
      return QImage::Format_Indexed8;
    case TBitmapFormat::bf15bit:
      return QImage::Format_RGB555;
    case TBitmapFormat::bf16bit:
      return QImage::Format_RGB16;
    case TBitmapFormat::bf24bit:
      return QImage::Format_BGR888;
    case TBitmapFormat::bf32bit:
      break;
  }
  return QImage::Format_RGB32;
}

QImage WrapBitmap(TBitmap& ABitmap) {
  if (ABitmap.Empty()) return QImage();
  QImage image(ABitmap.Bits(), ABitmap.Width(), ABitmap.Height(), ABitmap.RowBytes(), ImageFormatOf(ABitmap.Format()));
  if (ABitmap.Format() == TBitmapFormat::bf8bit) {
    const auto& palette = TBitmap::Palette();
    image.setColorTable(QList<QRgb>(palette.begin(), palette.end()));
  }
  return image;
}

QString FormatTimestamp(const QTime& ATime) {
  return QStringLiteral("%1:%2:%3:%4")
      .arg(ATime.hour(), 2, 10, QLatin1Char('0'))
      .arg(ATime.minute(), 2, 10, QLatin1Char('0'))
      .arg(ATime.second(), 2, 10, QLatin1Char('0'))
      .arg(ATime.msec(), 2, 10, QLatin1Char('0'));
}

QString TimestampText(const QString& APrefix, const QTime& ATime) {
  return APrefix + QLatin1Char(' ') + FormatTimestamp(ATime);
}

int CentreOffset(int AFrame, int AExtent) {
  return static_cast<int>(std::trunc(static_cast<double>(AFrame) / 2.0 - static_cast<double>(AExtent) / 2.0));
}

bool OverlayFits(int AW, int AH, int ATw, int ATh) { return CentreOffset(AW, ATw) > 0 && CentreOffset(AH, ATh) > 0; }

bool OverlayPlace(int APosition, int AW, int AH, int ATw, int ATh, QPoint& APlace) {
  if (APosition < 1 || APosition > 9) return false;
  const int column = (APosition - 1) % 3;  // left, centre, right
  const int row = (APosition - 1) / 3;     // top, middle, bottom
  const int x = column == 0 ? 5 : column == 1 ? CentreOffset(AW, ATw) : AW - 5 - ATw;
  const int y = row == 0 ? 5 : row == 1 ? CentreOffset(AH, ATh) : AH - 5 - ATh;
  APlace = QPoint(x, y);
  return true;
}

void TOverlayPainter::PaintItem(QImage& AImage, const TOverlayItem& AItem, const std::function<QString()>& AText,
                                QPoint& APlace) {
  QPainter painter(&AImage);
  painter.setFont(MakeOverlayFont(AItem.Font));
  painter.setPen(AItem.Font.Color);
  const QFontMetrics metrics = painter.fontMetrics();
  const QString measured = AText();
  const int tw = metrics.horizontalAdvance(measured);
  const int th = metrics.height();
  if (!OverlayFits(W_, H_, tw, th)) return;
  OverlayPlace(AItem.Position, W_, H_, tw, th, APlace);
  const QString drawn = AText();
  if (AItem.BackgroundOn) {
    // The text cell: the drawn text's advance by the font height.
    painter.fillRect(QRect(APlace, QSize(metrics.horizontalAdvance(drawn), th)), AItem.Background);
  }
  painter.drawText(QRect(APlace, QSize(AImage.width() * 2, th)), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   drawn);
}

void TOverlayPainter::PaintBitmap(TBitmap& ABitmap, int AFrameNumber) {
  QImage image = WrapBitmap(ABitmap);
  if (image.isNull()) return;
  PaintFrame(image, AFrameNumber);
}

void TOverlayPainter::PaintFrame(QImage& AImage, int AFrameNumber) {
  if (AFrameNumber == 1) {
    W_ = AImage.width();
    H_ = AImage.height();
  }
  if (W_ <= 5 || H_ <= 5) return;
  const TOverlayItem& text = Params_.Text;
  if (text.On && !text.Text.isEmpty()) PaintItem(AImage, text, [&] { return text.Text; }, TextPlace_);
  const TOverlayItem& stamp = Params_.Timestamp;
  if (stamp.On) {
    auto now = [this, &stamp] { return TimestampText(stamp.Text, Clock_ ? Clock_() : QTime::currentTime()); };
    PaintItem(AImage, stamp, now, TimestampPlace_);
  }
}

}  // namespace vexa
