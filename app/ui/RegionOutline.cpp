#include "ui/RegionOutline.h"

#include <QColor>
#include <QPalette>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <memory>

namespace vexa::app {

namespace {

const QColor kOutlineColour(0, 128, 0);

QPointer<QWidget>& Current() {
  static QPointer<QWidget> outline;
  return outline;
}

}  // namespace

void CloseRegionOutline() {
  QPointer<QWidget>& current = Current();
  if (!current) return;
  std::unique_ptr<QWidget> old(current.data());
  current = nullptr;
  old->hide();
}

void ShowRegionOutline(int left, int top, int width, int height, int border) {
  CloseRegionOutline();
  auto outline = std::make_unique<QWidget>(
      nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput |
                   Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
  outline->setObjectName("RegionOutline");
  outline->setAttribute(Qt::WA_ShowWithoutActivating);
  outline->setAutoFillBackground(true);
  QPalette palette = outline->palette();
  palette.setColor(QPalette::Window, kOutlineColour);
  outline->setPalette(palette);
  const int outerWidth = width + 2 * border;
  const int outerHeight = height + 2 * border;
  outline->setGeometry(left, top, outerWidth, outerHeight);
  QRegion ring(0, 0, outerWidth, outerHeight);
  ring -= QRegion(border, border, width, height);
  outline->setMask(ring);
  outline->show();
  Current() = outline.release();
}

QWidget* CurrentRegionOutline() { return Current().data(); }

}  // namespace vexa::app
