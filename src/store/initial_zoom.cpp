#include "store/initial_zoom.h"

#include <initializer_list>

namespace astrelon {

TZoomRoom (*ZoomRoomHook)() = nullptr;

namespace {

constexpr int32_t ZoomSteps[] = {17, 25, 35, 50, 70, 100, 140, 200, 280, 400};

int32_t PercentOfCode(int32_t code) {
  switch (code) {
    case 2: return 200;
    case 3: return 400;
    case 4: return 140;
    case 5: return 280;
    case -1: return 50;
    case -2: return 25;
    case -3: return 70;
    case -4: return 35;
    case -5: return 17;
    default: return 100;
  }
}

// The largest zoom step s with s <= 3270000 / side for both sides (a side <= 0
// counts as no limit); 17 when even 17 is too large.
int32_t LargestZoomStep(int32_t width, int32_t height) {
  const int64_t limitW = width > 0 ? 3270000 / int64_t(width) : 400;
  const int64_t limitH = height > 0 ? 3270000 / int64_t(height) : 400;
  int32_t best = 17;
  for (int32_t s : ZoomSteps)
    if (s <= limitW && s <= limitH) best = s;
  return best;
}

}  // namespace

int32_t InitialZoomPercent(int32_t width, int32_t height, const TZoomRoom& room) {
  if (room.ZoomCode == 0) {
    for (int32_t z : {100, 70, 50, 35, 25})
      if (int64_t(width) * z / 100 <= room.FreeWidth && int64_t(height) * z / 100 <= room.FreeHeight) return z;
    return 17;
  }
  const int32_t p = PercentOfCode(room.ZoomCode);
  const int32_t limit = LargestZoomStep(width, height);
  return p < limit ? p : limit;
}

}  // namespace astrelon
