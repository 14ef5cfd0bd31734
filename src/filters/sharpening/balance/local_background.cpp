#include "filters/sharpening/balance/local_background.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "filters/sharpening/balance/balance_region_blur.h"
#include "filters/sharpening/balance/each_item.h"
#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/vector_lanes.h"

namespace astrelon {

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();

// o[i] = the smaller (`Least`) or larger of o[i] and r[i] for i < count, four
// lanes at a time with `vector` (the same values: the pick is exact).
template <bool Least>
void Pick(float* o, const float* r, int32_t count, bool vector) {
  using namespace simd;
  auto pick = [](auto a, auto b) { return Least ? LaneMin(a, b) : LaneMax(a, b); };
  int32_t i = 0;
  if (vector)
    for (; i + 4 <= count; i += 4) StoreLanes(o + i, pick(LoadLanes<TVec4f>(o + i), LoadLanes<TVec4f>(r + i)));
  for (; i < count; ++i) o[i] = pick(o[i], r[i]);
}

// The extremes over windows of 2·reach + 1 elements along a line of `count`
// elements of `width` floats (element i at in + i·stride; those beyond the
// line's ends count as the identity), for the elements [i0, i1), by the blocks
// of van Herk, Gil and Werman: with the line padded by `reach` on both sides
// and cut into blocks of 2·reach + 1 from its padded start, g holds the
// extreme from a block's start to each element and h from each element to its
// block's end; a window [a, a + 2·reach] is h at a with g at a + 2·reach.
template <bool Least>
void WindowExtremes(const float* in, float* out, int64_t stride, int32_t width, int64_t count, int32_t reach,
                    int64_t i0, int64_t i1, std::vector<float>& g, std::vector<float>& h, bool vector) {
  const int64_t w = 2 * int64_t(reach) + 1;
  const int64_t p0 = i0 / w * w, p1 = ((i1 - 1 + 2 * int64_t(reach)) / w + 1) * w;
  g.resize(size_t(p1 - p0) * size_t(width));
  h.resize(g.size());
  auto at = [&](std::vector<float>& v, int64_t p) { return v.data() + (p - p0) * width; };
  // The padded element p into `to`, or picked into it.
  auto take = [&](float* to, int64_t p, bool first) {
    const int64_t i = p - reach;
    if (i < 0 || i >= count) {
      if (first) std::fill(to, to + width, Least ? Inf : -Inf);
      return;
    }
    const float* e = in + i * stride;
    if (first)
      std::copy(e, e + width, to);
    else
      Pick<Least>(to, e, width, vector);
  };
  for (int64_t b = p0; b < p1; b += w) {
    for (int64_t p = b; p < b + w; ++p) {
      if (p > b) std::copy(at(g, p - 1), at(g, p - 1) + width, at(g, p));
      take(at(g, p), p, p == b);
    }
    for (int64_t p = b + w - 1; p >= b; --p) {
      if (p < b + w - 1) std::copy(at(h, p + 1), at(h, p + 1) + width, at(h, p));
      take(at(h, p), p, p == b + w - 1);
    }
  }
  for (int64_t i = i0; i < i1; ++i) {
    float* o = out + i * stride;
    std::copy(at(h, i), at(h, i) + width, o);
    Pick<Least>(o, at(g, i + 2 * int64_t(reach)), width, vector);
  }
}

// out = the smallest (`Least`) or largest value of `in` within `reach` along
// the rows or down the columns of the n x m array.
template <bool Least>
void Extreme(std::span<const float> in, std::span<float> out, int32_t n, int32_t m, int32_t reach, bool rows,
             bool vector) {
  if (rows) {
    ForEachChunk(
        0, m, int64_t(n) * 4,
        [&](int64_t y0, int64_t y1) {
          std::vector<float> g, h;
          for (int64_t y = y0; y < y1; ++y)
            WindowExtremes<Least>(in.data() + y * n, out.data() + y * n, 1, 1, n, reach, 0, n, g, h, false);
        },
        [](int64_t) { return true; });
    return;
  }
  // Down the columns a row at a time, in bands of rows.
  constexpr int32_t Band = 64;
  ForEachChunk(
      0, (m + Band - 1) / Band, int64_t(n) * Band * 4,
      [&](int64_t k0, int64_t k1) {
        std::vector<float> g, h;
        for (int64_t k = k0; k < k1; ++k)
          WindowExtremes<Least>(in.data(), out.data(), n, n, m, reach, k * Band, std::min<int64_t>(m, (k + 1) * Band),
                                g, h, vector);
      },
      [](int64_t) { return true; });
}

// Replaces every value v by fn(v), on all threads.
template <class F>
void Map(std::span<float> v, int32_t n, int32_t m, F&& fn) {
  EachItem(m, n, [&](int64_t y) {
    for (float* p = v.data() + y * n, *e = p + n; p < e; ++p) *p = fn(*p);
  });
}

// v opened in place with the square of `reach` (`work` as large): blank
// values take part in neither the minimum nor the maximum, and a value with
// no valid one within reach is blank.
void Open(std::span<float> v, std::span<float> work, int32_t n, int32_t m, int32_t reach, bool vector) {
  Map(v, n, m, [](float x) { return IsValidPixel(x) ? x : Inf; });
  Extreme<true>(v, work, n, m, reach, true, vector);
  Extreme<true>(work, v, n, m, reach, false, vector);
  Map(v, n, m, [](float x) { return x == Inf ? -Inf : x; });
  Extreme<false>(v, work, n, m, reach, true, vector);
  Extreme<false>(work, v, n, m, reach, false, vector);
  Map(v, n, m, [](float x) { return x == -Inf ? BlankPixel : x; });
}

}  // namespace

