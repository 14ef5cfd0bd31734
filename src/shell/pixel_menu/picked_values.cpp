#include "shell/pixel_menu/picked_values.h"

#include <algorithm>

#include "store/image_store.h"

namespace astrelon {

double NeighbourhoodMean15(int slot, int plane, int32_t x, int32_t y) {
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return 0;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Planes[size_t(plane)].size() < im.PixelCount()) return 0;
  double sum = 0;
  int64_t n = 0;
  for (int32_t v = std::max(y - 7, 0); v <= std::min(y + 7, im.Height - 1); ++v)
    for (int32_t u = std::max(x - 7, 0); u <= std::min(x + 7, im.Width - 1); ++u) {
      const float value = im.At(plane, u, v);
      if (!IsValidPixel(value)) continue;
      sum += value;
      ++n;
    }
  return n > 0 ? sum / double(n) : 0.0;
}

double PickedLuma(double r, double g, double b) { return 0.3 * r + 0.59 * g + 0.11 * b; }

std::array<double, 3> WhiteBalanceFactors(double r, double g, double b) {
  const double l = PickedLuma(r, g, b);
  auto factor = [l](double v) { return v > 1e-9 ? l / v : 1.0; };
  return {factor(r), factor(g), factor(b)};
}

}  // namespace astrelon
