#include "filters/noise/median_filter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "filters/dialog/filter_state.h"
#include "filters/noise/sorting_network.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/display/display_histogram.h"
#include "store/planes/value_statistics.h"

// The vector helpers are always inlined, so the calling convention of
// eight-wide vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

constexpr std::array<TMedianFootprint, 10> Footprints{{
    {},
    {5, 1, {1, 0}},
    {9, 1, {1, 1}},
    {13, 2, {2, 1, 0}},
    {21, 2, {2, 2, 1}},
    {29, 3, {3, 2, 2, 0}},
    {37, 3, {3, 3, 2, 1}},
    {45, 3, {3, 3, 3, 2}},
    {57, 4, {4, 4, 3, 2, 1}},
    {69, 4, {4, 4, 4, 3, 2}},
}};

constexpr int32_t MaxFootprintPixels = 69;

// GCC vector extensions: SSE2 code by default, AVX2 code when inlined into a
// function compiled for it.
using namespace simd;
using TVec4 = TVec4f;
using TVec8 = TVec8f;

template <class V>
[[gnu::always_inline]] inline V Mean(V a, V b) {
  return (a + b) * Splat<V>(0.5f);
}

// Where the centre weight takes its result from in a sorted run of m values
// (the same for every pixel whose footprint is complete).
struct TWeightedPick {
  int32_t Low = 0;         // median at most the centre: sorted index
  bool LowMean = false;    // mean of Low and Low + 1
  int32_t High = 0;        // median above the centre
  bool HighMean = false;
};

TWeightedPick WeightedPick(int32_t m, int32_t w) {
  TWeightedPick p;
  const int32_t up = m + w - 2;
  p.Low = up / 2;
  p.LowMean = (up & 1) != 0 && p.Low + 1 <= m - 1;
  if (p.Low > m - 1) {
    p.Low = m - 1;
    p.LowMean = false;
  }
  const int32_t down = m - w;
  if (down < 0) {
    p.High = 0;
  } else {
    p.High = down / 2;
    p.HighMean = (down & 1) != 0 && p.High + 1 <= m - 1;
  }
  return p;
}

// The result from the sorted values s, their median and the centre value c.
template <class V>
[[gnu::always_inline]] inline V Weighted(const V* s, V median, V c, const TWeightedPick& p) {
  const V low = LaneMin(p.LowMean ? Mean(s[p.Low], s[p.Low + 1]) : s[p.Low], c);
  const V high = LaneMax(p.HighMean ? Mean(s[p.High], s[p.High + 1]) : s[p.High], c);
  return median <= c ? low : high;
}

// One plane's run: the footprint's offsets and the rows it reads.
struct TMedianJob {
  const TMedianPlane* Plane = nullptr;
  const TMedianFootprint* Footprint = nullptr;
  int32_t CentreWeight = 1;
  TWeightedPick Pick;
  std::vector<int64_t> Offset;  // the footprint's pixels from the centre, row by row
};

// Whether a row holds a blank pixel.
bool RowHasBlank(const float* row, int32_t width) {
  int32_t x = 0;
#if ASTRELON_HAVE_SSE2
  const __m128 limit = _mm_set1_ps(BlankLimit);
  for (; x + 16 <= width; x += 16) {
    const __m128 a = _mm_and_ps(_mm_cmpgt_ps(_mm_loadu_ps(row + x), limit), _mm_cmpgt_ps(_mm_loadu_ps(row + x + 4), limit));
    const __m128 b =
        _mm_and_ps(_mm_cmpgt_ps(_mm_loadu_ps(row + x + 8), limit), _mm_cmpgt_ps(_mm_loadu_ps(row + x + 12), limit));
    if (_mm_movemask_ps(_mm_and_ps(a, b)) != 15) return true;
  }
#endif
  for (; x < width; ++x)
    if (!IsValidPixel(row[x])) return true;
  return false;
}

// Pixels x .. x + lanes - 1 of row y from the network of N values; every
// footprint pixel is inside the image and valid.
template <int N, bool Plain, class V>
[[gnu::always_inline]] inline V NetworkPixels(const TMedianJob& j, const float* row, int32_t x) {
  const int64_t* offset = j.Offset.data();
  V v[N];
#pragma GCC unroll 128
  for (int k = 0; k < N; ++k) v[k] = LoadLanes<V>(row + offset[k] + x);
  constexpr int mid = N / 2;
  // The plain median of footprints up to 21 pixels runs unrolled (in registers).
  constexpr bool unrolled = Plain && N <= 21;
  if constexpr (Plain) {
    if constexpr (unrolled)
      SortNetwork<N, mid>(v);
    else
      SortNetworkLoop<N, mid>(v);
    return v[mid];
  } else {
    if constexpr (unrolled)
      SortNetwork<N, -1>(v);
    else
      SortNetworkLoop<N, -1>(v);
    return Weighted(v, v[mid], LoadLanes<V>(row + x), j.Pick);
  }
}

