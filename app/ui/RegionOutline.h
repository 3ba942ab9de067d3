// The green outline that shows the capture region on the desktop.
//
// A frameless, always-on-top tool window without a taskbar entry, shaped into
// a ring of width b: outer bounds (left, top, W + 2b, H + 2b), the inner
// rectangle from (b, b) to (W + b, H + b) cut out. Clicks pass through it. At
// most one outline exists in the process: showing a new one closes the old.
#pragma once

class QWidget;

namespace vexa::app {

// Closes the current outline (if any) and shows a new one.
void ShowRegionOutline(int left, int top, int width, int height, int border);

// Closes and releases the current outline, if any.
void CloseRegionOutline();

// The current outline, or null (tests read its geometry and shape back).
QWidget* CurrentRegionOutline();

}  // namespace vexa::app
