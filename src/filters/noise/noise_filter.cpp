#include "filters/noise/noise_filter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/round_even.h"
#include "filters/dialog/filter_state.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/display/display_histogram.h"

namespace astrelon {

namespace {

// One neighbour of the window: where it is and its spatial weight.
struct TNeighbour {
  int32_t Dx = 0, Dy = 0;
  float Weight = 0;
};

// The neighbours within the cut-off distance, row by row.
std::vector<TNeighbour> Neighbours(const TNoiseFilterTables& t) {
  std::vector<TNeighbour> n;
  for (int32_t dy = -t.Reach; dy <= t.Reach; ++dy)
    for (int32_t dx = -t.Reach; dx <= t.Reach; ++dx) {
      const int32_t d = NoiseFilterDistance(dx, dy);
      if (d <= t.Cutoff) n.push_back({dx, dy, t.Spatial[size_t(d)]});
    }
  return n;
}

// One row: the neighbours whose rows lie inside the image, as offsets from the centre.
struct TRowJob {
  const TNoiseFilterPlanes* Planes = nullptr;
  const TNoiseFilterTables* Tables = nullptr;
  int32_t Y = 0;
  std::vector<int32_t> Dx;
  std::vector<int64_t> Offset;
  std::vector<float> Weight;
};

// Pixel x of the row, with the window clipped at the left and right image edges.
void PixelScalar(const TRowJob& j, int32_t x) {
  const TNoiseFilterPlanes& p = *j.Planes;
  const TNoiseFilterTables& t = *j.Tables;
  const int64_t at = int64_t(j.Y) * p.Width + x;
  const float g0 = p.Guide[size_t(at)];
  if (!IsValidPixel(g0)) return;
  std::array<float, 3> sum{}, weight{};
  for (size_t k = 0; k < j.Offset.size(); ++k) {
    const int32_t u = x + j.Dx[k];
    if (u < 0 || u >= p.Width) continue;
    const int64_t i = at + j.Offset[k];
    const float g = p.Guide[size_t(i)];
    const float d = std::fabs(g - g0);
    if (!IsValidPixel(g) || !(d < t.MaxDifference)) continue;
    const float w = t.Range[size_t(RoundEvenToInt(std::min(d * t.RangeScale, 255.0f)))] * j.Weight[k];
    for (int32_t q = 0; q < p.Count; ++q) {
      const float v = p.Source[size_t(q)][size_t(i)];
      if (IsValidPixel(v)) {
        sum[size_t(q)] = sum[size_t(q)] + w * v;
        weight[size_t(q)] = weight[size_t(q)] + w;
      }
    }
  }
  for (int32_t q = 0; q < p.Count; ++q)
    p.Destination[size_t(q)][size_t(at)] =
        weight[size_t(q)] > 0 ? sum[size_t(q)] / weight[size_t(q)] : p.Source[size_t(q)][size_t(at)];
}

#if ASTRELON_HAVE_SSE2
// Four pixels from x on whose windows lie inside the image (the same
// operations per lane as PixelScalar; a neighbour left out adds 0).
template <int Count>
void PixelsSse2(const TRowJob& j, int32_t x) {
  const TNoiseFilterPlanes& p = *j.Planes;
  const TNoiseFilterTables& t = *j.Tables;
  const int64_t at = int64_t(j.Y) * p.Width + x;
  const float* guide = p.Guide.data() + at;
  const __m128 g0 = _mm_loadu_ps(guide);
  const __m128 limit = _mm_set1_ps(BlankLimit), sign = _mm_set1_ps(-0.0f);
  const __m128 dmax = _mm_set1_ps(t.MaxDifference), scale = _mm_set1_ps(t.RangeScale), top = _mm_set1_ps(255.0f);
  const float* src[3];
  __m128 sum[Count], weight[Count];
  for (int q = 0; q < Count; ++q) {
    src[q] = p.Source[size_t(q)].data() + at;
    sum[q] = weight[q] = _mm_setzero_ps();
  }
  for (size_t k = 0; k < j.Offset.size(); ++k) {
    const int64_t o = j.Offset[k];
    const __m128 g = _mm_loadu_ps(guide + o);
    const __m128 d = _mm_andnot_ps(sign, _mm_sub_ps(g, g0));
    const __m128 in = _mm_and_ps(_mm_cmpgt_ps(g, limit), _mm_cmplt_ps(d, dmax));
    alignas(16) int32_t idx[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(idx), _mm_cvtps_epi32(_mm_min_ps(_mm_mul_ps(d, scale), top)));
    const __m128 range = _mm_setr_ps(t.Range[size_t(idx[0])], t.Range[size_t(idx[1])], t.Range[size_t(idx[2])],
                                     t.Range[size_t(idx[3])]);
    const __m128 w = _mm_and_ps(_mm_mul_ps(range, _mm_set1_ps(j.Weight[k])), in);
    for (int q = 0; q < Count; ++q) {
      const __m128 v = _mm_loadu_ps(src[q] + o);
      const __m128 ok = _mm_cmpgt_ps(v, limit);
      sum[q] = _mm_add_ps(sum[q], _mm_and_ps(_mm_mul_ps(w, v), ok));
      weight[q] = _mm_add_ps(weight[q], _mm_and_ps(w, ok));
    }
  }
  const __m128 write = _mm_cmpgt_ps(g0, limit);
  for (int q = 0; q < Count; ++q) {
    float* out = p.Destination[size_t(q)].data() + at;
    const __m128 some = _mm_cmpgt_ps(weight[q], _mm_setzero_ps());
    __m128 r = _mm_or_ps(_mm_and_ps(some, _mm_div_ps(sum[q], weight[q])), _mm_andnot_ps(some, _mm_loadu_ps(src[q])));
    r = _mm_or_ps(_mm_and_ps(write, r), _mm_andnot_ps(write, _mm_loadu_ps(out)));
    _mm_storeu_ps(out, r);
  }
}
#endif

#if ASTRELON_HAVE_AVX2
template <int Count>
ASTRELON_AVX2 void PixelsAvx2(const TRowJob& j, int32_t x) {
  const TNoiseFilterPlanes& p = *j.Planes;
  const TNoiseFilterTables& t = *j.Tables;
  const int64_t at = int64_t(j.Y) * p.Width + x;
  const float* guide = p.Guide.data() + at;
  const __m256 g0 = _mm256_loadu_ps(guide);
  const __m256 limit = _mm256_set1_ps(BlankLimit), sign = _mm256_set1_ps(-0.0f);
  const __m256 dmax = _mm256_set1_ps(t.MaxDifference), scale = _mm256_set1_ps(t.RangeScale);
  const __m256 top = _mm256_set1_ps(255.0f);
  const float* src[3];
  __m256 sum[Count], weight[Count];
  for (int q = 0; q < Count; ++q) {
    src[q] = p.Source[size_t(q)].data() + at;
    sum[q] = weight[q] = _mm256_setzero_ps();
  }
  for (size_t k = 0; k < j.Offset.size(); ++k) {
    const int64_t o = j.Offset[k];
    const __m256 g = _mm256_loadu_ps(guide + o);
    const __m256 d = _mm256_andnot_ps(sign, _mm256_sub_ps(g, g0));
    const __m256 in = _mm256_and_ps(_mm256_cmp_ps(g, limit, _CMP_GT_OQ), _mm256_cmp_ps(d, dmax, _CMP_LT_OQ));
    const __m256i idx = _mm256_cvtps_epi32(_mm256_min_ps(_mm256_mul_ps(d, scale), top));
    const __m256 range = _mm256_i32gather_ps(t.Range.data(), idx, 4);
    const __m256 w = _mm256_and_ps(_mm256_mul_ps(range, _mm256_set1_ps(j.Weight[k])), in);
    for (int q = 0; q < Count; ++q) {
      const __m256 v = _mm256_loadu_ps(src[q] + o);
      const __m256 ok = _mm256_cmp_ps(v, limit, _CMP_GT_OQ);
      sum[q] = _mm256_add_ps(sum[q], _mm256_and_ps(_mm256_mul_ps(w, v), ok));
      weight[q] = _mm256_add_ps(weight[q], _mm256_and_ps(w, ok));
    }
  }
  const __m256 write = _mm256_cmp_ps(g0, limit, _CMP_GT_OQ);
  for (int q = 0; q < Count; ++q) {
    float* out = p.Destination[size_t(q)].data() + at;
    const __m256 some = _mm256_cmp_ps(weight[q], _mm256_setzero_ps(), _CMP_GT_OQ);
    __m256 r = _mm256_blendv_ps(_mm256_loadu_ps(src[q]), _mm256_div_ps(sum[q], weight[q]), some);
    r = _mm256_blendv_ps(_mm256_loadu_ps(out), r, write);
    _mm256_storeu_ps(out, r);
  }
}
#endif

template <int Count>
void FilterRowOf(const TRowJob& j, bool vector, bool avx2) {
  const TNoiseFilterPlanes& p = *j.Planes;
  const TWorkRect& r = p.Rect;
  const int32_t reach = j.Tables->Reach;
  // Columns whose window lies inside the image run in vector lanes.
  const int32_t v0 = std::max(r.x1, reach), v1 = std::min(r.x2, p.Width - 1 - reach);
  int32_t x = r.x1;
  for (; x < v0 && x <= r.x2; ++x) PixelScalar(j, x);
  if (vector && v0 <= v1) {
#if ASTRELON_HAVE_AVX2
    if (avx2)
      for (; x + 8 <= v1 + 1; x += 8) PixelsAvx2<Count>(j, x);
#endif
#if ASTRELON_HAVE_SSE2
    for (; x + 4 <= v1 + 1; x += 4) PixelsSse2<Count>(j, x);
#endif
  }
  for (; x <= r.x2; ++x) PixelScalar(j, x);
}

void FilterRow(const TRowJob& j, bool vector, bool avx2) {
  switch (j.Planes->Count) {
    case 1:
      FilterRowOf<1>(j, vector, avx2);
      break;
    case 2:
      FilterRowOf<2>(j, vector, avx2);
      break;
    default:
      FilterRowOf<3>(j, vector, avx2);
      break;
  }
}

}  // namespace

int32_t NoiseFilterDistance(int32_t dx, int32_t dy) {
  return int32_t(std::nearbyint(10.0 * std::sqrt(double(dx) * dx + double(dy) * dy)));
}

TNoiseFilterTables NoiseFilterTables(float threshold, float radius, float cauchy) {
  TNoiseFilterTables t;
  const double c = std::clamp(std::isfinite(cauchy) ? double(cauchy) : 0.0, 0.0, 1.0);
  for (int i = 0; i < 256; ++i) {
    const double g = 0.04 * i, h = i / 16.0;
    t.Range[size_t(i)] = float((1 - c) * std::exp(-g * g) + c / (1 + h * h));
  }
  const double r = radius > 0 ? double(radius) : 0.0;  // also for NaN
  t.Cutoff = 150;
  bool found = false;
  for (int j = 0; j < 256; ++j) {
    // Without a radius only the centre has a weight.
    const double a = r > 0 ? j / (10 * r) : (j == 0 ? 0.0 : HUGE_VAL);
    const double b = r > 0 ? j / (6.4 * r) : a;
    t.Spatial[size_t(j)] = a > 100 ? 0.0f : float((1 - c) * std::exp(-a * a) + c / (1 + b * b));
    if (!found && t.Spatial[size_t(j)] < 0.05f) {
      found = true;
      t.Cutoff = std::min(j, 150);
    }
  }
  t.Reach = t.Cutoff / 10;
  const double s = threshold > 0 ? double(threshold) : 0.0;
  t.RangeScale = float(7.0 / (s + 0.001));
  t.MaxDifference = float(std::nearbyint(t.Cutoff * s / 7.0));
  return t;
}

bool NoiseFilterPlanes(const TNoiseFilterPlanes& planes, const TNoiseFilterTables& tables, bool vector,
                       TFilterPoll* poll) {
  const TWorkRect& r = planes.Rect;
  if (r.x1 > r.x2 || r.y1 > r.y2 || planes.Count < 1 || planes.Count > 3) return true;
  CheckRect(planes.Guide.size(), planes.Width, planes.Height, planes.Width);
  for (int32_t q = 0; q < planes.Count; ++q) {
    CheckRect(planes.Source[size_t(q)].size(), planes.Width, planes.Height, planes.Width);
    CheckRect(planes.Destination[size_t(q)].size(), planes.Width, planes.Height, planes.Width);
  }
  const std::vector<TNeighbour> neighbours = Neighbours(tables);
  const bool avx2 = UseAvx2(vector);
  // Cost units per row: chunks of rows run some ten milliseconds on one thread.
  const int64_t cost = std::max<int64_t>(1, int64_t(r.x2 - r.x1 + 1) * int64_t(neighbours.size()) * planes.Count / 64);
  return ForEachRowChunk(r.y1, int64_t(r.y2) + 1, cost, poll, 1, [&](int64_t a, int64_t b) {
    TRowJob j;
    j.Planes = &planes;
    j.Tables = &tables;
    for (int64_t y = a; y < b; ++y) {
      j.Y = int32_t(y);
      j.Dx.clear();
      j.Offset.clear();
      j.Weight.clear();
      for (const TNeighbour& n : neighbours)
        if (y + n.Dy >= 0 && y + n.Dy < planes.Height) {
          j.Dx.push_back(n.Dx);
          j.Offset.push_back(int64_t(n.Dy) * planes.Width + n.Dx);
          j.Weight.push_back(n.Weight);
        }
      FilterRow(j, vector, avx2);
    }
  });
}

bool ApplyNoiseFilter(int source, int destination, float threshold, float radius, float cauchy,
                      const TWorkRect& rectIn, TFilterPoll& poll) {
  FilterAborted = false;
  if (!SlotInUse(source) || !SlotInUse(destination)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  const size_t n = src.PixelCount();
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h) return true;
  const TWorkRect rect{std::max(rectIn.x1, 0), std::min(rectIn.x2, w - 1), std::max(rectIn.y1, 0),
                       std::min(rectIn.y2, h - 1)};

  // The guide plane and the filtered planes.
  std::span<const float> guide;
  std::vector<int> filtered;
  if (!src.IsColor || src.PlaneCount < 3) {
    guide = src.Planes[1];
    filtered.push_back(1);
  } else {
    const bool blur = SlotInUse(FilterBlurSlot) && Store.Image[size_t(FilterBlurSlot)].Width == w &&
                      Store.Image[size_t(FilterBlurSlot)].Height == h &&
                      Store.Image[size_t(FilterBlurSlot)].Planes[1].size() == n;
    guide = blur ? std::span<const float>(Store.Image[size_t(FilterBlurSlot)].Planes[1])
                 : std::span<const float>(src.Planes[src.ColorModel == CmYuv ? 1 : 2]);
    for (int p = FirstChannel(destination); p >= 1 && p <= 3; NextChannel(destination, p)) filtered.push_back(p);
  }
  TNoiseFilterPlanes planes;
  planes.Width = w;
  planes.Height = h;
  planes.Rect = rect;
  planes.Count = 0;
  // Filtering in place reads copies.
  std::array<TPlane, 4> copies;
  for (int p : filtered) {
    if (src.Planes[size_t(p)].size() != n || dst.Planes[size_t(p)].size() != n) continue;
    std::span<const float> in = src.Planes[size_t(p)];
    if (source == destination) {
      copies[size_t(p)].assign(in.begin(), in.end());
      in = copies[size_t(p)];
      if (guide.data() == src.Planes[size_t(p)].data()) guide = in;
    }
    planes.Source[size_t(planes.Count)] = in;
    planes.Destination[size_t(planes.Count)] = dst.Planes[size_t(p)];
    ++planes.Count;
  }
  planes.Guide = guide;
  if (planes.Count == 0 || guide.size() != n) return true;
  return EndFilterRun(poll, NoiseFilterPlanes(planes, NoiseFilterTables(threshold, radius, cauchy), Sse2Enabled, &poll));
}

}  // namespace astrelon