bool LocalBackground(std::span<const float> plane, int32_t w, int32_t h, const TWorkRect& rect, float smooth,
                     int32_t reach, bool vector, std::span<float> work, std::span<float> out) {
  const int32_t n = rect.x2 - rect.x1 + 1, m = rect.y2 - rect.y1 + 1;
  if (n <= 0 || m <= 0 || rect.x1 < 0 || rect.y1 < 0 || rect.x2 >= w || rect.y2 >= h) return false;
  const size_t size = size_t(n) * size_t(m);
  if (work.size() < size || out.size() < size || plane.size() < size_t(w) * size_t(h)) return false;
  std::span<float> a = work.first(size), b = out.first(size);
  EachItem(m, n, [&](int64_t y) {
    const float* s = plane.data() + (rect.y1 + y) * int64_t(w) + rect.x1;
    std::copy(s, s + n, a.begin() + y * n);
  });
  TGaussPlaneRun run;
  run.Vector = vector;
  const TWorkRect all{0, n - 1, 0, m - 1};
  GaussPlane({a, b, n, m, all}, smooth, run);
  // The trend, and the smoothed plane less it (blank where either is).
  std::vector<float> trend(size), level(size);
  GaussPlane({b, trend, n, m, all}, 0.5f * float(reach), run);
  EachItem(m, n, [&](int64_t y) {
    for (size_t i = size_t(y) * size_t(n), e = i + size_t(n); i < e; ++i)
      level[i] = IsValidPixel(b[i]) && IsValidPixel(trend[i]) ? b[i] - trend[i] : BlankPixel;
  });
  Open(b, a, n, m, reach, vector);
  Open(level, a, n, m, reach, vector);
  EachItem(m, n, [&](int64_t y) {
    for (size_t i = size_t(y) * size_t(n), e = i + size_t(n); i < e; ++i)
      if (IsValidPixel(level[i])) b[i] = IsValidPixel(b[i]) ? std::min(b[i], level[i] + trend[i]) : level[i] + trend[i];
  });
  return true;
}

bool BalanceBackground(std::span<const float> plane, int32_t w, int32_t h, const TWorkRect& rect, float radius,
                       bool vector, std::span<float> work, std::span<float> out) {
  const int32_t reach = BlurTaps(radius).N + BlurTaps(2 * radius).N;
  return LocalBackground(plane, w, h, rect, std::max(radius, 2.0f), reach, vector, work, out);
}

}  // namespace astrelon
