#include "core/RegionPreset.h"

namespace vexa::app {

namespace {

int CenteredOrigin(int size, int screenSize) { return size < screenSize ? screenSize / 2 - size / 2 : 0; }

}  // namespace

TPresetRegion ApplyRegionPreset(int preset, const TPresetRegion& current, int screenWidth, int screenHeight) {
  TPresetRegion result = current;
  switch (preset) {
    case rpFullScreen:
      result = {0, 0, screenWidth, screenHeight};
      break;
    case rpCenter:
      result.Left = CenteredOrigin(current.Width, screenWidth);
      result.Top = CenteredOrigin(current.Height, screenHeight);
      break;
    default:
      break;
  }
  return result;
}

}  // namespace vexa::app
