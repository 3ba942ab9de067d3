#pragma once
// The region selection window: a dimmed snapshot of the whole desktop on which
// the user drags out the rectangle to record, resizes it by its eight handles
// or moves it, and confirms it with "Ok" or a double click.

#include "core/RegionGeometry.h"

#include <QImage>
#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <array>

class QFrame;
class QToolButton;

namespace vexa {

class TfrmScreenShots : public QWidget {
  Q_OBJECT

 public:
  enum TSelectState : int { ssNone = 0, ssDrawing = 1, ssSelected = 2 };

  // Takes the snapshot and shows the window over all screens at once.
  explicit TfrmScreenShots(QWidget* parent = nullptr);
  ~TfrmScreenShots() override;

  int State() const { return state_; }
  TRegionRect Selection() const { return selection_; }
  // What the left button went down on in the selected state.
  TRegionHit Hit() const { return hit_; }
  TRegionCursor CurrentCursor() const { return cursor_; }
  QRect PanelGeometry() const;
  bool PanelVisible() const;
  // The three lines of the information box and the two of the magnifier's
  // label, as they read for the last pointer position.
  QStringList InfoLines() const;
  QStringList MagnifierLines() const;
  QPoint InfoBoxPosition() const;
  TRegionRect Magnifier() const;
  const QImage& Picture() const { return picture_; }

 public slots:
  void Ok();
  void Cancel();

 signals:
  // The accepted region: left and top in screen pixels, width = right - left,
  // height = bottom - top.
  void regionAccepted(int left, int top, int width, int height);
  // A right click with nothing selected: the program is to end. Without a
  // receiver the application quits directly.
  void endApplicationRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void TakeSnapshot();
  void BuildPanel();
  void PlacePanel();
  void SetRegionCursor(TRegionCursor cursor);
  void ClearSelection();
  TRegionSize WindowSize() const { return {width(), height()}; }
  QColor PixelAt(QPoint p) const;

  void DrawSelection(QPainter& painter);
  void DrawInfoBox(QPainter& painter);
  void DrawMagnifier(QPainter& painter);
  void KeepInFront();

  QImage picture_;  // the desktop as it was when the window opened
  QImage dimmed_;   // the same over black at alpha 150
  TRegionRect selection_;
  int state_ = ssNone;
  QPoint anchor_;
  std::array<TRegionRect, 8> handles_{};
  TRegionHit hit_ = rhOutside;
  TRegionCursor cursor_ = TRegionCursor::Shot;
  QPoint mouse_;  // last pointer position in window coordinates
  bool dragging_ = false;
  bool confined_ = false;
  TRegionRect confinement_;
  TRegionPoint startTopLeft_;
  TRegionPoint startBottomRight_;
  QFrame* panel_ = nullptr;
  QToolButton* btnOk_ = nullptr;
  QToolButton* btnCancel_ = nullptr;
  QTimer raiseTimer_;
};

}  // namespace vexa
