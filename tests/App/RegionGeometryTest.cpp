#include "core/RegionGeometry.h"

#include <gtest/gtest.h>

namespace vexa {
namespace {

TEST(RegionGeometry, SpanningTwoCornersGivesTheSameRectangleInEitherOrder) {
  EXPECT_EQ(SpanRect({300, 200}, {100, 50}), (TRegionRect{100, 50, 300, 200}));
  EXPECT_EQ(SpanRect({100, 50}, {300, 200}), (TRegionRect{100, 50, 300, 200}));
  EXPECT_EQ(SpanRect({100, 200}, {300, 50}), (TRegionRect{100, 50, 300, 200}));
}

TEST(RegionGeometry, HandlesSitAtCornersAndTruncatedMidpoints) {
  const auto h = HandleRects({10, 20, 111, 61});  // 101 x 41: midpoints 60 and 40
  EXPECT_EQ(h[rhTopLeft], (TRegionRect{7, 17, 13, 23}));
  EXPECT_EQ(h[rhTopMiddle], (TRegionRect{57, 17, 63, 23}));
  EXPECT_EQ(h[rhTopRight], (TRegionRect{108, 17, 114, 23}));
  EXPECT_EQ(h[rhMiddleLeft], (TRegionRect{7, 37, 13, 43}));
  EXPECT_EQ(h[rhMiddleRight], (TRegionRect{108, 37, 114, 43}));
  EXPECT_EQ(h[rhBottomLeft], (TRegionRect{7, 58, 13, 64}));
  EXPECT_EQ(h[rhBottomMiddle], (TRegionRect{57, 58, 63, 64}));
  EXPECT_EQ(h[rhBottomRight], (TRegionRect{108, 58, 114, 64}));
}

TEST(RegionGeometry, HitTestPrefersHandlesThenInsideThenOutside) {
  const TRegionRect sel{100, 100, 300, 200};
  const auto handles = HandleRects(sel);
  const struct {
    TRegionPoint p;
    TRegionHit hit;
    TRegionCursor cursor;
  } cases[] = {
      {{98, 98}, rhTopLeft, TRegionCursor::SizeNwSe},     {{102, 102}, rhTopLeft, TRegionCursor::SizeNwSe},
      {{200, 100}, rhTopMiddle, TRegionCursor::SizeNs},   {{300, 100}, rhTopRight, TRegionCursor::SizeNeSw},
      {{100, 150}, rhMiddleLeft, TRegionCursor::SizeWe},  {{302, 150}, rhMiddleRight, TRegionCursor::SizeWe},
      {{100, 200}, rhBottomLeft, TRegionCursor::SizeNeSw}, {{200, 199}, rhBottomMiddle, TRegionCursor::SizeNs},
      {{297, 197}, rhBottomRight, TRegionCursor::SizeNwSe}, {{150, 150}, rhInside, TRegionCursor::Move},
      {{299, 130}, rhInside, TRegionCursor::Move},         {{300, 120}, rhOutside, TRegionCursor::Shot},
      {{50, 50}, rhOutside, TRegionCursor::Shot},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.p.x << "," << c.p.y);
    const TRegionHit hit = HitTest(sel, handles, c.p);
    EXPECT_EQ(hit, c.hit);
    EXPECT_EQ(CursorForHit(hit), c.cursor);
  }
}

TEST(RegionGeometry, HandlesMoveTheirCornerOrEdgeAndTheResultIsNormalised) {
  const TRegionPoint tl{100, 100}, br{300, 200};
  const struct {
    TRegionHit handle;
    TRegionPoint pointer;
    TRegionRect expected;
  } cases[] = {
      {rhTopLeft, {50, 60}, {50, 60, 300, 200}},
      {rhTopLeft, {400, 250}, {300, 200, 400, 250}},  // dragged past the opposite corner: flipped
      {rhTopMiddle, {10, 250}, {100, 200, 300, 250}},
      {rhTopRight, {350, 90}, {100, 90, 350, 200}},
      {rhMiddleLeft, {120, 999}, {120, 100, 300, 200}},
      {rhMiddleRight, {20, 0}, {20, 100, 100, 200}},
      {rhBottomLeft, {90, 210}, {90, 100, 300, 210}},
      {rhBottomMiddle, {0, 40}, {100, 40, 300, 100}},
      {rhBottomRight, {301, 201}, {100, 100, 301, 201}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.handle);
    EXPECT_EQ(ResizeByHandle(c.handle, tl, br, c.pointer), c.expected);
  }
}

TEST(RegionGeometry, ConfinementKeepsAMovedSelectionInsideTheWindow) {
  const TRegionRect sel{100, 100, 300, 200};
  const TRegionRect c = MoveConfinement({150, 120}, sel, {1000, 800});
  EXPECT_EQ(c, (TRegionRect{50, 20, 850, 720}));
  // The far ends put the selection exactly against the window edges.
  const TRegionPoint low = ClampToConfinement({-500, -500}, c), high = ClampToConfinement({5000, 5000}, c);
  EXPECT_EQ(sel.left + low.x - 150, 0);
  EXPECT_EQ(sel.top + low.y - 120, 0);
  EXPECT_EQ(sel.right + high.x - 150, 1000);
  EXPECT_EQ(sel.bottom + high.y - 120, 800);
  // A selection as wide as the window cannot move sideways.
  const TRegionRect full = MoveConfinement({500, 400}, {0, 100, 1000, 200}, {1000, 800});
  EXPECT_EQ(ClampToConfinement({700, 400}, full).x, 500);
}

TEST(RegionGeometry, OutlineMovesEdgesAtZeroByOnePixel) {
  EXPECT_EQ(OutlineRect({0, 0, 50, 60}), (TRegionRect{1, 1, 50, 60}));
  EXPECT_EQ(OutlineRect({5, 6, 50, 60}), (TRegionRect{5, 6, 50, 60}));
  EXPECT_EQ(OutlineRect({0, 0, 0, 0}), (TRegionRect{1, 1, -1, -1}));
}

TEST(RegionGeometry, PanelGoesBelowAboveOrInsideTheSelection) {
  const TRegionSize window{1280, 1024};
  EXPECT_EQ(PanelPosition({100, 100, 400, 300}, window), (TRegionPoint{281, 306}));
  // No room below (bottom + 28 + 6 > 1024): above the top.
  EXPECT_EQ(PanelPosition({100, 500, 400, 1000}, window), (TRegionPoint{281, 466}));
  // Touching the bottom with no room above: inside, 6 below the top.
  EXPECT_EQ(PanelPosition({100, 33, 400, 1024}, window), (TRegionPoint{281, 39}));
  EXPECT_EQ(PanelPosition({100, 34, 400, 1024}, window), (TRegionPoint{281, 0}));
  // A narrow selection near the left edge keeps the panel on screen.
  EXPECT_EQ(PanelPosition({0, 100, 50, 200}, window), (TRegionPoint{0, 206}));
}

TEST(RegionGeometry, InfoBoxSitsAboveTheSelectionAndMakesRoomForThePanel) {
  const TRegionSize window{1280, 1024};
  const TRegionRect sel{100, 200, 400, 300};
  EXPECT_EQ(InfoBoxPosition(sel, window, false, {}), (TRegionPoint{106, 136}));
  EXPECT_EQ(InfoBoxPosition(sel, window, true, {281, 306, 394, 334}), (TRegionPoint{106, 136}));
  EXPECT_EQ(InfoBoxPosition(sel, window, true, {281, 166, 394, 194}), (TRegionPoint{106, 102}));
  // No room above: inside below the top; near the right edge: to the left.
  EXPECT_EQ(InfoBoxPosition({100, 40, 400, 300}, window, false, {}), (TRegionPoint{106, 46}));
  EXPECT_EQ(InfoBoxPosition({1100, 200, 1200, 300}, window, false, {}), (TRegionPoint{854, 136}));
  // With the panel inside the selection as well, the box goes below the panel.
  const TRegionRect tall{600, 10, 800, 1024};
  const TRegionPoint panel = PanelPosition(tall, window);
  EXPECT_EQ(InfoBoxPosition(tall, window, true, {panel.x, panel.y, panel.x + 113, panel.y + 28}),
            (TRegionPoint{606, 16 + 28 + 6}));
}

TEST(RegionGeometry, MagnifierStaysOnTheDesktop) {
  const TRegionSize desktop{1280, 1024};
  EXPECT_EQ(MagnifierRect({100, 100}, desktop), (TRegionRect{115, 125, 245, 255}));
  EXPECT_EQ(MagnifierRect({1200, 1000}, desktop), (TRegionRect{1065, 875, 1195, 1005}));
  EXPECT_EQ(MagnifierRect({1135, 869}, desktop), (TRegionRect{1150, 894, 1280, 1024}));
}

}  // namespace
}  // namespace vexa
