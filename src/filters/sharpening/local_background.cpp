#include "filters/sharpening/local_background.h"

#include <algorithm>
#include <limits>

#include "filters/sharpening/each_item.h"
#include "kernels/gauss/gauss_filters.h"

namespace astrelon {

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();

// out = the smallest (`least`) or largest value of `in` within `reach` along
// the rows or down the columns of the n x m array (exact in any order).
void Extreme(const std::vector<float>& in, std::vector<float>& out, int32_t n, int32_t m, int32_t reach, bool rows,
             bool least) {
  auto pick = [least](float a, float b) { return least ? (b < a ? b : a) : (b > a ? b : a); };
  EachItem(m, int64_t(n) * (2 * reach + 1), [&](int64_t y) {
    float* o = out.data() + y * n;
    if (rows) {
      const float* r = in.data() + y * n;
      std::copy(r, r + n, o);
      for (int32_t k = 1; k <= reach && k < n; ++k) {
        for (int32_t x = k; x < n; ++x) o[x] = pick(o[x], r[x - k]);
        for (int32_t x = 0; x + k < n; ++x) o[x] = pick(o[x], r[x + k]);
      }
      return;
    }
    const int64_t y0 = std::max<int64_t>(0, y - reach), y1 = std::min<int64_t>(m - 1, y + reach);
    const float* first = in.data() + y0 * n;
    std::copy(first, first + n, o);
    for (int64_t yy = y0 + 1; yy <= y1; ++yy) {
      const float* r = in.data() + yy * n;
      for (int32_t x = 0; x < n; ++x) o[x] = pick(o[x], r[x]);
    }
  });
}

// Replaces every value v by fn(v), on all threads.
template <class F>
void Map(std::vector<float>& v, int32_t n, int32_t m, F&& fn) {
  EachItem(m, n, [&](int64_t y) {
    for (float* p = v.data() + y * n, *e = p + n; p < e; ++p) *p = fn(*p);
  });
}

}  // namespace

std::vector<float> LocalBackground(std::span<const float> plane, int32_t w, int32_t h, const TWorkRect& rect,
                                   float smooth, int32_t reach, bool vector) {
  const int32_t n = rect.x2 - rect.x1 + 1, m = rect.y2 - rect.y1 + 1;
  if (n <= 0 || m <= 0 || rect.x1 < 0 || rect.y1 < 0 || rect.x2 >= w || rect.y2 >= h) return {};
  std::vector<float> a(size_t(n) * size_t(m)), b(a.size());
  EachItem(m, n, [&](int64_t y) {
    const float* s = plane.data() + (rect.y1 + y) * int64_t(w) + rect.x1;
    std::copy(s, s + n, a.begin() + y * n);
  });
  TGaussPlaneRun run;
  run.Vector = vector;
  GaussPlane({a, b, n, m, TWorkRect{0, n - 1, 0, m - 1}}, smooth, run);
  // Blank values take part in neither the minimum nor the maximum.
  Map(b, n, m, [](float v) { return IsValidPixel(v) ? v : Inf; });
  Extreme(b, a, n, m, reach, true, true);
  Extreme(a, b, n, m, reach, false, true);
  Map(b, n, m, [](float v) { return v == Inf ? -Inf : v; });
  Extreme(b, a, n, m, reach, true, false);
  Extreme(a, b, n, m, reach, false, false);
  Map(b, n, m, [](float v) { return v == -Inf ? BlankPixel : v; });
  return b;
}

}  // namespace astrelon
