#pragma once
// Helpers for the window tests: synthetic pointer events with a chosen button
// state, and screenshots for looking at the windows.

#include <QMouseEvent>
#include <QString>
#include <QWidget>

namespace vexa::testing_ui {

// Sends one mouse event of the given type to the widget at pos.
void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons);
inline void Press(QWidget* w, QPoint p, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonPress, p, b, b);
}
inline void Release(QWidget* w, QPoint p, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonRelease, p, b, Qt::NoButton);
}
inline void Move(QWidget* w, QPoint p, Qt::MouseButtons held = Qt::NoButton) {
  SendMouse(w, QEvent::MouseMove, p, Qt::NoButton, held);
}
// A left-button press at from, a move to to and the release there.
void Drag(QWidget* w, QPoint from, QPoint to);

// Saves the widget as NAME.png into $VEXA_SCREENSHOT_DIR when that is set.
void SaveScreenshot(QWidget* widget, const QString& name);

}  // namespace vexa::testing_ui
