#include "filters/sharpening/psf/find_psf_extent.h"

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
  // The first column (or row) from `from` towards the centre that holds a
  // significant pixel in the search area; the centre when none does.
  auto first = [&](int p, int from, bool columns) {
    const int step = from < Centre ? 1 : -1;
    for (int i = from; i != Centre; i += step)
      for (int j = lo; j <= hi; ++j)
        if (columns ? significant(p, i, j) : significant(p, j, i)) return i;
    return Centre;
  };
  for (int p = 1; p <= std::clamp(cutout.PlaneCount, 1, 3); ++p) {
    extent.Left = std::min(extent.Left, first(p, lo, true));
    extent.Right = std::max(extent.Right, first(p, hi, true));
    extent.Top = std::min(extent.Top, first(p, lo, false));
    extent.Bottom = std::max(extent.Bottom, first(p, hi, false));
  }
}

}  // namespace astrelon
