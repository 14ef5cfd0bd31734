// Display histograms of a slot and the invariants of its display range.
#include <array>
#include "store/display/display_histogram.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <mutex>
#include <span>

#include "common/round_even.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/parallel_chunks.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/display/display_bounds.h"
#include "store/display/histogram_axis.h"
#include "store/image_store.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// GCC 12 reports the undefined vectors its AVX-512 intrinsics start from as
// possibly uninitialised; they are overwritten.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace astrelon {

bool HistogramWindowVisible = false;

namespace {

// Curve follow-up after black or white moved: the user points keep their place
// relative to black and white.
void RescaleCurveToRange(TDisplayRecord& d) {
  auto& cp = d.CurvePoints;
  if (d.White == cp[6].X && d.Black == cp[0].X) return;
  const double lo = cp[0].X;
  double hi = cp[6].X;
  if (lo + 0.0001 > hi) hi = lo + 0.0001;
  const double scale = (double(d.White) - double(d.Black)) / (hi - lo);
  for (int k = 1; k <= 5; ++k) cp[k].X = float((cp[k].X - lo) * scale + d.Black);
  cp[0].X = d.Black;
  cp[6].X = d.White;
}

// Curve x values strictly increasing from point 1 to point 6, inside the axis.
void OrderCurvePoints(TDisplayRecord& d) {
  auto& cp = d.CurvePoints;
  if (cp[1].X < d.Black) cp[1].X = d.Black;
  for (int k = 2; k <= 6; ++k)
    if (cp[k].X <= cp[k - 1].X) cp[k].X = StepAbove(cp[k - 1].X, 0.0001f);
  if (cp[6].X > d.RangeHigh) cp[6].X = d.RangeHigh;
  for (int k = 5; k >= 1; --k)
    if (cp[k].X >= cp[k + 1].X) cp[k].X = StepBelow(cp[k + 1].X, 0.0001f);
}

}  // namespace

void ClampDisplayRange(int slot, bool shrinkRange) {
  if (slot < 0 || slot >= SlotArraySize) return;
  TDisplayRecord& d = Store.Display[slot];
  const float mn = Store.Image[slot].MinValue;
  const float mx = Store.Image[slot].MaxValue;
  if (d.RangeHigh < mx) d.RangeHigh = mx;
  if (d.RangeLow > mn) d.RangeLow = mn;
  if (d.White > d.RangeHigh) d.White = d.RangeHigh;
  if (d.Black < d.RangeLow) d.Black = d.RangeLow;
  if (StepAbove(mn, 0.001f) > d.White) d.White = StepAbove(mn, 0.001f);
  if (StepBelow(d.White, 0.001f) < d.Black) d.Black = StepBelow(d.White, 0.001f);
  if (d.RangeHigh < d.White) d.RangeHigh = d.White;
  if (d.RangeLow > d.Black) d.RangeLow = d.Black;
  if (shrinkRange) {
    if (d.RangeHigh > d.White && d.RangeHigh > mx) d.RangeHigh = std::max(mx, d.White);
    if (d.RangeLow < d.Black && d.RangeLow < mn) {
      d.RangeLow = std::min(mn, d.Black);
      if (Options.BlackToZero) {
        if (d.RangeLow > 0) d.RangeLow = 0;
        if (d.Black > 0) d.Black = 0;
        // Black may have passed a negative white: keep white above black.
        if (StepAbove(d.Black, 0.001f) > d.White) d.White = StepAbove(d.Black, 0.001f);
        if (d.RangeHigh < d.White) d.RangeHigh = d.White;
      }
    }
  }
  RescaleCurveToRange(d);
}

void CopyDisplayRecord(int src, int dst) {
  if (src < 0 || src >= SlotArraySize || dst < 0 || dst >= SlotArraySize) return;
  Store.Display[dst] = Store.Display[src];
  Store.Display[dst].Changed = 1;
}

THistogramAxis HistogramAxisOf(const TDisplayRecord& d) {
  THistogramAxis a;
  a.SqrtScale = d.SqrtHistogram != 0;
  a.Low = d.RangeLow;
  double width = double(d.RangeHigh) - double(d.RangeLow);
  a.Threshold = d.RangeLow;
  double s0 = 0;
  if (d.SpanBlackWhite) {
    if (a.SqrtScale) {
      width = double(d.White) - double(a.Low);
      s0 = std::sqrt(std::max(0.0, double(d.Black) - double(a.Low)));
      a.Threshold = d.Black;
    } else {
      a.Low = d.Black;
      a.Threshold = d.Black;
      width = double(d.White) - double(d.Black);
    }
  }
  if (!(width >= 0.001)) width = 0.001;
  double denom = a.SqrtScale ? std::sqrt(width) - s0 : width;
  if (!(denom > 1e-30)) denom = 1e-30;
  a.Factor = float(std::min(500.0 / denom, 1e30));
  a.Sqrt0 = float(s0);
  return a;
}

