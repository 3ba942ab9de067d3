#include "ui/ScreenShotMain.h"

#include "AppUi/UiTestSupport.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace vexa {
namespace {

using namespace testing_ui;

class ScreenShotMainTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(); }

  void Open() {
    window_ = std::make_unique<TfrmScreenShots>();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  // A selection drawn from one corner to the other, then released.
  void Select(QPoint from, QPoint to) { Drag(window_.get(), from, to); }

  QList<int> Accepted(QSignalSpy& spy) {
    EXPECT_EQ(spy.count(), 1);
    if (spy.isEmpty()) return {};
    QList<int> values;
    for (const QVariant& v : spy.first()) values << v.toInt();
    return values;
  }

  std::unique_ptr<TfrmScreenShots> window_;
};

TEST_F(ScreenShotMainTest, CoversTheDesktopDimmedWithTheMagnifierAtFirst) {
  EXPECT_EQ(window_->geometry(), QGuiApplication::primaryScreen()->virtualGeometry());
  EXPECT_EQ(window_->Picture().size(), window_->size());
  EXPECT_EQ(window_->State(), TfrmScreenShots::ssNone);
  EXPECT_EQ(window_->cursor().shape(), Qt::CrossCursor);
  EXPECT_FALSE(window_->PanelVisible());
  Move(window_.get(), {400, 300});
  EXPECT_EQ(window_->Magnifier(), (TRegionRect{415, 325, 545, 455}));
  EXPECT_EQ(window_->MagnifierLines().first(), QStringLiteral("Region: 0×0"));
  SaveScreenshot(window_.get(), QStringLiteral("region-0-nothing-selected"));
}

