#include "filters/sharpening/shrink_star_radius.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "common/pascal_format.h"
#include "filters/dialog/filter_state.h"
#include "filters/sharpening/soft_erosion.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/display/display_histogram.h"
#include "store/planes/image_statistics.h"

// The vector helpers are always inlined, so the calling convention of
// eight-wide vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();

using TVec4 = simd::TVec4f;

struct TStarMeasure {
  std::span<const float> Plane;
  int32_t Width = 0, Height = 0;
  TWorkRect Rect;
  bool HorizontalOnly = false;
  float Radius = 0, Minimum = 0, Quarter = 0, Noise = 0;
};

// Entries [i, to) of the padded rows: the values, blanks as +inf in lo and
// -inf in hi, V-wide while whole vectors fit; returns where it stopped.
template <class V>
[[gnu::always_inline]] inline int32_t PadLoop(const float* at, float* lp, float* hp, int32_t i, int32_t to) {
  using namespace simd;
  for (; i + LaneCount<V> <= to; i += LaneCount<V>) {
    const V v = LoadLanes<V>(at + i);
    const auto valid = v > Splat<V>(BlankLimit);
    StoreLanes(lp + i, valid ? v : Splat<V>(Inf));
    StoreLanes(hp + i, valid ? v : Splat<V>(-Inf));
  }
  return i;
}