template <int N, bool Plain, class V>
[[gnu::always_inline]] inline void NetworkRun(const TMedianJob& j, const float* row, float* out, int32_t x0,
                                              int32_t x1) {
  constexpr int lanes = LaneCount<V>;
  int32_t x = x0;
  if constexpr (lanes > 1)
    for (; x + lanes <= x1 + 1; x += lanes) StoreLanes<V>(out + x, NetworkPixels<N, Plain, V>(j, row, x));
  for (; x <= x1; ++x) out[x] = NetworkPixels<N, Plain, float>(j, row, x);
}

template <class V>
[[gnu::always_inline]] inline V Median3(V a, V b, V c) {
  return LaneMax(LaneMin(a, b), LaneMin(LaneMax(a, b), c));
}

// Column u sorted into lo, mid and hi at index i.
template <class W>
[[gnu::always_inline]] inline void SortColumn(const float* up, const float* row, const float* down, int32_t u,
                                              float* lo, float* mid, float* hi, int32_t i) {
  const W a = LoadLanes<W>(up + u), b = LoadLanes<W>(row + u), c = LoadLanes<W>(down + u);
  const W l = LaneMin(a, b), h = LaneMax(a, b);
  const W m = LaneMin(h, c);
  StoreLanes<W>(lo + i, LaneMin(l, m));
  StoreLanes<W>(mid + i, LaneMax(l, m));
  StoreLanes<W>(hi + i, LaneMax(h, c));
}

// The median from the sorted columns i, i + 1, i + 2.
template <class W>
[[gnu::always_inline]] inline W MedianOfColumns(const float* lo, const float* mid, const float* hi, int32_t i) {
  const W a = LaneMax(LaneMax(LoadLanes<W>(lo + i), LoadLanes<W>(lo + i + 1)), LoadLanes<W>(lo + i + 2));
  const W c = LaneMin(LaneMin(LoadLanes<W>(hi + i), LoadLanes<W>(hi + i + 1)), LoadLanes<W>(hi + i + 2));
  const W b = Median3(LoadLanes<W>(mid + i), LoadLanes<W>(mid + i + 1), LoadLanes<W>(mid + i + 2));
  return Median3(a, b, c);
}

// The plain median of the 3 x 3 footprint from sorted columns: the largest of
// the column minima, the median of the column medians and the smallest of the
// column maxima have the median of the nine as their median. Each column is
// sorted once for the three outputs that read it.
template <class V>
[[gnu::always_inline]] inline void Median3x3Run(const float* row, int64_t stride, float* out, int32_t x0,
                                                int32_t x1, float* lo, float* mid, float* hi) {
  constexpr int lanes = LaneCount<V>;
  const float* up = row - stride;
  const float* down = row + stride;
  // Columns x0 - 1 .. x1 + 1 at index x - x0 + 1.
  int32_t x = x0 - 1;
  if constexpr (lanes > 1)
    for (; x + lanes <= x1 + 2; x += lanes) SortColumn<V>(up, row, down, x, lo, mid, hi, x - x0 + 1);
  for (; x <= x1 + 1; ++x) SortColumn<float>(up, row, down, x, lo, mid, hi, x - x0 + 1);
  x = x0;
  if constexpr (lanes > 1)
    for (; x + lanes <= x1 + 1; x += lanes) StoreLanes<V>(out + x, MedianOfColumns<V>(lo, mid, hi, x - x0));
  for (; x <= x1; ++x) out[x] = MedianOfColumns<float>(lo, mid, hi, x - x0);
}