// Bin of one value, or -1 when the value is not counted.
static inline int HistogramBinScalar(float v, const THistogramAxis& a) {
  if (!(v > BlankLimit) || !(v >= a.Threshold)) return -1;
  float t;
  if (a.SqrtScale)
    t = (std::sqrt(std::max(v - a.Low, 0.0f)) - a.Sqrt0) * a.Factor;
  else
    t = (v - a.Low) * a.Factor;
  if (!(t >= -0.5f && t <= 500.5f)) return -1;
  return RoundEvenToInt(t);
}

namespace {

// Partial histograms, one per lane, so that runs of equal bins do not wait on
// each other's increments; entry `Trash` takes the values that are not counted.
constexpr size_t Trash = HistogramEntries;
using TPartialCounts = std::array<std::array<uint32_t, HistogramEntries + 1>, 8>;

#if ASTRELON_HAVE_AVX2
// The eight-wide twin of the SSE2 loop below (the same operations lane for lane).
ASTRELON_AVX2 size_t CountHistogramAvx2(std::span<const float> values, const THistogramAxis& a, TPartialCounts& part) {
  const __m256 low = _mm256_set1_ps(a.Low), thr = _mm256_set1_ps(a.Threshold), blank = _mm256_set1_ps(BlankLimit);
  const __m256 f = _mm256_set1_ps(a.Factor), s0 = _mm256_set1_ps(a.Sqrt0);
  const __m256 lower = _mm256_set1_ps(-0.5f), upper = _mm256_set1_ps(500.5f), zero = _mm256_setzero_ps();
  const __m256i one = _mm256_set1_epi32(1), trash = _mm256_set1_epi32(int32_t(Trash));
  alignas(32) int32_t idx[8];
  size_t i = 0;
  for (; i + 8 <= values.size(); i += 8) {
    const __m256 v = _mm256_loadu_ps(values.data() + i);
    const __m256 t = a.SqrtScale
                         ? _mm256_mul_ps(_mm256_sub_ps(_mm256_sqrt_ps(_mm256_max_ps(_mm256_sub_ps(v, low), zero)), s0), f)
                         : _mm256_mul_ps(_mm256_sub_ps(v, low), f);
    __m256 ok = _mm256_and_ps(_mm256_cmp_ps(v, blank, _CMP_GT_OQ), _mm256_cmp_ps(v, thr, _CMP_GE_OQ));
    ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(t, lower, _CMP_GE_OQ), _mm256_cmp_ps(t, upper, _CMP_LE_OQ)));
    const __m256i okMask = _mm256_castps_si256(ok);
    const __m256i bin = _mm256_add_epi32(_mm256_cvtps_epi32(_mm256_and_ps(t, ok)), one);
    _mm256_store_si256(reinterpret_cast<__m256i*>(idx), _mm256_blendv_epi8(trash, bin, okMask));
    for (size_t l = 0; l < 8; ++l) ++part[l][size_t(idx[l])];
  }
  return i;
}

