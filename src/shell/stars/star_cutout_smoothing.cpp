#include "shell/stars/star_cutout_smoothing.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "shell/stars/star_cutout_min_max.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

constexpr int Size = StarCutoutSize;
constexpr double E = 2.718281828459;
using TCells = std::array<float, Size * Size>;

// Weighted mean of the valid values line[j] for j = i − R .. i + R inside the
// line (`step` apart), or blank.
float WindowMean(const float* line, int step, int i, int R, const std::array<double, 256>& k) {
  double sum = 0.0, weights = 0.0;
  for (int j = -std::min(R, i); j <= std::min(R, Size - 1 - i); ++j) {
    const float v = line[(i + j) * step];
    if (!IsValidPixel(v)) continue;
    sum += k[size_t(std::abs(j))] * v;
    weights += k[size_t(std::abs(j))];
  }
  return weights > 0 ? float(sum / weights) : BlankPixel;
}

}  // namespace

void SmoothStarCutout(TStarCutout& cutout, double strength, double sigma) {
  std::array<double, 256> k{};
  int R = 255;
  for (int i = 0; i < 256; ++i) {
    const double x = i == 0 ? 0.0 : (sigma > 0 ? i / sigma : 1e9);
    k[size_t(i)] = x >= 100 ? 0.0 : std::pow(E, -x * x);
    if (k[size_t(i)] < 0.01 && R == 255) R = i;
  }
  const double s = std::clamp(0.01 * strength, 0.0, 1.0);
  const int planes = std::clamp(cutout.PlaneCount, 1, 3);
  for (int p = 0; p < planes; ++p) {
    TCells& cells = cutout.Planes[size_t(p)];
    TCells vertical;
    for (int y = 0; y < Size; ++y)
      for (int x = 0; x < Size; ++x) vertical[size_t(y * Size + x)] = WindowMean(cells.data() + x, Size, y, R, k);
    for (int y = 0; y < Size; ++y)
      for (int x = 0; x < Size; ++x) {
        float& v = cells[size_t(y * Size + x)];
        const float mean = WindowMean(vertical.data() + y * Size, 1, x, R, k);
        if (IsValidPixel(v) && IsValidPixel(mean)) v = float(mean * s + v * (1.0 - s));
      }
  }
  CutoutMinMax(cutout);
}

}  // namespace astrelon