// Complete footprints of row `row` (pointer to the pixel of column 0), columns x0..x1.
template <class V>
[[gnu::always_inline]] inline void NetworkRow(const TMedianJob& j, const float* row, float* out, int32_t x0,
                                              int32_t x1) {
  const bool plain = j.CentreWeight <= 1;
  if (plain && j.Footprint->Pixels == 9) {
    thread_local std::vector<float> columns;
    const size_t n = size_t(x1 - x0 + 3);
    columns.resize(3 * n);
    Median3x3Run<V>(row, j.Plane->Width, out, x0, x1, columns.data(), columns.data() + n, columns.data() + 2 * n);
    return;
  }
  switch (j.Footprint->Pixels) {
#define ASTRELON_MEDIAN_CASE(n)                                       \
  case n:                                                             \
    if (plain)                                                        \
      NetworkRun<n, true, V>(j, row, out, x0, x1);                    \
    else                                                              \
      NetworkRun<n, false, V>(j, row, out, x0, x1);                   \
    break;
    ASTRELON_MEDIAN_CASE(5)
    ASTRELON_MEDIAN_CASE(9)
    ASTRELON_MEDIAN_CASE(13)
    ASTRELON_MEDIAN_CASE(21)
    ASTRELON_MEDIAN_CASE(29)
    ASTRELON_MEDIAN_CASE(37)
    ASTRELON_MEDIAN_CASE(45)
    ASTRELON_MEDIAN_CASE(57)
    ASTRELON_MEDIAN_CASE(69)
#undef ASTRELON_MEDIAN_CASE
    default:
      break;
  }
}

void NetworkRowScalar(const TMedianJob& j, const float* row, float* out, int32_t x0, int32_t x1) {
  NetworkRow<float>(j, row, out, x0, x1);
}
void NetworkRowSse2(const TMedianJob& j, const float* row, float* out, int32_t x0, int32_t x1) {
  NetworkRow<TVec4>(j, row, out, x0, x1);
}
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void NetworkRowAvx2(const TMedianJob& j, const float* row, float* out, int32_t x0, int32_t x1) {
  NetworkRow<TVec8>(j, row, out, x0, x1);
}
#endif

// One pixel whose footprint is clipped at the image edge or holds blanks:
// the valid pixels are collected and sorted.
float CollectedPixel(const TMedianJob& j, int32_t x, int32_t y, float c) {
  const TMedianPlane& pl = *j.Plane;
  const TMedianFootprint& f = *j.Footprint;
  std::array<float, MaxFootprintPixels> s;
  int32_t m = 0;
  for (int32_t dy = -std::min(f.HalfHeight, y); dy <= std::min(f.HalfHeight, pl.Height - 1 - y); ++dy) {
    const int32_t hw = f.HalfWidth[size_t(std::abs(dy))];
    const float* row = pl.Source.data() + int64_t(y + dy) * pl.Width;
    for (int32_t u = std::max(x - hw, 0); u <= std::min(x + hw, pl.Width - 1); ++u)
      if (IsValidPixel(row[u])) s[size_t(m++)] = row[u];
  }
  const float median = Percentile(std::span<float>(s.data(), size_t(m)), 0.5);  // sorts s
  if (j.CentreWeight <= 1) return median;
  return Weighted(s.data(), median, c, WeightedPick(m, j.CentreWeight));
}

// Row y of the rectangle; blank[k] tells whether image row firstRow + k holds a blank.
void FilterRow(const TMedianJob& j, int32_t y, const std::vector<uint8_t>& blank, int32_t firstRow, bool vector,
               bool avx2) {
  const TMedianPlane& pl = *j.Plane;
  const TMedianFootprint& f = *j.Footprint;
  const TWorkRect& r = pl.Rect;
  const float* row = pl.Source.data() + int64_t(y) * pl.Width;
  float* out = pl.Destination.data() + int64_t(y) * pl.Width;
  const int32_t reach = f.HalfWidth[0];
  // Columns whose footprint lies inside the image, on rows without blanks.
  int32_t n0 = r.x2 + 1, n1 = r.x2;
  if (y >= f.HalfHeight && y + f.HalfHeight < pl.Height) {
    bool complete = true;
    for (int32_t dy = -f.HalfHeight; dy <= f.HalfHeight; ++dy) complete = complete && !blank[size_t(y + dy - firstRow)];
    if (complete) {
      n0 = std::max(r.x1, reach);
      n1 = std::min(r.x2, pl.Width - 1 - reach);
    }
  }
  for (int32_t x = r.x1; x <= r.x2; ++x) {
    if (x == n0 && n0 <= n1) {
      if (!vector)
        NetworkRowScalar(j, row, out, n0, n1);
#if ASTRELON_HAVE_AVX2
      else if (avx2)
        NetworkRowAvx2(j, row, out, n0, n1);
#endif
      else
        NetworkRowSse2(j, row, out, n0, n1);
      x = n1;
      continue;
    }
    const float c = row[x];
    if (IsValidPixel(c)) out[x] = CollectedPixel(j, x, y, c);
  }
}

}  // namespace

