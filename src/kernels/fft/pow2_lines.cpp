#include "kernels/fft/pow2_lines.h"

#include <algorithm>
#include <stdexcept>

#include "store/image_slot.h"

namespace astrelon {

void PreparePow2Line(const float* line, int64_t stride, int32_t n, int32_t start, float clip, bool zeroFill,
                     std::span<const double> taper, std::span<double> out) {
  const int64_t N = int64_t(out.size());
  if (n < 1 || N < n || int64_t(taper.size()) < N - n) throw std::invalid_argument("Interner Fehler: Die Zeilengrößen der Zweierpotenz-Transformation passen nicht.");
  const int32_t s = std::clamp(start, 0, n - 1);
  double hold = 0.0;
  bool accepted = false;
  double startValue = 0.0;
  bool haveStart = IsValidPixel(line[0]);
  if (haveStart) startValue = line[0];
  int64_t pos = 0;
  for (int32_t i = s; i < n; ++i, ++pos) {
    const float v = line[i * stride];
    if (IsValidPixel(v) && !(v > clip)) {
      hold = v;
      if (!accepted && !haveStart) startValue = v, haveStart = true;
      accepted = true;
    }
    out[size_t(pos)] = hold;
  }
  const int64_t placed = pos;
  double endValue = 0.0;
  const int64_t five = std::min<int64_t>(5, placed);
  for (int64_t j = placed - five; j < placed; ++j) endValue += out[size_t(j)];
  endValue /= double(five);
  for (int64_t j = 0; j < N - n; ++j, ++pos)
    out[size_t(pos)] = zeroFill ? 0.0 : startValue + (endValue - startValue) * taper[size_t(j)];
  for (int32_t i = 0; i < s; ++i, ++pos) {
    const float v = line[i * stride];
    if (IsValidPixel(v)) hold = v;
    out[size_t(pos)] = hold;
  }
}

}  // namespace astrelon
