#include "AppUi/UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

namespace vexa::testing_ui {

void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

void Drag(QWidget* w, QPoint from, QPoint to) {
  Press(w, from);
  Move(w, to, Qt::LeftButton);
  Release(w, to);
}

void SaveScreenshot(QWidget* widget, const QString& name) {
  const QString dir = qEnvironmentVariable("VEXA_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QDir().mkpath(dir);
  widget->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

}  // namespace vexa::testing_ui