TEST_F(ScreenShotMainTest, AClickWithoutDragSelectsOnePixelAndOkWritesZeroSize) {
  QSignalSpy accepted(window_.get(), &TfrmScreenShots::regionAccepted);
  Press(window_.get(), {300, 200});
  EXPECT_EQ(window_->State(), TfrmScreenShots::ssDrawing);
  Release(window_.get(), {300, 200});
  EXPECT_EQ(window_->State(), TfrmScreenShots::ssSelected);
  EXPECT_EQ(window_->InfoLines().first(), QStringLiteral("Selected Region: 1×1"));
  window_->repaint();
  window_->Ok();
  EXPECT_EQ(Accepted(accepted), (QList<int>{300, 200, 0, 0}));
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(ScreenShotMainTest, DraggingEitherWayGivesTheSameSelection) {
  Select({500, 400}, {200, 150});
  const TRegionRect backwards = window_->Selection();
  Open();
  Select({200, 150}, {500, 400});
  EXPECT_EQ(backwards, window_->Selection());
  EXPECT_EQ(backwards, (TRegionRect{200, 150, 500, 400}));
  EXPECT_EQ(window_->InfoLines().first(), QStringLiteral("Selected Region: 301×251"));
}

TEST_F(ScreenShotMainTest, DrawingShowsTheSelectionBeforeTheButtonIsReleased) {
  Press(window_.get(), {200, 150});
  Move(window_.get(), {420, 330}, Qt::LeftButton);
  EXPECT_EQ(window_->State(), TfrmScreenShots::ssDrawing);
  EXPECT_EQ(window_->Selection(), (TRegionRect{200, 150, 420, 330}));
  EXPECT_EQ(window_->InfoLines()[1], QStringLiteral("Cursor Position: (X: 420, Y: 330)"));
  SaveScreenshot(window_.get(), QStringLiteral("region-1-drawing"));
  EXPECT_FALSE(window_->PanelVisible());
  Release(window_.get(), {420, 330});
  window_->repaint();
  EXPECT_TRUE(window_->PanelVisible());
  EXPECT_EQ(window_->PanelGeometry(), QRect(301, 336, 113, 28));
  EXPECT_EQ(window_->InfoBoxPosition(), QPoint(206, 86));
  SaveScreenshot(window_.get(), QStringLiteral("region-2-selected"));
}

TEST_F(ScreenShotMainTest, TheTopLeftHandleDraggedPastTheOtherCornerFlipsAndStaysTheSameHandle) {
  Select({100, 100}, {300, 200});
  window_->repaint();  // the handles are those of the last paint
  Move(window_.get(), {100, 100});
  EXPECT_EQ(window_->cursor().shape(), Qt::SizeFDiagCursor);
  Press(window_.get(), {100, 100});
  EXPECT_EQ(window_->Hit(), rhTopLeft);
  Move(window_.get(), {400, 250}, Qt::LeftButton);
  window_->repaint();
  EXPECT_EQ(window_->Selection(), (TRegionRect{300, 200, 400, 250}));
  Move(window_.get(), {350, 260}, Qt::LeftButton);
  EXPECT_EQ(window_->Hit(), rhTopLeft);
  EXPECT_EQ(window_->Selection(), (TRegionRect{300, 200, 350, 260}));
  Move(window_.get(), {120, 90}, Qt::LeftButton);
  EXPECT_EQ(window_->Selection(), (TRegionRect{120, 90, 300, 200}));
  Release(window_.get(), {120, 90});
  EXPECT_EQ(window_->State(), TfrmScreenShots::ssSelected);
}

TEST_F(ScreenShotMainTest, AnEdgeHandleMovesOnlyItsEdge) {
  Select({100, 100}, {300, 200});
  window_->repaint();
  Press(window_.get(), {300, 150});
  EXPECT_EQ(window_->Hit(), rhMiddleRight);
  Move(window_.get(), {500, 999}, Qt::LeftButton);
  Release(window_.get(), {500, 999});
  EXPECT_EQ(window_->Selection(), (TRegionRect{100, 100, 500, 200}));
}

TEST_F(ScreenShotMainTest, MovingAgainstTheWindowEdgesStopsAtTheEdges) {
  Select({100, 100}, {300, 200});
  window_->repaint();
  Move(window_.get(), {150, 150});
  EXPECT_EQ(window_->cursor().shape(), Qt::SizeAllCursor);
  Press(window_.get(), {150, 150});
  EXPECT_EQ(window_->Hit(), rhInside);
  Move(window_.get(), {170, 160}, Qt::LeftButton);
  EXPECT_EQ(window_->Selection(), (TRegionRect{120, 110, 320, 210}));
  Move(window_.get(), {-400, -300}, Qt::LeftButton);
  EXPECT_EQ(window_->Selection(), (TRegionRect{0, 0, 200, 100}));
  const int w = window_->width(), h = window_->height();
  Move(window_.get(), {w + 500, h + 500}, Qt::LeftButton);
  EXPECT_EQ(window_->Selection(), (TRegionRect{w - 200, h - 100, w, h}));
  // Coming back moves the selection at once.
  Move(window_.get(), {w - 200 + 50 - 10, h - 100 + 50}, Qt::LeftButton);
  EXPECT_EQ(window_->Selection().right, w - 10);
  Release(window_.get(), {w - 160, h - 50});
}

TEST_F(ScreenShotMainTest, ASelectionOnTheWholeHeightGetsThePanelInsideBelowItsTop) {
  const int h = window_->height();
  Select({600, h}, {800, 10});
  window_->repaint();
  EXPECT_EQ(window_->PanelGeometry().topLeft(), QPoint(800 - 113 - 6, 16));
  EXPECT_EQ(window_->InfoBoxPosition(), QPoint(606, 16 + 28 + 6));
  SaveScreenshot(window_.get(), QStringLiteral("region-2-panel-inside"));
  Open();
  Select({600, h - 20}, {800, 300});
  window_->repaint();
  EXPECT_EQ(window_->PanelGeometry().topLeft(), QPoint(681, 300 - 28 - 6));
  // The information box makes room for the panel above the selection.
  EXPECT_EQ(window_->InfoBoxPosition(), QPoint(606, 300 - 64 - 34));
}

TEST_F(ScreenShotMainTest, RightClickClearsTheSelectionAndWithNothingSelectedEndsTheProgram) {
  QSignalSpy end(window_.get(), &TfrmScreenShots::endApplicationRequested);
  Select({100, 100}, {300, 200});
  window_->repaint();
  Press(window_.get(), {150, 150}, Qt::RightButton);
  Release(window_.get(), {150, 150}, Qt::RightButton);
  EXPECT_EQ(window_->State(), TfrmScreenShots::ssNone);
  EXPECT_TRUE(window_->Selection().IsEmpty());
  EXPECT_FALSE(window_->PanelVisible());
  EXPECT_EQ(window_->cursor().shape(), Qt::CrossCursor);
  EXPECT_EQ(end.count(), 0);
  Release(window_.get(), {150, 150}, Qt::RightButton);
  EXPECT_EQ(end.count(), 1);
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(ScreenShotMainTest, DoubleClickAndTheOkButtonAcceptAndCancelDoesNot) {
  QSignalSpy accepted(window_.get(), &TfrmScreenShots::regionAccepted);
  Select({100, 120}, {340, 300});
  window_->repaint();
  auto* cancel = window_->findChild<QToolButton*>(QStringLiteral("btnCancel"));
  auto* ok = window_->findChild<QToolButton*>(QStringLiteral("btnOk"));
  ASSERT_TRUE(cancel && ok);
  EXPECT_EQ(ok->text(), QStringLiteral("Ok"));
  EXPECT_EQ(ok->toolTip(), QStringLiteral("ok"));
  EXPECT_EQ(cancel->toolTip(), QStringLiteral("cancel"));
  EXPECT_EQ(ok->geometry(), QRect(2, 2, 55, 25));
  EXPECT_EQ(cancel->geometry(), QRect(57, 2, 55, 25));
  QTest::mouseClick(cancel, Qt::LeftButton);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(accepted.count(), 0);

  Open();
  QSignalSpy byButton(window_.get(), &TfrmScreenShots::regionAccepted);
  Select({100, 120}, {340, 300});
  window_->repaint();
  QTest::mouseClick(window_->findChild<QToolButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
  EXPECT_EQ(Accepted(byButton), (QList<int>{100, 120, 240, 180}));

  Open();
  QSignalSpy byDoubleClick(window_.get(), &TfrmScreenShots::regionAccepted);
  Select({100, 120}, {340, 300});
  window_->repaint();
  SendMouse(window_.get(), QEvent::MouseButtonDblClick, {200, 200}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(Accepted(byDoubleClick), (QList<int>{100, 120, 240, 180}));
  EXPECT_FALSE(window_->isVisible());
}

TEST(ScreenShotMainSnapshot, TheRgbLinesReadTheSnapshotUnderThePointer) {
  QWidget paint;
  paint.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint);
  paint.setAutoFillBackground(true);
  QPalette pal = paint.palette();
  pal.setColor(QPalette::Window, QColor(12, 200, 34));
  paint.setPalette(pal);
  paint.setGeometry(600, 400, 200, 150);
  paint.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&paint));
  QTest::qWait(200);

  TfrmScreenShots window;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  paint.hide();
  Move(&window, {700, 480});
  EXPECT_EQ(window.MagnifierLines()[1], QStringLiteral("RGB: (12, 200, 34)"));
  SaveScreenshot(&window, QStringLiteral("region-0-magnifier-on-colour"));
  Drag(&window, {650, 450}, {710, 490});
  EXPECT_EQ(window.InfoLines()[2], QStringLiteral("RGB: (12, 200, 34)"));
  Move(&window, {100, 100});
  EXPECT_NE(window.InfoLines()[2], QStringLiteral("RGB: (12, 200, 34)"));
  // The selection is shown undimmed, the rest dimmed to 150 of 255.
  window.repaint();
  const QImage shown = window.grab().toImage();
  EXPECT_EQ(QColor(shown.pixel(680, 470)), QColor(12, 200, 34));
  EXPECT_EQ(QColor(shown.pixel(620, 420)), QColor(12 * 150 / 255, 200 * 150 / 255, 34 * 150 / 255));
}

}  // namespace
}  // namespace vexa
