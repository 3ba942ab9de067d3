#include "ui/AppIcon.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vexa::app {

namespace {

const QColor kScreenBlue(38, 70, 120);
const QColor kScreenLight(70, 120, 190);
const QColor kRecordRed(220, 40, 40);

// A monitor with a red record dot, in a square of `size` at `origin`.
void PaintIcon(QPainter& painter, QPointF origin, qreal size) {
  painter.save();
  painter.translate(origin);
  painter.scale(size / 64.0, size / 64.0);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient screen(0, 6, 0, 46);
  screen.setColorAt(0, kScreenLight);
  screen.setColorAt(1, kScreenBlue);
  painter.setPen(QPen(QColor(20, 30, 50), 2));
  painter.setBrush(screen);
  painter.drawRoundedRect(QRectF(4, 8, 56, 38), 5, 5);
  painter.setBrush(QColor(20, 30, 50));
  painter.drawRect(QRectF(27, 46, 10, 7));
  painter.drawRoundedRect(QRectF(18, 53, 28, 5), 2, 2);
  painter.setPen(QPen(Qt::white, 2.5));
  painter.setBrush(kRecordRed);
  painter.drawEllipse(QPointF(32, 27), 11, 11);
  painter.restore();
}

}  // namespace

QPixmap RecorderIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  PaintIcon(painter, QPointF(0, 0), size);
  return pixmap;
}

QIcon RecorderIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(RecorderIconPixmap(size));
  return icon;
}

QPixmap RecorderBanner(int width, int height) {
  QPixmap pixmap(width, height);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, width, 0);
  background.setColorAt(0, QColor(24, 40, 72));
  background.setColorAt(1, QColor(60, 110, 180));
  painter.fillRect(pixmap.rect(), background);
  const qreal iconSize = height - 8;
  PaintIcon(painter, QPointF(8, 4), iconSize);
  QFont title = painter.font();
  title.setBold(true);
  title.setPixelSize(height * 2 / 5);
  painter.setFont(title);
  painter.setPen(Qt::white);
  const QRectF text(iconSize + 20, 0, width - iconSize - 28, height);
  painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft, "Vexa Screen Recorder");
  QFont tag = title;
  tag.setBold(false);
  tag.setPixelSize(height / 4);
  painter.setFont(tag);
  painter.setPen(QColor(220, 230, 245));
  painter.drawText(text, Qt::AlignVCenter | Qt::AlignRight, "record your screen");
  return pixmap;
}

}  // namespace vexa::app