// Sixteen values at a time where the processor has AVX-512: the AVX2 loop's
// operations lane for lane; lanes l and l + 8 share partial table l, whose
// offset is added to the bin before the increments.
ASTRELON_AVX512 size_t CountHistogramAvx512(std::span<const float> values, const THistogramAxis& a,
                                                  TPartialCounts& part) {
  const __m512 low = _mm512_set1_ps(a.Low), thr = _mm512_set1_ps(a.Threshold), blank = _mm512_set1_ps(BlankLimit);
  const __m512 f = _mm512_set1_ps(a.Factor), s0 = _mm512_set1_ps(a.Sqrt0);
  const __m512 lower = _mm512_set1_ps(-0.5f), upper = _mm512_set1_ps(500.5f), zero = _mm512_setzero_ps();
  const __m512i one = _mm512_set1_epi32(1), trash = _mm512_set1_epi32(int32_t(Trash));
  constexpr int32_t Row = int32_t(HistogramEntries + 1);
  const __m512i table = _mm512_setr_epi32(0, Row, 2 * Row, 3 * Row, 4 * Row, 5 * Row, 6 * Row, 7 * Row, 0, Row, 2 * Row,
                                          3 * Row, 4 * Row, 5 * Row, 6 * Row, 7 * Row);
  uint32_t* counts = part[0].data();
  alignas(64) uint32_t idx[16];
  size_t i = 0;
  for (; i + 16 <= values.size(); i += 16) {
    const __m512 v = _mm512_loadu_ps(values.data() + i);
    const __m512 t = a.SqrtScale
                         ? _mm512_mul_ps(_mm512_sub_ps(_mm512_sqrt_ps(_mm512_max_ps(_mm512_sub_ps(v, low), zero)), s0), f)
                         : _mm512_mul_ps(_mm512_sub_ps(v, low), f);
    const __mmask16 ok = _mm512_cmp_ps_mask(v, blank, _CMP_GT_OQ) & _mm512_cmp_ps_mask(v, thr, _CMP_GE_OQ) &
                         _mm512_cmp_ps_mask(t, lower, _CMP_GE_OQ) & _mm512_cmp_ps_mask(t, upper, _CMP_LE_OQ);
    const __m512i bin = _mm512_mask_add_epi32(trash, ok, _mm512_cvtps_epi32(t), one);
    _mm512_store_si512(idx, _mm512_add_epi32(bin, table));
    ++counts[idx[0]], ++counts[idx[1]], ++counts[idx[2]], ++counts[idx[3]];
    ++counts[idx[4]], ++counts[idx[5]], ++counts[idx[6]], ++counts[idx[7]];
    ++counts[idx[8]], ++counts[idx[9]], ++counts[idx[10]], ++counts[idx[11]];
    ++counts[idx[12]], ++counts[idx[13]], ++counts[idx[14]], ++counts[idx[15]];
  }
  return i;
}
#endif

}  // namespace

void CountHistogram(std::span<const float> values, const THistogramAxis& a,
                    std::span<uint32_t, HistogramEntries> entries, bool useSse2) {
  size_t i = 0;
  const size_t n = values.size();
  TPartialCounts part{};
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(useSse2))
    i = CountHistogramAvx512(values, a, part);
  else if (UseAvx2(useSse2))
    i = CountHistogramAvx2(values, a, part);
#endif
#if defined(__SSE2__)
  if (useSse2) {
    const __m128 low = _mm_set1_ps(a.Low);
    const __m128 thr = _mm_set1_ps(a.Threshold);
    const __m128 blank = _mm_set1_ps(BlankLimit);
    const __m128 f = _mm_set1_ps(a.Factor);
    const __m128 s0 = _mm_set1_ps(a.Sqrt0);
    const __m128 lower = _mm_set1_ps(-0.5f);
    const __m128 upper = _mm_set1_ps(500.5f);
    const __m128 zero = _mm_setzero_ps();
    const __m128i one = _mm_set1_epi32(1);
    const __m128i trash = _mm_set1_epi32(int32_t(Trash));
    alignas(16) int32_t idx[4];
    for (; i + 4 <= n; i += 4) {
      const __m128 v = _mm_loadu_ps(values.data() + i);
      __m128 t;
      if (a.SqrtScale)
        t = _mm_mul_ps(_mm_sub_ps(_mm_sqrt_ps(_mm_max_ps(_mm_sub_ps(v, low), zero)), s0), f);
      else
        t = _mm_mul_ps(_mm_sub_ps(v, low), f);
      // Ordered compares are false for NaN, so NaN drops out like a blank.
      __m128 ok = _mm_and_ps(_mm_cmpgt_ps(v, blank), _mm_cmpge_ps(v, thr));
      ok = _mm_and_ps(ok, _mm_and_ps(_mm_cmpge_ps(t, lower), _mm_cmple_ps(t, upper)));
      // Out-of-range lanes are zeroed before the conversion (rounding to nearest
      // even, as the scalar path) and then sent to the trash entry.
      const __m128i okMask = _mm_castps_si128(ok);
      __m128i bin = _mm_add_epi32(_mm_cvtps_epi32(_mm_and_ps(t, ok)), one);
      bin = _mm_or_si128(_mm_and_si128(okMask, bin), _mm_andnot_si128(okMask, trash));
      _mm_store_si128(reinterpret_cast<__m128i*>(idx), bin);
      ++part[0][size_t(idx[0])];
      ++part[1][size_t(idx[1])];
      ++part[2][size_t(idx[2])];
      ++part[3][size_t(idx[3])];
    }
  }
#else
  (void)useSse2;
#endif
  for (; i < n; ++i) {
    const int b = HistogramBinScalar(values[i], a);
    ++part[i & 3][b >= 0 ? size_t(b) + 1 : Trash];
  }
  for (size_t e = 1; e <= size_t(HistogramBins); ++e)
    for (const auto& p : part) entries[e] += p[e];
}

