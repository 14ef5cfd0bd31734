#include "filters/sharpening/light_within_reach.h"

#include <algorithm>

#include "filters/sharpening/balance/each_item.h"
#include "store/image_slot.h"

namespace astrelon {

void LightWithinReach(std::span<const float> source, int32_t width, const TWorkRect& rect, const TRectI& reach,
                      float background, std::vector<float>& bound) {
  const int32_t n = rect.x2 - rect.x1 + 1, m = rect.y2 - rect.y1 + 1;
  if (n < 1 || m < 1) {
    bound.clear();
    return;
  }
  const size_t pixels = size_t(n) * size_t(m);
  // The sums along each row over the reach's columns (from running sums in
  // double of the row), then over the reach's rows (in their order), so that
  // every value is computed alike on any split.
  std::vector<float> rows(pixels);
  bound.resize(pixels);
  EachItem(m, n, [&](int64_t row) {
    const float* s = source.data() + (int64_t(rect.y1) + row) * width + rect.x1;
    std::vector<double> run(size_t(n) + 1, 0.0);
    for (int32_t x = 0; x < n; ++x)
      run[size_t(x) + 1] = run[size_t(x)] + (IsValidPixel(s[x]) ? std::max(double(s[x]) - background, 0.0) : 0.0);
    float* out = rows.data() + row * n;
    for (int32_t x = 0; x < n; ++x) {
      const int32_t a = std::clamp(x + reach.Left, 0, n), b = std::clamp(x + reach.Right + 1, 0, n);
      out[x] = b > a ? float(run[size_t(b)] - run[size_t(a)]) : 0.0f;
    }
  });
  EachItem(m, int64_t(n) * (reach.Bottom - reach.Top + 1), [&](int64_t row) {
    float* out = bound.data() + row * n;
    std::fill(out, out + n, 0.0f);
    for (int32_t j = reach.Top; j <= reach.Bottom; ++j) {
      const int64_t yy = row + j;
      if (yy < 0 || yy >= m) continue;
      const float* in = rows.data() + yy * n;
      for (int32_t x = 0; x < n; ++x) out[x] += in[x];
    }
    for (int32_t x = 0; x < n; ++x) out[x] += background;
  });
}

}  // namespace astrelon
