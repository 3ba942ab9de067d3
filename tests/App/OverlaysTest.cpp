#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QGuiApplication>
#include <QTemporaryDir>

#include "App/RecordingTestSupport.h"
#include "core/Overlays.h"

using namespace vexa;
using vexa::test::Near;
using vexa::test::Rgb;

namespace {

TEST(OverlayGeometryTest, NinePositionsWithMarginFive) {
  // A 40 x 16 text on a 640 x 480 frame.
  const QPoint expected[] = {{5, 5},   {300, 5},   {595, 5},   {5, 232},  {300, 232},
                             {595, 232}, {5, 459}, {300, 459}, {595, 459}};
  for (int p = 1; p <= 9; ++p) {
    QPoint place;
    ASSERT_TRUE(OverlayPlace(p, 640, 480, 40, 16, place));
    EXPECT_EQ(place, expected[p - 1]) << "position " << p;
  }
  QPoint kept(7, 8);
  EXPECT_FALSE(OverlayPlace(0, 640, 480, 40, 16, kept));
  EXPECT_FALSE(OverlayPlace(10, 640, 480, 40, 16, kept));
  EXPECT_EQ(kept, QPoint(7, 8));
  EXPECT_EQ(CentreOffset(801, 100), 350);  // trunc(400.5 - 50)
  EXPECT_EQ(CentreOffset(10, 11), 0);      // trunc(-0.5) is 0
  // The fit test: narrower and lower than the frame.
  EXPECT_TRUE(OverlayFits(640, 480, 638, 16));
  EXPECT_FALSE(OverlayFits(640, 480, 639, 16));
  EXPECT_FALSE(OverlayFits(640, 480, 640, 16));
  EXPECT_FALSE(OverlayFits(640, 480, 40, 479));
  QPoint right;
  OverlayPlace(9, 640, 480, 638, 16, right);
  EXPECT_EQ(right.x(), -3);
}

TEST(OverlayGeometryTest, TimestampText) {
  EXPECT_EQ(TimestampText(QStringLiteral("Recording "), QTime(9, 5, 7, 42)), QStringLiteral("Recording  09:05:07:42"));
  EXPECT_EQ(FormatTimestamp(QTime(23, 59, 59, 999)), QStringLiteral("23:59:59:999"));
  EXPECT_EQ(FormatTimestamp(QTime(0, 0, 0, 5)), QStringLiteral("00:00:00:05"));
  EXPECT_EQ(FormatTimestamp(QTime(12, 0, 1, 100)), QStringLiteral("12:00:01:100"));
  EXPECT_EQ(TimestampText(QString(), QTime(1, 2, 3, 40)), QStringLiteral(" 01:02:03:40"));
}

TEST(OverlayGeometryTest, FontsFromTheSettings) {
  TOverlayFontSpec spec;  // never chosen: all four styles, the default face and size
  QFont font = MakeOverlayFont(spec);
  EXPECT_TRUE(font.bold() && font.italic() && font.underline() && font.strikeOut());
  EXPECT_EQ(font.family(), QGuiApplication::font().family());
  EXPECT_EQ(font.pointSize(), QGuiApplication::font().pointSize());
  spec.Bold = spec.Italic = spec.Underline = spec.StrikeOut = false;
  spec.Size = 31;
  font = MakeOverlayFont(spec);
  EXPECT_FALSE(font.bold() || font.italic() || font.underline() || font.strikeOut());
  EXPECT_EQ(font.pointSize(), 31);

  QTemporaryDir dir;
  TIniFile ini(dir.filePath("s.ini"));
  EXPECT_FALSE(LoadOverlayParams(ini).HookEnabled());
  ini.WriteBool("settings", "chkAddText", true);
  EXPECT_FALSE(LoadOverlayParams(ini).HookEnabled()) << "an empty text draws nothing";
  ini.WriteString("settings", "edtAddText", "x");
  EXPECT_TRUE(LoadOverlayParams(ini).HookEnabled());
  ini.WriteBool("settings", "chkAddText", false);
  ini.WriteBool("settings", "chkAddTimestamp", true);
  TOverlayParams params = LoadOverlayParams(ini);
  EXPECT_TRUE(params.HookEnabled()) << "an empty prefix still draws the time";
  ini.WriteString("timestampoptions", "position", "7");
  ini.WriteBool("timestampoptions", "baddtimestampbkcolor", true);
  ini.WriteString("timestampoptions", "backgroundcolor", "clYellow");
  ini.WriteBool("fontoptions", "baddtextbkcolor", true);  // the other section's key
  params = LoadOverlayParams(ini);
  EXPECT_EQ(params.Timestamp.Position, 7);
  EXPECT_TRUE(params.Timestamp.BackgroundOn);
  EXPECT_EQ(params.Timestamp.Background, QColor(255, 255, 0));
  EXPECT_TRUE(params.Text.BackgroundOn);
}

// The bounding box of the pixels of AImage that are not ABackground.
QRect Changed(const QImage& AImage, unsigned ABackground) {
  QRect box;
  for (int y = 0; y < AImage.height(); ++y)
    for (int x = 0; x < AImage.width(); ++x)
      if (!Near(Rgb(AImage, x, y), ABackground, 8)) box |= QRect(x, y, 1, 1);
  return box;
}

class OverlayPaintTest : public testing::Test {
 protected:
  OverlayPaintTest() {
    Frame.fill(QColor(0, 0, 255));
    TOverlayParams params;
    params.Text.On = true;
    params.Text.Text = QStringLiteral("Vexa");
    params.Text.Font.Color = QColor(255, 255, 255);
    params.Text.BackgroundOn = true;
    params.Text.Background = QColor(255, 0, 0);
    Painter.SetParams(params);
  }
  QSize TextSize(const QString& text, const TOverlayFontSpec& font) {
    const QFontMetrics m(MakeOverlayFont(font), &Frame);
    return QSize(m.horizontalAdvance(text), m.height());
  }
  QImage Frame{320, 240, QImage::Format_RGB32};
  TOverlayPainter Painter;
};

TEST_F(OverlayPaintTest, BackgroundCellAtEachPosition) {
  TOverlayParams params = Painter.Params();
  const QSize size = TextSize(params.Text.Text, params.Text.Font);
  for (int p = 1; p <= 9; ++p) {
    params.Text.Position = p;
    Painter.SetParams(params);
    Frame.fill(QColor(0, 0, 255));
    Painter.PaintFrame(Frame, 1);
    QPoint place;
    OverlayPlace(p, 320, 240, size.width(), size.height(), place);
    EXPECT_EQ(Changed(Frame, 0x0000FF), QRect(place, size)) << "position " << p;
    EXPECT_EQ(Painter.TextPlace(), place);
    EXPECT_TRUE(Near(Rgb(Frame, place.x(), place.y() + size.height() - 1), 0xFF0000, 8)) << p;
  }
}

TEST_F(OverlayPaintTest, NoBackgroundDrawsOnlyGlyphsAndTooWideTextNothing) {
  TOverlayParams params = Painter.Params();
  params.Text.BackgroundOn = false;
  Painter.SetParams(params);
  Painter.PaintFrame(Frame, 1);
  const QRect box = Changed(Frame, 0x0000FF);
  ASSERT_FALSE(box.isEmpty());
  for (int y = box.top(); y <= box.bottom(); ++y)
    for (int x = box.left(); x <= box.right(); ++x) ASSERT_FALSE(Near(Rgb(Frame, x, y), 0xFF0000, 60));

  params.Text.Text = QString(200, QLatin1Char('W'));
  Painter.SetParams(params);
  Frame.fill(QColor(0, 0, 255));
  Painter.PaintFrame(Frame, 1);
  EXPECT_TRUE(Changed(Frame, 0x0000FF).isEmpty());
  // Tiny frames are skipped; W and H come from frame 1 only.
  QImage tiny(5, 40, QImage::Format_RGB32);
  tiny.fill(Qt::blue);
  params.Text.Text = QStringLiteral("a");
  Painter.SetParams(params);
  Painter.PaintFrame(tiny, 1);
  EXPECT_TRUE(Changed(tiny, 0x0000FF).isEmpty());
  EXPECT_EQ(Painter.FrameWidth(), 5);
}

TEST_F(OverlayPaintTest, TimestampOverTheTextFromTheClock) {
  TOverlayParams params = Painter.Params();
  params.Text.Position = 5;
  params.Timestamp.On = true;
  params.Timestamp.Text = QStringLiteral("T");
  params.Timestamp.Position = 5;
  params.Timestamp.BackgroundOn = true;
  params.Timestamp.Background = QColor(0, 255, 0);
  Painter.SetParams(params);
  Painter.SetClock([] { return QTime(9, 5, 7, 42); });
  Painter.PaintFrame(Frame, 1);
  const QSize stamp = TextSize(QStringLiteral("T 09:05:07:42"), params.Timestamp.Font);
  QPoint place;
  OverlayPlace(5, 320, 240, stamp.width(), stamp.height(), place);
  EXPECT_EQ(Painter.TimestampPlace(), place);
  // The timestamp's cell covers the text's (drawn later, on top).
  EXPECT_TRUE(Near(Rgb(Frame, 160, place.y() + stamp.height() - 1), 0x00FF00, 8));
  const QRect box = Changed(Frame, 0x0000FF);
  EXPECT_TRUE(box.contains(QRect(place, stamp)));
}

}  // namespace
