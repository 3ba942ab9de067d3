#pragma once
// Geometry of the region selection window: the selection rectangle, its
// handles, hit testing, resizing and moving, and where the information box,
// the magnifier and the button panel go. All coordinates are window pixels.

#include <array>

namespace vexa {

// A rectangle by its edges; right and bottom are exclusive, as the region
// fields take them (width = right - left).
struct TRegionRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const TRegionRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const TRegionRect& o) const { return !(*this == o); }
};

struct TRegionPoint {
  int x = 0;
  int y = 0;
  bool operator==(const TRegionPoint& o) const { return x == o.x && y == o.y; }
};

struct TRegionSize {
  int width = 0;
  int height = 0;
};

// What a point of the selection is: a handle (0-7, in the order top-left,
// top-middle, top-right, middle-left, middle-right, bottom-left,
// bottom-middle, bottom-right), outside or inside.
enum TRegionHit : int {
  rhTopLeft = 0,
  rhTopMiddle = 1,
  rhTopRight = 2,
  rhMiddleLeft = 3,
  rhMiddleRight = 4,
  rhBottomLeft = 5,
  rhBottomMiddle = 6,
  rhBottomRight = 7,
  rhOutside = 8,
  rhInside = 9,
};

// The pointer shape shown for a hit.
enum class TRegionCursor { Shot, SizeNwSe, SizeNs, SizeNeSw, SizeWe, Move };

constexpr int kHandleSize = 6;
constexpr int kPanelWidth = 113;
constexpr int kPanelHeight = 28;
constexpr int kInfoBoxWidth = 240;
constexpr int kInfoBoxHeight = 58;
constexpr int kMagnifierSize = 130;
constexpr int kMagnifierLabelHeight = 30;

// Left <= right and top <= bottom.
TRegionRect NormalizeRect(const TRegionRect& r);
// The rectangle spanned by two corners, normalised.
TRegionRect SpanRect(TRegionPoint a, TRegionPoint b);

// The eight handle squares of a selection.
std::array<TRegionRect, 8> HandleRects(const TRegionRect& selection);
// Inside / outside, then the first handle containing the point wins.
TRegionHit HitTest(const TRegionRect& selection, const std::array<TRegionRect, 8>& handles, TRegionPoint p);
TRegionCursor CursorForHit(TRegionHit hit);

// The selection while a handle is dragged: the handle's corner or edge follows
// the pointer, everything else keeps the place it had when the drag began.
TRegionRect ResizeByHandle(TRegionHit handle, TRegionPoint startTopLeft, TRegionPoint startBottomRight,
                           TRegionPoint pointer);

// Where the pointer may go while the selection is moved so that the selection
// stays inside a window of the given size (both ends inclusive).
TRegionRect MoveConfinement(TRegionPoint anchor, const TRegionRect& selection, TRegionSize window);
TRegionPoint ClampToConfinement(TRegionPoint p, const TRegionRect& confinement);

// The selection outline: an edge at coordinate 0 moves one pixel so the pen
// stays visible.
TRegionRect OutlineRect(const TRegionRect& selection);

// Top-left of the button panel below, above or inside the selection.
TRegionPoint PanelPosition(const TRegionRect& selection, TRegionSize window);
// Top-left of the information box; panel is the panel's rectangle when shown.
TRegionPoint InfoBoxPosition(const TRegionRect& selection, TRegionSize window, bool panelVisible,
                             const TRegionRect& panel);
// The magnifier box (130 x 130) near the pointer, kept on the desktop.
TRegionRect MagnifierRect(TRegionPoint pointer, TRegionSize desktop);

}  // namespace vexa
