#include "shell/windows/zoom_steps.h"

#include <algorithm>

#include "core/settings.h"
#include "store/image_store.h"

namespace astrelon {

TWindowArea MainWindowArea;

int ZoomCodePercent(int code) {
  switch (code) {
    case -5: return 17;
    case -4: return 35;
    case -3: return 70;
    case -2: return 25;
    case -1: return 50;
    case 1: return 100;
    case 2: return 200;
    case 3: return 400;
    case 4: return 140;
    case 5: return 280;
    default: return 100;
  }
}

int CurrentZoomCode() {
  const int entry = Settings.ZoomEntry;
  return entry >= 0 && entry < ZoomListCount ? ZoomListCodes[size_t(entry)] : 0;
}

int ZoomStepUp(int percent) {
  for (int s : ZoomSteps)
    if (s > percent) return s;
  return ZoomSteps.back();
}

int ZoomStepDown(int percent) {
  for (auto it = ZoomSteps.rbegin(); it != ZoomSteps.rend(); ++it)
    if (*it < percent) return *it;
  return ZoomSteps.front();
}

int MaxZoomStepForSize(int32_t width, int32_t height) {
  // 3270000 / side is the largest percent that keeps the side below 32,700 pixels.
  const double limitX = width > 0 ? 3270000.0 / width : 400.0;
  const double limitY = height > 0 ? 3270000.0 / height : 400.0;
  int best = ZoomSteps.front();
  for (int s : ZoomSteps)
    if (s <= limitX && s <= limitY) best = s;
  return best;
}

int MaxZoomStepForImage(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return ZoomSteps.back();
  return MaxZoomStepForSize(Store.Image[slot].Width, Store.Image[slot].Height);
}

int AutozoomPercent(int32_t width, int32_t height, int freeWidth, int freeHeight) {
  for (int p : AutozoomCandidates)
    if (int64_t(width) * p / 100 <= freeWidth && int64_t(height) * p / 100 <= freeHeight) return p;
  return ZoomSteps.front();
}

}  // namespace astrelon
