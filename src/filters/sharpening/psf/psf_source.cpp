#include "filters/sharpening/psf/psf_source.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "shell/stars/tile_values.h"
#include "shell/stars/star_pick.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

TStarCutout PsfStore;

void SubtractPsfBorderMedian(TStarCutout& cutout) {
  const bool yuv = cutout.ColorModel == CmYuv && cutout.PlaneCount == 3;
  const int planes = yuv ? 1 : std::clamp(cutout.PlaneCount, 1, 3);
  constexpr int Last = StarCutoutSize - 1;
  std::array<float, 3> level{};
  for (int p = 1; p <= planes; ++p) {
    std::vector<float> border;
    border.reserve(4 * Last);
    for (int y = 0; y <= Last; ++y)
      for (int x = 0; x <= Last; ++x) {
        if (x != 0 && x != Last && y != 0 && y != Last) continue;
        const float v = cutout.At(p, x, y);
        if (v > -1e9f) border.push_back(v);
      }
    if (!border.empty()) level[size_t(p - 1)] = Percentile(border, 0.5);
  }
  AddValuesToTile(cutout, -level[0], -level[1], -level[2]);
}

bool CutPsfFromWindow(int slot) {
  if (!SlotInUse(slot) || !Store.HasWindow[size_t(slot)] || !Store.Window[size_t(slot)]) return false;
  const TImageWindowLink& window = *Store.Window[size_t(slot)];
  int32_t x = 0, y = 0;
  if (window.MarkerVisible(1)) {
    SetWorkRectFromWindow(slot, 1, true);
    x = WorkRect.x1;
    y = WorkRect.y1;
  } else if (window.SelectionVisible(1)) {
    SetWorkRectFromWindow(slot, 1, false);
    FindStarCentroid(slot, WorkRect, -1.0f, StarAperture);
    const TImageSlot& im = Store.Image[size_t(slot)];
    const auto inside = [](float v, int32_t size) {
      return int32_t(std::nearbyint(std::isfinite(v) ? std::clamp(double(v), 0.0, double(size - 1)) : 0.0));
    };
    x = inside(StarPosition.X, im.Width);
    y = inside(StarPosition.Y, im.Height);
  } else {
    return false;
  }
  PickStar(slot, x, y, 0, PsfStore, TStarMode::Position, true, false);
  if (Options.PsfScale) SubtractPsfBorderMedian(PsfStore);
  return true;
}

}  // namespace astrelon
