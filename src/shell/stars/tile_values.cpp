#include "shell/stars/tile_values.h"

#include <algorithm>
#include <array>

#include "shell/stars/star_cutout_min_max.h"
#include "store/image_slot.h"

namespace astrelon {

void AddValuesToTile(TStarCutout& tile, float a1, float a2, float a3) {
  const std::array<float, 3> add{a1, a2, a3};
  for (int p = 1; p <= std::clamp(tile.PlaneCount, 1, 3); ++p)
    for (float& v : tile.Planes[size_t(p - 1)])
      if (IsValidPixel(v)) v += add[size_t(p - 1)];
  CutoutMinMax(tile);
}

}  // namespace astrelon
