#include "ui/ScreenShotMain.h"

#include <QCoreApplication>
#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QToolButton>

namespace vexa {

namespace {

constexpr int kDimAlpha = 150;
constexpr int kBoxAlpha = 80;
const QColor kBlue(0, 0, 255);

QPoint ToQPoint(TRegionPoint p) { return {p.x, p.y}; }
TRegionPoint ToRegionPoint(QPoint p) { return {p.x(), p.y()}; }
QRect ToQRect(const TRegionRect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

Qt::CursorShape ShapeOf(TRegionCursor cursor) {
  switch (cursor) {
    case TRegionCursor::SizeNwSe: return Qt::SizeFDiagCursor;
    case TRegionCursor::SizeNs: return Qt::SizeVerCursor;
    case TRegionCursor::SizeNeSw: return Qt::SizeBDiagCursor;
    case TRegionCursor::SizeWe: return Qt::SizeHorCursor;
    case TRegionCursor::Move: return Qt::SizeAllCursor;
    case TRegionCursor::Shot: break;
  }
  return Qt::CrossCursor;
}

// Text drawn with its top-left corner at (x, y).
void DrawTextAt(QPainter& painter, int x, int y, const QString& text) {
  painter.drawText(QRect(x, y, 1000, 100), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

QString RgbLine(const QColor& c) {
  return QStringLiteral("RGB: (%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

}  // namespace

TfrmScreenShots::TfrmScreenShots(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool) {
  setObjectName(QStringLiteral("frmScreenShots"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  SetRegionCursor(TRegionCursor::Shot);
  setGeometry(QGuiApplication::primaryScreen()->virtualGeometry());
  BuildPanel();

  raiseTimer_.setInterval(200);
  connect(&raiseTimer_, &QTimer::timeout, this, &TfrmScreenShots::KeepInFront);
  raiseTimer_.start();

  if (!isVisible()) {
    TakeSnapshot();
    show();
    activateWindow();
  }
}

TfrmScreenShots::~TfrmScreenShots() = default;

void TfrmScreenShots::TakeSnapshot() {
  const QRect desktop = geometry();
  picture_ = QImage(desktop.size(), QImage::Format_RGB32);
  picture_.fill(Qt::black);
  QPainter painter(&picture_);
  for (QScreen* screen : QGuiApplication::screens()) {
    const QPixmap shot = screen->grabWindow(0);
    painter.drawPixmap(QRect(screen->geometry().topLeft() - desktop.topLeft(), screen->geometry().size()), shot);
  }
  painter.end();

  dimmed_ = QImage(picture_.size(), QImage::Format_RGB32);
  dimmed_.fill(Qt::black);
  QPainter dim(&dimmed_);
  dim.setOpacity(kDimAlpha / 255.0);
  dim.drawImage(0, 0, picture_);
}

void TfrmScreenShots::BuildPanel() {
  panel_ = new QFrame(this);
  panel_->setObjectName(QStringLiteral("pnlButtons"));
  panel_->setFixedSize(kPanelWidth, kPanelHeight);
  panel_->setStyleSheet(
      QStringLiteral("QFrame#pnlButtons { border: 1px solid blue; background-color: palette(window); }"));

  QFont small = panel_->font();
  small.setPointSize(8);
  const auto makeButton = [&](const char* name, const QString& caption, const QString& hint, int x) {
    auto* button = new QToolButton(panel_);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(small);
    button->setGeometry(x, 2, 55, 25);
    return button;
  };
  btnOk_ = makeButton("btnOk", QStringLiteral("Ok"), QStringLiteral("ok"), 2);
  btnCancel_ = makeButton("btnCancel", QStringLiteral("Cancel"), QStringLiteral("cancel"), 57);
  connect(btnOk_, &QToolButton::clicked, this, &TfrmScreenShots::Ok);
  connect(btnCancel_, &QToolButton::clicked, this, &TfrmScreenShots::Cancel);
  panel_->hide();
}

QRect TfrmScreenShots::PanelGeometry() const { return panel_->geometry(); }
bool TfrmScreenShots::PanelVisible() const { return !panel_->isHidden(); }

void TfrmScreenShots::PlacePanel() {
  panel_->move(ToQPoint(PanelPosition(selection_, WindowSize())));
  panel_->show();
}

void TfrmScreenShots::SetRegionCursor(TRegionCursor cursor) {
  cursor_ = cursor;
  setCursor(ShapeOf(cursor));
}

void TfrmScreenShots::ClearSelection() {
  selection_ = {};
  handles_ = {};
}

QColor TfrmScreenShots::PixelAt(QPoint p) const {
  return picture_.valid(p) ? QColor(picture_.pixel(p)) : QColor(Qt::black);
}

QStringList TfrmScreenShots::InfoLines() const {
  const QPoint global = mapToGlobal(mouse_);
  return {QStringLiteral("Selected Region: %1×%2").arg(selection_.Width() + 1).arg(selection_.Height() + 1),
          QStringLiteral("Cursor Position: (X: %1, Y: %2)").arg(global.x()).arg(global.y()),
          RgbLine(PixelAt(mouse_))};
}

QStringList TfrmScreenShots::MagnifierLines() const {
  // No window is ever highlighted, so the region line reads 0 by 0.
  return {QStringLiteral("%1: %2×%3").arg(QStringLiteral("Region")).arg(0).arg(0), RgbLine(PixelAt(mouse_))};
}

QPoint TfrmScreenShots::InfoBoxPosition() const {
  const TRegionRect panel{panel_->x(), panel_->y(), panel_->x() + panel_->width(), panel_->y() + panel_->height()};
  return ToQPoint(vexa::InfoBoxPosition(selection_, WindowSize(), PanelVisible(), panel));
}

TRegionRect TfrmScreenShots::Magnifier() const {
  return MagnifierRect(ToRegionPoint(mouse_), WindowSize());
}

void TfrmScreenShots::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, dimmed_);
  if (state_ == ssNone) {
    DrawMagnifier(painter);
    return;
  }
  DrawSelection(painter);
  // The panel goes first so that the box above the selection makes room for it.
  if (state_ == ssSelected) PlacePanel();
  DrawInfoBox(painter);
}

void TfrmScreenShots::DrawSelection(QPainter& painter) {
  const QRect inner = ToQRect(selection_);
  if (!selection_.IsEmpty()) painter.drawImage(inner.topLeft(), picture_, inner);

  const TRegionRect outline = OutlineRect(selection_);
  painter.setPen(QPen(kBlue, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRect(QPoint(outline.left, outline.top), QPoint(outline.right, outline.bottom)).normalized());

  handles_ = HandleRects(selection_);
  painter.setPen(Qt::NoPen);
  for (const TRegionRect& h : handles_) painter.fillRect(ToQRect(h), kBlue);
}

void TfrmScreenShots::DrawInfoBox(QPainter& painter) {
  const QRect box(InfoBoxPosition(), QSize(kInfoBoxWidth, kInfoBoxHeight));
  painter.fillRect(box, kBlue);
  painter.setOpacity(kBoxAlpha / 255.0);
  painter.drawImage(box.topLeft(), picture_, box);
  painter.setOpacity(1.0);

  QFont bold = font();
  bold.setBold(true);
  bold.setPixelSize(12);
  painter.setFont(bold);
  painter.setPen(Qt::white);
  const QStringList lines = InfoLines();
  for (int i = 0; i < lines.size(); ++i) DrawTextAt(painter, box.x() + 3, box.y() + 3 + 17 * i, lines[i]);
}

void TfrmScreenShots::DrawMagnifier(QPainter& painter) {
  const QRect box = ToQRect(Magnifier());
  const QRect zoom(box.topLeft(), QSize(box.width(), box.height() - kMagnifierLabelHeight));
  const QRect label(zoom.bottomLeft() + QPoint(0, 1), QSize(box.width(), kMagnifierLabelHeight));

  // 20 x 20 pixels around the pointer, stretched without smoothing.
  const QRect source(mouse_ - QPoint(10, 10), QSize(20, 20));
  painter.fillRect(zoom, Qt::black);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(zoom, picture_, source);

  painter.setPen(QPen(kBlue, 4));
  painter.drawLine(zoom.left() + 4, zoom.top() + 52, zoom.right() + 1 - 4, zoom.top() + 52);
  painter.drawLine(zoom.left() + 67, zoom.top() + 4, zoom.left() + 67, zoom.bottom() + 1 - 4);
  painter.setPen(QPen(palette().color(QPalette::Button), 1));
  painter.drawRect(zoom.adjusted(0, 0, -1, -1));

  painter.fillRect(label, Qt::black);
  painter.setOpacity(kBoxAlpha / 255.0);
  painter.drawImage(label.topLeft(), picture_, label);
  painter.setOpacity(1.0);
  QFont small = font();
  small.setPixelSize(11);
  painter.setFont(small);
  painter.setPen(Qt::white);
  const QStringList lines = MagnifierLines();
  DrawTextAt(painter, label.x() + 3, label.y() + 2, lines[0]);
  DrawTextAt(painter, label.x() + 3, label.y() + 15, lines[1]);
}

void TfrmScreenShots::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  mouse_ = pos;
  if (event->button() != Qt::LeftButton) return;
  dragging_ = true;
  startTopLeft_ = {selection_.left, selection_.top};
  startBottomRight_ = {selection_.right, selection_.bottom};
  anchor_ = pos;
  if (state_ == ssSelected) {
    hit_ = HitTest(selection_, handles_, ToRegionPoint(pos));
    SetRegionCursor(CursorForHit(hit_));
    if (hit_ == rhInside) {
      confinement_ = MoveConfinement(ToRegionPoint(anchor_), selection_, WindowSize());
      confined_ = true;
    }
  } else {
    selection_ = {pos.x(), pos.y(), pos.x(), pos.y()};
    state_ = ssDrawing;
  }
  update();
}

void TfrmScreenShots::mouseMoveEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  if (confined_) {
    const QPoint inside = ToQPoint(ClampToConfinement(ToRegionPoint(pos), confinement_));
    if (inside != pos) {
      QCursor::setPos(mapToGlobal(inside));  // the pointer stays where the selection can follow
      pos = inside;
    }
  }
  mouse_ = pos;
  if (state_ == ssDrawing && dragging_) {
    selection_ = SpanRect(ToRegionPoint(anchor_), ToRegionPoint(pos));
  } else if (state_ == ssSelected && dragging_) {
    if (hit_ == rhInside) {
      const QPoint delta = pos - anchor_;
      selection_ = {selection_.left + delta.x(), selection_.top + delta.y(), selection_.right + delta.x(),
                    selection_.bottom + delta.y()};
      anchor_ = pos;
    } else if (hit_ != rhOutside) {
      selection_ = ResizeByHandle(hit_, startTopLeft_, startBottomRight_, ToRegionPoint(pos));
    }
  } else if (state_ == ssSelected) {
    SetRegionCursor(CursorForHit(HitTest(selection_, handles_, ToRegionPoint(pos))));
  }
  update();
}

void TfrmScreenShots::mouseReleaseEvent(QMouseEvent* event) {
  mouse_ = event->position().toPoint();
  if (event->button() == Qt::RightButton) {
    if (state_ == ssNone) {
      hide();
      if (isSignalConnected(QMetaMethod::fromSignal(&TfrmScreenShots::endApplicationRequested)))
        emit endApplicationRequested();
      else
        QCoreApplication::quit();
      return;
    }
    state_ = ssNone;
    panel_->hide();
    ClearSelection();
    SetRegionCursor(TRegionCursor::Shot);
    update();
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  dragging_ = false;
  state_ = ssSelected;
  confined_ = false;
  update();
}

void TfrmScreenShots::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Ok();
}

void TfrmScreenShots::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Cancel();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TfrmScreenShots::Ok() {
  const QPoint origin = geometry().topLeft();
  dragging_ = false;
  confined_ = false;
  hide();
  emit regionAccepted(selection_.left + origin.x(), selection_.top + origin.y(), selection_.Width(),
                      selection_.Height());
}

void TfrmScreenShots::Cancel() {
  dragging_ = false;
  confined_ = false;
  hide();
}

void TfrmScreenShots::KeepInFront() {
  if (isVisible() && !isActiveWindow()) {
    raise();
    activateWindow();
  }
}

}  // namespace vexa