// Minima of five and maxima of three neighbouring entries from x on, V-wide
// while whole vectors fit; returns where it stopped.
template <class V>
[[gnu::always_inline]] inline int32_t ExtremesLoop(const float* l, const float* h, float* mn, float* mx, int32_t x,
                                                   int32_t cols) {
  using namespace simd;
  for (; x + LaneCount<V> <= cols; x += LaneCount<V>) {
    // Plain loads, no lambda: a helper returning a vector would not take the
    // caller's AVX target and pass its result by another convention.
    const V l0 = LoadLanes<V>(l + x), l1 = LoadLanes<V>(l + x + 1), l2 = LoadLanes<V>(l + x + 2);
    const V l3 = LoadLanes<V>(l + x + 3), l4 = LoadLanes<V>(l + x + 4);
    const V h1 = LoadLanes<V>(h + x + 1), h2 = LoadLanes<V>(h + x + 2), h3 = LoadLanes<V>(h + x + 3);
    StoreLanes(mn + x, LaneMin(LaneMin(LaneMin(l0, l1), LaneMin(l3, l4)), l2));
    StoreLanes(mx + x, LaneMax(LaneMax(h1, h2), h3));
  }
  return x;
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t PadLoopAvx2(const float* at, float* lp, float* hp, int32_t i, int32_t to) {
  return PadLoop<simd::TVec8f>(at, lp, hp, i, to);
}
ASTRELON_AVX2 int32_t ExtremesLoopAvx2(const float* l, const float* h, float* mn, float* mx, int32_t cols) {
  return ExtremesLoop<simd::TVec8f>(l, h, mn, mx, 0, cols);
}
#endif

// Minima over 5 and maxima over 3 neighbouring columns of image row iy, for
// the columns of the rectangle; blank pixels and columns outside the image take
// no part (+inf and -inf where none is left).
void RowExtremes(const TStarMeasure& s, int32_t iy, std::vector<float>& lo, std::vector<float>& hi, float* mn,
                 float* mx, bool avx2) {
  const TWorkRect& r = s.Rect;
  const int32_t cols = r.x2 - r.x1 + 1;
  const float* in = s.Plane.data() + int64_t(iy) * s.Width;
  // lo[i], hi[i]: column r.x1 - 2 + i.
  lo.resize(size_t(cols) + 8);
  hi.resize(size_t(cols) + 8);
  const int32_t count = cols + 8;
  // Entries before and after the image's columns, then the columns inside it a vector at a time.
  const int32_t inFrom = std::clamp(2 - r.x1, 0, count), inTo = std::clamp(s.Width - r.x1 + 2, inFrom, count);
  std::fill(lo.begin(), lo.begin() + inFrom, Inf);
  std::fill(hi.begin(), hi.begin() + inFrom, -Inf);
  std::fill(lo.begin() + inTo, lo.begin() + count, Inf);
  std::fill(hi.begin() + inTo, hi.begin() + count, -Inf);
  const float* at = in + (r.x1 - 2);  // at[i]: the value of entry i
  float* lp = lo.data();
  float* hp = hi.data();
  int32_t i = inFrom;
#if ASTRELON_HAVE_AVX2
  if (avx2) i = PadLoopAvx2(at, lp, hp, i, inTo);
#endif
  i = PadLoop<TVec4>(at, lp, hp, i, inTo);
  for (; i < inTo; ++i) {
    const float v = at[i];
    const bool valid = IsValidPixel(v);
    lo[size_t(i)] = valid ? v : Inf;
    hi[size_t(i)] = valid ? v : -Inf;
  }
  const float* l = lo.data();
  const float* h = hi.data();
  int32_t x = 0;
#if ASTRELON_HAVE_AVX2
  if (avx2) x = ExtremesLoopAvx2(l, h, mn, mx, cols);
#endif
  x = ExtremesLoop<TVec4>(l, h, mn, mx, x, cols);
  for (; x < cols; ++x) {
    mn[x] = std::min({l[x], l[x + 1], l[x + 2], l[x + 3], l[x + 4]});
    mx[x] = std::max({h[x + 1], h[x + 2], h[x + 3]});
  }
}

// The star measure of one pixel from its value and the extremes around it.
inline float StarMeasure(const TStarMeasure& s, float c, float m5, float m3) {
  if (!IsValidPixel(c) || !(m3 > m5)) return 0.0f;
  const float q = s.Quarter, n = s.Noise;
  const float floor = 0.1f * q;
  const float rise0 = c - s.Minimum + floor;
  const float rise = rise0 < floor ? floor : rise0;
  const float f = rise > q ? 2.5f : (2.5f * q) / rise;
  const float v = (0.8f * s.Radius) * f * (m3 - c - n) / (m3 - m5 + n);
  return v > 0 ? v : 0.0f;
}

// The same for four or eight pixels (the same operations in the same order per lane).
template <class V>
[[gnu::always_inline]] inline V StarMeasureV(const TStarMeasure& s, V c, V m5, V m3) {
  using simd::Splat;
  const float q = s.Quarter, n = s.Noise;
  const V floor = Splat<V>(0.1f * q), qv = Splat<V>(q), nv = Splat<V>(n);
  const V rise0 = c - Splat<V>(s.Minimum) + floor;
  const V rise = rise0 < floor ? floor : rise0;
  const V f = rise > qv ? Splat<V>(2.5f) : Splat<V>(2.5f * q) / rise;
  const V v = Splat<V>(0.8f * s.Radius) * f * (m3 - c - nv) / (m3 - m5 + nv);
  const auto ok = (c > Splat<V>(BlankLimit)) & (m3 > m5) & (v > Splat<V>(0.0f));
  return ok ? v : Splat<V>(0.0f);
}

// The star measures of a row from x on, V-wide while whole vectors fit: the
// smallest of the nLo rows of minima lo and the largest of the nHi rows of
// maxima hi, taken row after row. Returns where it stopped.
template <class V>
[[gnu::always_inline]] inline int32_t MeasureLoop(const TStarMeasure& s, const float* in, const float* const* lo,
                                                  int32_t nLo, const float* const* hi, int32_t nHi, float* out,
                                                  int32_t x, int32_t cols) {
  using namespace simd;
  constexpr int n = LaneCount<V>;
  for (; x + n <= cols; x += n) {
    V m5 = LoadLanes<V>(lo[0] + x), m3 = LoadLanes<V>(hi[0] + x);
    for (int32_t k = 1; k < nLo; ++k) m5 = LaneMin(m5, LoadLanes<V>(lo[k] + x));
    for (int32_t k = 1; k < nHi; ++k) m3 = LaneMax(m3, LoadLanes<V>(hi[k] + x));
    StoreLanes(out + x, StarMeasureV<V>(s, LoadLanes<V>(in + x), m5, m3));
  }
  return x;
}

// The smoothed radius of the inner columns 1 .. cols - 2 from x on, V-wide
// while whole vectors fit; returns where it stopped.
template <class V>
[[gnu::always_inline]] inline int32_t RadiusLoop(const float* a, const float* up, const float* down, float* out,
                                                 float cw, float side, float full, float keep, int32_t x,
                                                 int32_t cols) {
  using namespace simd;
  constexpr int n = LaneCount<V>;
  const V zero = Splat<V>(0.0f);
  for (; x + n <= cols - 1; x += n) {
    const V v = LoadLanes<V>(a + x);
    const V smooth = Splat<V>(cw) * v + Splat<V>(side) * (LoadLanes<V>(a + x - 1) + LoadLanes<V>(a + x + 1) +
                                                          LoadLanes<V>(up + x) + LoadLanes<V>(down + x));
    const V m = Splat<V>(full) + Splat<V>(keep) * (v > zero ? smooth : v);
    StoreLanes(out + x, m > zero ? m : zero);
  }
  return x;
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t MeasureLoopAvx2(const TStarMeasure& s, const float* in, const float* const* lo, int32_t nLo,
                                      const float* const* hi, int32_t nHi, float* out, int32_t cols) {
  return MeasureLoop<simd::TVec8f>(s, in, lo, nLo, hi, nHi, out, 0, cols);
}
ASTRELON_AVX2 int32_t RadiusLoopAvx2(const float* a, const float* up, const float* down, float* out, float cw,
                                     float side, float full, float keep, int32_t x, int32_t cols) {
  return RadiusLoop<simd::TVec8f>(a, up, down, out, cw, side, full, keep, x, cols);
}
#endif

// Rows of the erosion radius given to the erosion a block at a time.
constexpr int64_t RadiusBlockRows = 16;

// The erosion radius of the rows [a0, b0) of the rectangle, in blocks of up to
// RadiusBlockRows rows handed in order to sink(first, last, radius rows): how
// star-like each pixel's surroundings are, bright against the smallest value
// of its 5 x 5 surroundings and close to the largest of its 3 x 3 ones (3 x 1
// along rows only), both over the valid pixels inside the image, blank pixels
// 0 (the star measure); that measure smoothed with its four neighbours (all
// taken before smoothing) where it is positive, except on the rectangle's outer
// rows and columns; mixed with the full radius by `hide`. The rows stream
// through small rings of row extremes and star measures.
template <typename F>
void ErosionRadiusBand(const TStarMeasure& s, float hide, int64_t a0, int64_t b0, F&& sink) {
  const TWorkRect& r = s.Rect;
  const int32_t cols = r.x2 - r.x1 + 1, rows = r.y2 - r.y1 + 1;
  const float cw = s.Radius > 2 ? 1.0f / s.Radius : 0.5f;
  const bool avx2 = UseAvx2(Sse2Enabled);
  const float side = (1.0f - cw) / 4.0f;
  const size_t c = size_t(cols);
  {
    constexpr int32_t ExtremeRing = 8, MeasureRing = 4;
    std::vector<float> lo, hi;
    std::vector<float> rowMin(ExtremeRing * c), rowMax(ExtremeRing * c), measure(MeasureRing * c);
    TPlane block(size_t(std::min(RadiusBlockRows, b0 - a0)) * c);
    int64_t blockFirst = a0;
    auto minOf = [&](int32_t iy) { return rowMin.data() + size_t(iy % ExtremeRing) * c; };
    auto maxOf = [&](int32_t iy) { return rowMax.data() + size_t(iy % ExtremeRing) * c; };
    auto measureOf = [&](int64_t y) { return measure.data() + size_t(y % MeasureRing) * c; };
    const int64_t yFirst = std::max<int64_t>(a0 - 1, 0), yLast = std::min<int64_t>(b0, rows - 1);
    int32_t nextExtremes = std::max(r.y1 + int32_t(yFirst) - 2, 0);
    // The star measure of rectangle row y.
    auto measureRow = [&](int64_t y) {
      const int32_t iy = r.y1 + int32_t(y);
      const int32_t minFrom = std::max(iy - 2, 0), minTo = std::min(iy + 2, s.Height - 1);
      const int32_t maxFrom = s.HorizontalOnly ? iy : std::max(iy - 1, 0);
      const int32_t maxTo = s.HorizontalOnly ? iy : std::min(iy + 1, s.Height - 1);
      for (; nextExtremes <= minTo; ++nextExtremes)
        RowExtremes(s, nextExtremes, lo, hi, minOf(nextExtremes), maxOf(nextExtremes), avx2);
      // Column extremes over the rows, taken row after row in the loop of the
      // measure itself.
      const float* lo5[5];
      const float* hi3[3];
      const int32_t nLo = minTo - minFrom + 1, nHi = maxTo - maxFrom + 1;
      for (int32_t k = 0; k < nLo; ++k) lo5[k] = minOf(minFrom + k);
      for (int32_t k = 0; k < nHi; ++k) hi3[k] = maxOf(maxFrom + k);
      const float* in = s.Plane.data() + int64_t(iy) * s.Width + r.x1;
      float* out = measureOf(y);
      int32_t x = 0;
#if ASTRELON_HAVE_AVX2
      if (avx2) x = MeasureLoopAvx2(s, in, lo5, nLo, hi3, nHi, out, cols);
#endif
      x = MeasureLoop<TVec4>(s, in, lo5, nLo, hi3, nHi, out, x, cols);
      for (; x < cols; ++x) {
        float m5s = lo5[0][x], m3s = hi3[0][x];
        for (int32_t k = 1; k < nLo; ++k) m5s = std::min(m5s, lo5[k][x]);
        for (int32_t k = 1; k < nHi; ++k) m3s = std::max(m3s, hi3[k][x]);
        out[x] = StarMeasure(s, in[x], m5s, m3s);
      }
    };
    // The radius of rectangle row y from the measures of rows y − 1 .. y + 1.
    auto radiusRow = [&](int64_t y) {
      const float* a = measureOf(y);
      const bool inner = y > 0 && y < rows - 1;
      const float* up = inner ? measureOf(y - 1) : a;
      const float* down = inner ? measureOf(y + 1) : a;
      float* out = block.data() + size_t(y - blockFirst) * c;
      auto one = [&](int32_t x) {
        float v = a[x];
        if (v > 0 && inner && x > 0 && x < cols - 1) v = cw * v + side * (a[x - 1] + a[x + 1] + up[x] + down[x]);
        const float m = hide * s.Radius + (1.0f - hide) * v;
        out[x] = m > 0 ? m : 0.0f;  // NaN too: the pixel keeps its value
      };
      int32_t x = 0;
      if (inner && cols > 2) {
        // The inner columns four at a time, the same operations per lane.
        one(x++);
        const float full = hide * s.Radius, keep = 1.0f - hide;
#if ASTRELON_HAVE_AVX2
        if (avx2) x = RadiusLoopAvx2(a, up, down, out, cw, side, full, keep, x, cols);
#endif
        x = RadiusLoop<TVec4>(a, up, down, out, cw, side, full, keep, x, cols);
      }
      for (; x < cols; ++x) one(x);
    };
    // Row y into the block; a full block goes to the sink.
    auto emit = [&](int64_t y) {
      radiusRow(y);
      if (y + 1 - blockFirst == RadiusBlockRows || y + 1 == b0) {
        sink(blockFirst, y + 1, static_cast<const float*>(block.data()));
        blockFirst = y + 1;
      }
    };
    for (int64_t y = yFirst; y <= yLast; ++y) {
      measureRow(y);
      if (y - 1 >= a0 && y - 1 < b0) emit(y - 1);
    }
    // The last row of the rectangle has no row below it.
    if (b0 == rows) emit(rows - 1);
  }
}

}  // namespace

bool ShrinkStarRadius(int source, int destination, bool horizontalOnly, float radius, float lowerThreshold,
                      float hideStars, const TWorkRect& rectIn, TFilterPoll& poll) {
  FilterAborted = false;
  if (!SlotInUse(source) || !ValidSlot(destination) || !std::isfinite(radius)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h) return true;
  TWorkRect rect{std::max(rectIn.x1, 0), std::min(rectIn.x2, w - 1), std::max(rectIn.y1, 0),
                 std::min(rectIn.y2, h - 1)};
  if (rect.x1 > rect.x2 || rect.y1 > rect.y2) return true;
  const int32_t cols = rect.x2 - rect.x1 + 1, rows = rect.y2 - rect.y1 + 1;

  // Offsets beyond the rectangle never meet a pixel of it, so the reach is
  // bounded by its size whatever radius a batch step passes.
  const int64_t reach = std::clamp<int64_t>(Round(std::clamp<float>(radius, -1.0f, float(std::max(cols, rows)))) + 1, 0,
                                             std::max(cols, rows));
  const TErosionTable table = MakeErosionTable(int32_t(reach), horizontalOnly ? 0 : int32_t(reach));
  const float hide = hideStars / 100.0f;
  const float range = src.MaxValue - src.MinValue;
  const float quarter = range / 4.0f;
  // A flat image has nothing to shrink (its star measure would be 0 / 0).
  if (!(quarter > 0)) return true;

  bool stopped = false;
  for (int p = FirstChannel(source); p >= 1 && p <= std::min(src.PlaneCount, 3); NextChannel(source, p)) {
    const size_t n = src.PixelCount();
    if (src.Planes[size_t(p)].size() != n) continue;
    if (dst.Planes[size_t(p)].size() != n) dst.Planes[size_t(p)].resize(n);
    const float noise = std::max(EstimatePlaneNoise(source, p), 0.001f * range);
    const float lift = std::max(2.0f * noise * lowerThreshold, 0.001f);

    // The erosion radius of every pixel: the star measure mixed with the full radius.
    // The erosion radius of every pixel (the star measure mixed with the full
    // radius), eroded with a block of rows at a time; with hide 100 % the full
    // radius everywhere.
    const TErosionPlane plane{src.Planes[size_t(p)], dst.Planes[size_t(p)], w, rect, {}, radius, lift};
    bool done;
    if (hide != 1.0f) {
      const TStarMeasure s{src.Planes[size_t(p)], w, h, rect, horizontalOnly, radius, src.MinValue, quarter, noise};
      done = ForEachRowChunk(0, rows, cols, &poll, p, [&](int64_t a, int64_t b) {
        TErosionBand band(plane, table, Sse2Enabled);
        ErosionRadiusBand(s, hide, a, b,
                          [&](int64_t first, int64_t last, const float* t) { band.Erode(first, last, t, last == b); });
      });
    } else {
      done = ErodePlane(plane, table, Sse2Enabled, &poll, p);
    }
    if (!done) {
      stopped = true;
      break;
    }
  }
  if (!EndFilterRun(poll, !stopped)) return false;
  ComputeHistogram(destination, false, true);
  return true;
}

}  // namespace astrelon
