#include "core/RegionGeometry.h"

#include <algorithm>

namespace vexa {

TRegionRect NormalizeRect(const TRegionRect& r) {
  return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
          std::max(r.top, r.bottom)};
}

TRegionRect SpanRect(TRegionPoint a, TRegionPoint b) { return NormalizeRect({a.x, a.y, b.x, b.y}); }

std::array<TRegionRect, 8> HandleRects(const TRegionRect& s) {
  const int midX = s.left + s.Width() / 2;
  const int midY = s.top + s.Height() / 2;
  const TRegionPoint centres[8] = {{s.left, s.top},    {midX, s.top},    {s.right, s.top},
                                   {s.left, midY},     {s.right, midY},  {s.left, s.bottom},
                                   {midX, s.bottom},   {s.right, s.bottom}};
  const int half = kHandleSize / 2;
  std::array<TRegionRect, 8> handles;
  for (int i = 0; i < 8; ++i)
    handles[i] = {centres[i].x - half, centres[i].y - half, centres[i].x + half, centres[i].y + half};
  return handles;
}

TRegionHit HitTest(const TRegionRect& selection, const std::array<TRegionRect, 8>& handles, TRegionPoint p) {
  for (int i = 0; i < 8; ++i)
    if (handles[i].Contains(p.x, p.y)) return static_cast<TRegionHit>(i);
  return selection.Contains(p.x, p.y) ? rhInside : rhOutside;
}

TRegionCursor CursorForHit(TRegionHit hit) {
  switch (hit) {
    case rhTopLeft:
    case rhBottomRight: return TRegionCursor::SizeNwSe;
    case rhTopMiddle:
    case rhBottomMiddle: return TRegionCursor::SizeNs;
    case rhTopRight:
    case rhBottomLeft: return TRegionCursor::SizeNeSw;
    case rhMiddleLeft:
    case rhMiddleRight: return TRegionCursor::SizeWe;
    case rhInside: return TRegionCursor::Move;
    case rhOutside: break;
  }
  return TRegionCursor::Shot;
}

TRegionRect ResizeByHandle(TRegionHit handle, TRegionPoint tl, TRegionPoint br, TRegionPoint p) {
  TRegionRect r{tl.x, tl.y, br.x, br.y};
  switch (handle) {
    case rhTopLeft: r.left = p.x; r.top = p.y; break;
    case rhTopMiddle: r.top = p.y; break;
    case rhTopRight: r.right = p.x; r.top = p.y; break;
    case rhMiddleLeft: r.left = p.x; break;
    case rhMiddleRight: r.right = p.x; break;
    case rhBottomLeft: r.left = p.x; r.bottom = p.y; break;
    case rhBottomMiddle: r.bottom = p.y; break;
    case rhBottomRight: r.right = p.x; r.bottom = p.y; break;
    case rhOutside:
    case rhInside: break;
  }
  return NormalizeRect(r);
}

TRegionRect MoveConfinement(TRegionPoint anchor, const TRegionRect& s, TRegionSize window) {
  return {anchor.x - s.left, anchor.y - s.top, anchor.x + window.width - s.right,
          anchor.y + window.height - s.bottom};
}

TRegionPoint ClampToConfinement(TRegionPoint p, const TRegionRect& c) {
  // A selection larger than the window leaves no room: it stays where it is.
  const int x = c.right < c.left ? c.left : std::clamp(p.x, c.left, c.right);
  const int y = c.bottom < c.top ? c.top : std::clamp(p.y, c.top, c.bottom);
  return {x, y};
}

TRegionRect OutlineRect(const TRegionRect& s) {
  TRegionRect r = s;
  if (r.left == 0) r.left = 1;
  if (r.top == 0) r.top = 1;
  if (r.right == 0) r.right = -1;
  if (r.bottom == 0) r.bottom = -1;
  return r;
}

TRegionPoint PanelPosition(const TRegionRect& s, TRegionSize window) {
  const int left = std::max(0, s.right - kPanelWidth - 6);
  int top;
  if (window.height >= s.bottom + kPanelHeight + 6)
    top = s.bottom + 6;
  else if (s.top - 6 >= kPanelHeight)
    top = s.top - kPanelHeight - 6;
  else
    top = s.top + 6;
  return {left, top};
}

TRegionPoint InfoBoxPosition(const TRegionRect& s, TRegionSize window, bool panelVisible,
                             const TRegionRect& panel) {
  int x = s.left + 6;
  if (window.width < s.left + 246) x = s.left - 246;
  int y = s.top - 64;
  if (panelVisible && panel.top < s.top) y -= kPanelHeight + 6;
  if (y < 0) {
    y = s.top + 6;
    // A panel placed inside the selection sits there too: the box goes below it.
    const bool overlaps = x < panel.right && panel.left < x + kInfoBoxWidth && y < panel.bottom &&
                          panel.top < y + kInfoBoxHeight;
    if (panelVisible && overlaps) y = panel.bottom + 6;
  }
  return {x, y};
}

TRegionRect MagnifierRect(TRegionPoint p, TRegionSize desktop) {
  TRegionRect r{p.x + 15, p.y + 25, p.x + 15 + kMagnifierSize, p.y + 25 + kMagnifierSize};
  if (r.bottom > desktop.height) {
    r.top -= kMagnifierSize + 20;
    r.bottom -= kMagnifierSize + 20;
  }
  if (r.right > desktop.width) {
    r.left -= kMagnifierSize + 20;
    r.right -= kMagnifierSize + 20;
  }
  return r;
}

}  // namespace vexa
