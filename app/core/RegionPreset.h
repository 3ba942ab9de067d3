// The region presets of the main window: what each preset does to the four
// region fields.
#pragma once

namespace vexa::app {

enum TRegionPreset : int { rpCustomize = 0, rpFullScreen = 1, rpCenter = 2 };

struct TPresetRegion {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// The region after choosing `preset` on a screen of screenWidth x screenHeight
// pixels, starting from `current` (the fields' values). Customize and unknown
// indices leave the region as it is; Full Screen takes the whole screen;
// Center keeps the size and centres it, putting an axis at 0 when the size
// does not fit into the screen on that axis.
TPresetRegion ApplyRegionPreset(int preset, const TPresetRegion& current, int screenWidth, int screenHeight);

}  // namespace vexa::app