namespace {

bool SameAxis(const THistogramAxis& a, const THistogramAxis& b) {
  return a.SqrtScale == b.SqrtScale && std::bit_cast<uint32_t>(a.Low) == std::bit_cast<uint32_t>(b.Low) &&
         std::bit_cast<uint32_t>(a.Threshold) == std::bit_cast<uint32_t>(b.Threshold) &&
         std::bit_cast<uint32_t>(a.Sqrt0) == std::bit_cast<uint32_t>(b.Sqrt0) &&
         std::bit_cast<uint32_t>(a.Factor) == std::bit_cast<uint32_t>(b.Factor);
}

// The display histograms of a slot on the axis of its display record; `counted`
// (counts made on `countedAxis` while the planes were written) stands in for
// counting the planes when the axes agree.
void BuildHistogram(int slot, bool resetRange, bool updateMinMax, const THistogramAxis* countedAxis,
                    const THistogramCounts* counted) {
  if (slot < 0 || slot > MaxImageSlots || !Store.InUse[slot]) return;
  if (updateMinMax) UpdateMinMax(slot);
  ClampDisplayRange(slot, true);
  const TImageSlot& im = Store.Image[slot];
  TDisplayRecord& d = Store.Display[slot];
  if (resetRange) {
    d.RangeLow = im.MinValue;
    d.RangeHigh = im.MaxValue;
    if (d.Black < d.RangeLow) d.Black = d.RangeLow;
    if (d.White > d.RangeHigh) d.White = d.RangeHigh;
    // A black point above the image maximum would now lie above white.
    if (StepAbove(d.Black, 0.001f) > d.White) d.White = StepAbove(d.Black, 0.001f);
    if (d.RangeHigh < d.White) d.RangeHigh = d.White;
    if (d.RangeLow > d.Black) d.RangeLow = d.Black;
  }
  if (Options.BlackToZero && d.RangeLow > 0) d.RangeLow = 0;
  OrderCurvePoints(d);

  const THistogramAxis axis = HistogramAxisOf(d);
  uint32_t peak = 0;
  for (int p = 0; p < 3; ++p) d.Histogram[size_t(p)].fill(0);
  const size_t count = im.PixelCount();
  const int planes = std::min(im.PlaneCount, 3);
  if (counted && countedAxis && SameAxis(axis, *countedAxis)) {
    for (int p = 1; p <= planes; ++p)
      if (im.Planes[size_t(p)].size() >= count)
        for (size_t b = 1; b <= size_t(HistogramBins); ++b) d.Histogram[size_t(p - 1)][b] = (*counted)[size_t(p - 1)][b];
  } else {
    // Large images are counted in runs of pixels that threads take as they become
    // free (a thread held back by the system does not hold up the others); whole
    // counts add up to the same histogram in any order.
    const int threads = BandThreads(int64_t(count), int64_t(1) << 19, Options.Multicore != 0);
    std::mutex merging;
    ForEachChunk(int64_t(count), int64_t(1) << 17, threads, [&](int64_t first, int64_t last) {
      THistogramCounts part{};
      for (int p = 1; p <= planes; ++p) {
        if (im.Planes[size_t(p)].size() < count) continue;
        CountHistogram(std::span<const float>(im.Planes[size_t(p)]).subspan(size_t(first), size_t(last - first)),
                       axis, part[size_t(p - 1)], Sse2Enabled);
      }
      std::lock_guard<std::mutex> lock(merging);
      for (int p = 1; p <= planes; ++p)
        for (size_t b = 1; b <= size_t(HistogramBins); ++b) d.Histogram[size_t(p - 1)][b] += part[size_t(p - 1)][b];
    });
  }
  for (int p = 1; p <= planes; ++p) {
    if (im.Planes[size_t(p)].size() < count) continue;
    const auto& h = d.Histogram[size_t(p - 1)];
    for (int b = 1; b <= HistogramBins; ++b) peak = std::max(peak, h[size_t(b)]);
  }
  d.HistogramPeak = int32_t(std::min<uint32_t>(peak, uint32_t(std::numeric_limits<int32_t>::max())));
}

}  // namespace

void ComputeHistogram(int slot, bool resetRange, bool updateMinMax) {
  BuildHistogram(slot, resetRange, updateMinMax, nullptr, nullptr);
}

THistogramAxis LoadHistogramAxis(float white) {
  TDisplayRecord d;
  d.SqrtHistogram = 0;
  d.SpanBlackWhite = 0;
  d.RangeLow = 0;
  d.RangeHigh = white;
  d.Black = 0;
  d.White = white;
  return HistogramAxisOf(d);
}

void ComputeHistogramCounted(int slot, const THistogramAxis& axis, const THistogramCounts& counts) {
  BuildHistogram(slot, false, false, &axis, &counts);
}

}  // namespace astrelon
