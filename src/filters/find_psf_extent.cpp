#include "filters/find_psf_extent.h"

#include <algorithm>
#include <cmath>

namespace astrelon {

void FindPsfExtent(const TStarCutout& cutout, TRectI& extent) {
  constexpr int Centre = 15;
  const float threshold = 0.02f * std::max(std::fabs(cutout.MaxValue), std::fabs(cutout.MinValue));
  const int lo = cutout.CellSize == 32 ? 0 : 8;
  const int hi = cutout.CellSize == 32 ? StarCutoutSize - 1 : 22;
  extent = {Centre, Centre, Centre, Centre};
  auto significant = [&](int p, int x, int y) {
    const float v = cutout.At(p, x, y);
    return IsValidPixel(v) && std::fabs(v) >= threshold;
  };
  auto columnHas = [&](int p, int x) {
    for (int y = lo; y <= hi; ++y)
      if (significant(p, x, y)) return true;
    return false;
  };
  auto rowHas = [&](int p, int y) {
    for (int x = lo; x <= hi; ++x)
      if (significant(p, x, y)) return true;
    return false;
  };
  for (int p = 1; p <= std::clamp(cutout.PlaneCount, 1, 3); ++p) {
    for (int x = lo; x < Centre; ++x)
      if (columnHas(p, x)) {
        extent.Left = std::min(extent.Left, x);
        break;
      }
    for (int x = hi; x > Centre; --x)
      if (columnHas(p, x)) {
        extent.Right = std::max(extent.Right, x);
        break;
      }
    for (int y = lo; y < Centre; ++y)
      if (rowHas(p, y)) {
        extent.Top = std::min(extent.Top, y);
        break;
      }
    for (int y = hi; y > Centre; --y)
      if (rowHas(p, y)) {
        extent.Bottom = std::max(extent.Bottom, y);
        break;
      }
  }
}

}  // namespace astrelon