const TMedianFootprint& MedianFootprint(int32_t index) { return Footprints[size_t(std::clamp(index, 1, 9))]; }

int32_t MedianFootprintIndex(int32_t n) {
  int32_t k;
  if (n < 15)
    k = n / 4;
  else if (n >= 60)
    k = (n + 40) / 12;
  else
    k = (n + 13) / 8;
  return std::clamp(k, 1, 9);
}

bool MedianFilterPlane(const TMedianPlane& plane, int32_t footprint, int32_t centreWeight, bool vector,
                       TFilterPoll* poll, int planeIndex) {
  const TWorkRect& r = plane.Rect;
  if (r.x1 > r.x2 || r.y1 > r.y2) return true;
  CheckRect(plane.Source.size(), plane.Width, plane.Height, plane.Width);
  CheckRect(plane.Destination.size(), plane.Width, plane.Height, plane.Width);
  TMedianJob j;
  j.Plane = &plane;
  j.Footprint = &MedianFootprint(footprint);
  j.CentreWeight = centreWeight;
  j.Pick = WeightedPick(j.Footprint->Pixels, centreWeight);
  const TMedianFootprint& f = *j.Footprint;
  for (int32_t dy = -f.HalfHeight; dy <= f.HalfHeight; ++dy)
    for (int32_t dx = -f.HalfWidth[size_t(std::abs(dy))]; dx <= f.HalfWidth[size_t(std::abs(dy))]; ++dx)
      j.Offset.push_back(int64_t(dy) * plane.Width + dx);
  const bool avx2 = UseAvx2(vector);
  // Cost units per row: chunks of rows run some ten milliseconds on one thread.
  const int64_t cost = std::max<int64_t>(1, int64_t(r.x2 - r.x1 + 1) * f.Pixels / 64);
  return ForEachRowChunk(r.y1, int64_t(r.y2) + 1, cost, poll, planeIndex, [&](int64_t a, int64_t b) {
    // Which of the band's rows and the footprint's rows around them hold
    // blanks, found just before a row is first read (while it is in the cache).
    const int32_t first = std::max(int32_t(a) - f.HalfHeight, 0);
    const int32_t last = std::min(int32_t(b) - 1 + f.HalfHeight, plane.Height - 1);
    std::vector<uint8_t> blank(size_t(last - first + 1));
    int32_t checked = first;
    for (int64_t y = a; y < b; ++y) {
      for (; checked <= std::min(int32_t(y) + f.HalfHeight, last); ++checked)
        blank[size_t(checked - first)] = RowHasBlank(plane.Source.data() + int64_t(checked) * plane.Width, plane.Width);
      FilterRow(j, int32_t(y), blank, first, vector, avx2);
    }
  });
}

bool ApplyMedianFilter(int source, int destination, int32_t pixelCount, int32_t centreWeight, const TWorkRect& rectIn,
                       TFilterPoll& poll) {
  FilterAborted = false;
  if (!SlotInUse(source) || !SlotInUse(destination)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h) return true;
  const TWorkRect rect{std::max(rectIn.x1, 0), std::min(rectIn.x2, w - 1), std::max(rectIn.y1, 0),
                       std::min(rectIn.y2, h - 1)};
  const int32_t footprint = MedianFootprintIndex(pixelCount);
  bool stopped = false;
  for (int p = FirstChannel(destination); p >= 1 && p <= std::min(dst.PlaneCount, src.PlaneCount);
       NextChannel(destination, p)) {
    const size_t n = src.PixelCount();
    if (src.Planes[size_t(p)].size() != n || dst.Planes[size_t(p)].size() != n) continue;
    // Filtering in place reads a copy of the plane.
    TPlane copy;
    if (source == destination) copy.assign(src.Planes[size_t(p)].begin(), src.Planes[size_t(p)].end());
    const TMedianPlane plane{source == destination ? std::span<const float>(copy) : src.Planes[size_t(p)],
                             dst.Planes[size_t(p)], w, h, rect};
    if (!MedianFilterPlane(plane, footprint, centreWeight, Sse2Enabled, &poll, p)) {
      stopped = true;
      break;
    }
  }
  return EndFilterRun(poll, !stopped);
}

}  // namespace astrelon
