// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value (the warning points into their header).
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "store/planes/percentile_selection.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <vector>

#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/planes/min_max_scan.h"
#include "store/planes/percentile_binning.h"

namespace astrelon {

using namespace percentile;

namespace {

// ---- The pass: counts below, values inside, minimum and maximum ------------

void WindowRowScalar(const float* row, int32_t x, int32_t w, TWindow& a, TWindow& b, TGather& g, TPassStats& st) {
  for (; x < w; ++x) {
    const float v = row[x];
    if (!IsValidPixel(v)) continue;
    ++st.Valid;
    if (v < st.Min) st.Min = v;
    if (v > st.Max) st.Max = v;
    for (TWindow* win : {&a, &b})
      if (win->Kind == TWindowKind::Middle && v < win->Lo) ++win->Below;
    if (a.Inside(v) || b.Inside(v)) g.Take(v);
  }
}

template <TWindowKind KA, TWindowKind KB>
void WindowRowsScalar(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b, TGather& g,
                      TPassStats& st) {
  for (int32_t y = 0; y < h; ++y) WindowRowScalar(base + y * stride, 0, w, a, b, g, st);
}

#if ASTRELON_HAVE_SSE2
template <TWindowKind K>
inline __m128 InsideSse2(__m128 v, __m128 ok, __m128 lo, __m128 hi, __m128i& below) {
  if constexpr (K == TWindowKind::Lower) return _mm_and_ps(ok, _mm_cmple_ps(v, hi));
  if constexpr (K == TWindowKind::Upper) return _mm_cmpge_ps(v, lo);
  if constexpr (K == TWindowKind::Middle) {
    const __m128 under = _mm_and_ps(ok, _mm_cmplt_ps(v, lo));
    below = _mm_sub_epi32(below, _mm_castps_si128(under));
    return _mm_andnot_ps(under, _mm_and_ps(ok, _mm_cmple_ps(v, hi)));
  }
  return _mm_setzero_ps();
}

template <TWindowKind KA, TWindowKind KB>
void WindowRowsSse2(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b, TGather& g,
                    TPassStats& st) {
  const __m128 blank = _mm_set1_ps(BlankLimit);
  const __m128 loA = _mm_set1_ps(a.Lo), hiA = _mm_set1_ps(a.Hi), loB = _mm_set1_ps(b.Lo), hiB = _mm_set1_ps(b.Hi);
  const __m128 start = _mm_set1_ps(1e20f);
  __m128 mn = start, mx = blank;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    __m128i nValid = _mm_setzero_si128(), belowA = nValid, belowB = nValid;
    int32_t x = 0;
    for (; x + 4 <= w; x += 4) {
      const __m128 v = _mm_loadu_ps(row + x);
      const __m128 ok = _mm_cmpgt_ps(v, blank);
      nValid = _mm_sub_epi32(nValid, _mm_castps_si128(ok));
      mn = _mm_min_ps(_mm_or_ps(_mm_and_ps(ok, v), _mm_andnot_ps(ok, start)), mn);
      mx = _mm_max_ps(v, mx);
      __m128 in = InsideSse2<KA>(v, ok, loA, hiA, belowA);
      if constexpr (KB != TWindowKind::None) in = _mm_or_ps(in, InsideSse2<KB>(v, ok, loB, hiB, belowB));
      const int m = _mm_movemask_ps(in);
      if (m != 0)
        for (int l = 0; l < 4; ++l)
          if (m & (1 << l)) g.Take(row[x + l]);
    }
    alignas(16) int32_t c[12];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), nValid);
    _mm_store_si128(reinterpret_cast<__m128i*>(c + 4), belowA);
    _mm_store_si128(reinterpret_cast<__m128i*>(c + 8), belowB);
    st.Valid += int64_t(c[0]) + c[1] + c[2] + c[3];
    a.Below += int64_t(c[4]) + c[5] + c[6] + c[7];
    b.Below += int64_t(c[8]) + c[9] + c[10] + c[11];
    WindowRowScalar(row, x, w, a, b, g, st);
  }
  alignas(16) float l[4], u[4];
  _mm_store_ps(l, mn);
  _mm_store_ps(u, mx);
  for (int i = 0; i < 4; ++i) {
    st.Min = std::min(st.Min, l[i]);
    st.Max = std::max(st.Max, u[i]);
  }
}
#endif

#if ASTRELON_HAVE_AVX2
template <TWindowKind K>
ASTRELON_AVX2 inline __m256 InsideAvx2(__m256 v, __m256 ok, __m256 lo, __m256 hi, __m256i& below) {
  if constexpr (K == TWindowKind::Lower) return _mm256_and_ps(ok, _mm256_cmp_ps(v, hi, _CMP_LE_OQ));
  if constexpr (K == TWindowKind::Upper) return _mm256_cmp_ps(v, lo, _CMP_GE_OQ);
  if constexpr (K == TWindowKind::Middle) {
    const __m256 under = _mm256_and_ps(ok, _mm256_cmp_ps(v, lo, _CMP_LT_OQ));
    below = _mm256_sub_epi32(below, _mm256_castps_si256(under));
    return _mm256_andnot_ps(under, _mm256_and_ps(ok, _mm256_cmp_ps(v, hi, _CMP_LE_OQ)));
  }
  return _mm256_setzero_ps();
}

// Gathered values are packed with a permutation, without branches; `size` counts
// every gathered value, stores stop once it passes the capacity.
ASTRELON_AVX2 inline void GatherAvx2(__m256 v, __m256 in, float* data, int64_t capacity, int64_t& size) {
  const int m = _mm256_movemask_ps(in);
  if (size <= capacity) {
    const __m256i idx = _mm256_load_si256(reinterpret_cast<const __m256i*>(CompactTable.Index[size_t(m)].data()));
    _mm256_storeu_ps(data + size, _mm256_permutevar8x32_ps(v, idx));
  }
  size += _mm_popcnt_u32(unsigned(m));
}

template <TWindowKind KA, TWindowKind KB>
ASTRELON_AVX2 void WindowRowsAvx2(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b,
                                  TGather& g, TPassStats& st) {
  const __m256 blank = _mm256_set1_ps(BlankLimit);
  const __m256 loA = _mm256_set1_ps(a.Lo), hiA = _mm256_set1_ps(a.Hi);
  const __m256 loB = _mm256_set1_ps(b.Lo), hiB = _mm256_set1_ps(b.Hi);
  const __m256 start = _mm256_set1_ps(1e20f);
  __m256 mn0 = start, mn1 = start, mx0 = blank, mx1 = blank;
  float* const data = g.Data.get();
  const int64_t capacity = g.Capacity;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    __m256i nValid = _mm256_setzero_si256(), belowA = nValid, belowB = nValid;
    int64_t size = g.Size;
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
      const __m256 v0 = _mm256_loadu_ps(row + x), v1 = _mm256_loadu_ps(row + x + 8);
      const __m256 ok0 = _mm256_cmp_ps(v0, blank, _CMP_GT_OQ), ok1 = _mm256_cmp_ps(v1, blank, _CMP_GT_OQ);
      nValid = _mm256_sub_epi32(nValid, _mm256_castps_si256(ok0));
      nValid = _mm256_sub_epi32(nValid, _mm256_castps_si256(ok1));
      mn0 = _mm256_min_ps(_mm256_blendv_ps(start, v0, ok0), mn0);
      mn1 = _mm256_min_ps(_mm256_blendv_ps(start, v1, ok1), mn1);
      mx0 = _mm256_max_ps(v0, mx0);
      mx1 = _mm256_max_ps(v1, mx1);
      __m256 in0 = InsideAvx2<KA>(v0, ok0, loA, hiA, belowA);
      __m256 in1 = InsideAvx2<KA>(v1, ok1, loA, hiA, belowA);
      if constexpr (KB != TWindowKind::None) {
        in0 = _mm256_or_ps(in0, InsideAvx2<KB>(v0, ok0, loB, hiB, belowB));
        in1 = _mm256_or_ps(in1, InsideAvx2<KB>(v1, ok1, loB, hiB, belowB));
      }
      GatherAvx2(v0, in0, data, capacity, size);
      GatherAvx2(v1, in1, data, capacity, size);
    }
    g.Size = size;
    alignas(32) int32_t c[24];
    _mm256_store_si256(reinterpret_cast<__m256i*>(c), nValid);
    _mm256_store_si256(reinterpret_cast<__m256i*>(c + 8), belowA);
    _mm256_store_si256(reinterpret_cast<__m256i*>(c + 16), belowB);
    for (int i = 0; i < 8; ++i) {
      st.Valid += c[i];
      a.Below += c[8 + i];
      b.Below += c[16 + i];
    }
    WindowRowScalar(row, x, w, a, b, g, st);
  }
  alignas(32) float l[8], u[8];
  _mm256_store_ps(l, _mm256_min_ps(mn0, mn1));
  _mm256_store_ps(u, _mm256_max_ps(mx0, mx1));
  for (int i = 0; i < 8; ++i) {
    st.Min = std::min(st.Min, l[i]);
    st.Max = std::max(st.Max, u[i]);
  }
}

// Sixteen values at a time; the lanes' masks select, count and pack.
template <TWindowKind K>
[[gnu::always_inline]] ASTRELON_AVX512 inline __mmask16 InsideAvx512(__m512 v, __mmask16 ok, __m512 lo, __m512 hi,
                                                                      __m512i& below) {
  if constexpr (K == TWindowKind::Lower) return _mm512_mask_cmp_ps_mask(ok, v, hi, _CMP_LE_OQ);
  if constexpr (K == TWindowKind::Upper) return _mm512_cmp_ps_mask(v, lo, _CMP_GE_OQ);
  if constexpr (K == TWindowKind::Middle) {
    const __mmask16 under = _mm512_mask_cmp_ps_mask(ok, v, lo, _CMP_LT_OQ);
    below = _mm512_mask_sub_epi32(below, under, below, _mm512_set1_epi32(-1));
    return _mm512_mask_cmp_ps_mask(_kandn_mask16(under, ok), v, hi, _CMP_LE_OQ);
  }
  return 0;
}

template <TWindowKind KA, TWindowKind KB>
ASTRELON_AVX512 void WindowRowsAvx512(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b,
                                      TGather& g, TPassStats& st) {
  const __m512 blank = _mm512_set1_ps(BlankLimit);
  const __m512 loA = _mm512_set1_ps(a.Lo), hiA = _mm512_set1_ps(a.Hi);
  const __m512 loB = _mm512_set1_ps(b.Lo), hiB = _mm512_set1_ps(b.Hi);
  const __m512i minusOne = _mm512_set1_epi32(-1);
  __m512 mn = _mm512_set1_ps(1e20f), mx = blank;
  float* const data = g.Data.get();
  const int64_t capacity = g.Capacity;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    __m512i nValid = _mm512_setzero_si512(), belowA = nValid, belowB = nValid;
    int64_t size = g.Size;
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
      const __m512 v = _mm512_loadu_ps(row + x);
      const __mmask16 ok = _mm512_cmp_ps_mask(v, blank, _CMP_GT_OQ);
      nValid = _mm512_mask_sub_epi32(nValid, ok, nValid, minusOne);
      mn = _mm512_mask_min_ps(mn, ok, v, mn);
      mx = _mm512_max_ps(v, mx);
      __mmask16 in = InsideAvx512<KA>(v, ok, loA, hiA, belowA);
      if constexpr (KB != TWindowKind::None) in = _kor_mask16(in, InsideAvx512<KB>(v, ok, loB, hiB, belowB));
      if (size <= capacity) _mm512_storeu_ps(data + size, _mm512_maskz_compress_ps(in, v));
      size += _mm_popcnt_u32(_cvtmask16_u32(in));
    }
    g.Size = size;
    st.Valid += _mm512_reduce_add_epi32(nValid);
    if constexpr (KA == TWindowKind::Middle) a.Below += _mm512_reduce_add_epi32(belowA);
    if constexpr (KB == TWindowKind::Middle) b.Below += _mm512_reduce_add_epi32(belowB);
    WindowRowScalar(row, x, w, a, b, g, st);
  }
  st.Min = std::min(st.Min, _mm512_reduce_min_ps(mn));
  st.Max = std::max(st.Max, _mm512_reduce_max_ps(mx));
}
#endif

using TRowsFn = void (*)(const float*, int32_t, int32_t, int64_t, TWindow&, TWindow&, TGather&, TPassStats&);

template <TWindowKind KA, TWindowKind KB>
TRowsFn RowsFnOf(bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(vector)) return WindowRowsAvx512<KA, KB>;
  if (UseAvx2(vector)) return WindowRowsAvx2<KA, KB>;
#endif
#if ASTRELON_HAVE_SSE2
  if (vector) return WindowRowsSse2<KA, KB>;
#endif
  return WindowRowsScalar<KA, KB>;
}

template <TWindowKind KA>
TRowsFn RowsFnB(TWindowKind b, bool vector) {
  switch (b) {
    case TWindowKind::Lower: return RowsFnOf<KA, TWindowKind::Lower>(vector);
    case TWindowKind::Middle: return RowsFnOf<KA, TWindowKind::Middle>(vector);
    case TWindowKind::Upper: return RowsFnOf<KA, TWindowKind::Upper>(vector);
    default: return RowsFnOf<KA, TWindowKind::None>(vector);
  }
}

TRowsFn RowsFn(TWindowKind a, TWindowKind b, bool vector) {
  switch (a) {
    case TWindowKind::Lower: return RowsFnB<TWindowKind::Lower>(b, vector);
    case TWindowKind::Middle: return RowsFnB<TWindowKind::Middle>(b, vector);
    default: return RowsFnB<TWindowKind::Upper>(b, vector);
  }
}

// ---- The sample and its windows ---------------------------------------------

// Valid values of stretches spread over the rectangle: 512 stretches of 32
// pixels from large rectangles, about a thirty-second of the pixels (512 at
// least) in stretches of 8 from smaller ones.
std::vector<float> SampleRect(const float* base, int32_t w, int32_t h, int64_t stride) {
  const int64_t n = int64_t(w) * int64_t(h);
  const bool large = n >= (int64_t(1) << 18);
  const int64_t length = large ? 32 : 8;
  const int64_t stretches = (large ? 16384 : std::clamp<int64_t>(n / 32, 512, 16384)) / length;
  std::vector<float> s;
  if (n < length * 2) return s;
  s.reserve(size_t(stretches * length));
  for (int64_t c = 0; c < stretches; ++c) {
    const int64_t start = c * (n - length) / (stretches - 1);
    int64_t y = start / w, x = start % w;
    for (int64_t i = 0; i < length; ++i, ++x) {
      if (x == w) x = 0, ++y;
      const float v = base[y * stride + x];
      if (IsValidPixel(v)) s.push_back(v);
    }
  }
  return s;
}

// Ranks of the sample around the fraction, wide enough that the rank of the
// whole rectangle falls between their values unless the sample misleads badly;
// a side beyond the sample stays open.
struct TWindowRanks {
  int64_t Lo = 0, Hi = 0;
  bool HasLo = false, HasHi = false;
};
TWindowRanks RanksAround(int64_t size, double fraction) {
  TWindowRanks r;
  const double s = double(size);
  fraction = std::clamp(fraction, 0.0, 1.0);
  const double centre = fraction * s;
  const double margin = 4.0 * std::sqrt(s * fraction * (1.0 - fraction)) + 0.001 * s + 8.0;
  r.Lo = int64_t(std::floor(centre - margin));
  r.Hi = int64_t(std::ceil(centre + margin));
  r.HasLo = r.Lo > 0;
  r.HasHi = r.Hi < size - 1;
  return r;
}

// Puts the values of the given ranks (ascending, distinct, inside [first,
// last)) at their places, as nth_element does for one.
void SelectRanks(std::vector<float>& v, std::span<const int64_t> ranks, int64_t first, int64_t last) {
  if (ranks.empty()) return;
  const size_t mid = ranks.size() / 2;
  const int64_t r = ranks[mid];
  std::nth_element(v.begin() + first, v.begin() + r, v.begin() + last);
  SelectRanks(v, ranks.first(mid), first, r);
  SelectRanks(v, ranks.subspan(mid + 1), r + 1, last);
}

TWindow WindowOf(const TWindowRanks& r, const std::vector<float>& sorted) {
  TWindow win;
  if (r.HasLo) win.Lo = sorted[size_t(r.Lo)];
  if (r.HasHi) win.Hi = sorted[size_t(r.Hi)];
  win.Kind = r.HasLo && r.HasHi ? TWindowKind::Middle : r.HasLo ? TWindowKind::Upper : TWindowKind::Lower;
  if (!r.HasLo && !r.HasHi) win.Hi = std::numeric_limits<float>::max();  // the whole range
  return win;
}

// ---- Selection among the gathered values ------------------------------------

// The bin of the k-th smallest (0-based) of n values, all inside [lo, hi]: the
// k-th smallest bin (bins grow with the values), counted in a histogram of the
// bins between Bin(lo) and Bin(hi), or selected where those are many more
// than the values.
int32_t KthBin(const float* values, int64_t n, int64_t k, float lo, float hi, const TBinning& b, bool vector) {
  std::vector<int32_t> bins(static_cast<size_t>(n));
  ValueBins(values, n, b, bins.data(), vector);
  const int32_t b0 = b.Bin(lo), range = b.Bin(hi) - b0 + 1;
  if (range > 4 * n) {
    std::nth_element(bins.begin(), bins.begin() + k, bins.end());
    return bins[size_t(k)];
  }
  // Four sets of counts for neighbouring values, which often fall into one bin.
  const int sets = range <= 16384 ? 4 : 1;
  std::vector<uint32_t> counts(size_t(range) * size_t(sets), 0);
  for (int64_t i = 0; i < n; ++i) ++counts[size_t(i & (sets - 1)) * size_t(range) + size_t(bins[size_t(i)] - b0)];
  int64_t below = 0;
  for (int32_t bin = 0; bin < range; ++bin) {
    int64_t c = 0;
    for (int s = 0; s < sets; ++s) c += counts[size_t(s) * size_t(range) + size_t(bin)];
    if (below + c > k) return b0 + bin;
    below += c;
  }
  return b0 + range - 1;  // not reached: k < n
}

// The values of a window among n gathered ones, in their order.
template <TWindowKind K>
int64_t InsideOf(const TWindow& win, const float* values, int64_t n, float* out) {
  const TWindow w{K, win.Lo, win.Hi};
  int64_t m = 0;
  for (int64_t i = 0; i < n; ++i) {
    out[m] = values[i];
    m += w.Inside(values[i]) ? 1 : 0;
  }
  return m;
}
int64_t Inside(const TWindow& win, const float* values, int64_t n, float* out) {
  switch (win.Kind) {
    case TWindowKind::Lower: return InsideOf<TWindowKind::Lower>(win, values, n, out);
    case TWindowKind::Middle: return InsideOf<TWindowKind::Middle>(win, values, n, out);
    case TWindowKind::Upper: return InsideOf<TWindowKind::Upper>(win, values, n, out);
    default: return 0;
  }
}

}  // namespace

// ---- TLevelSelection --------------------------------------------------------

TLevelSelection::TLevelSelection(std::span<const float> rect, int32_t w, int32_t h, int64_t stride, double pctA,
                                 double pctB)
    : pctA_(pctA), pctB_(pctB) {
  if (w <= 0 || h <= 0) return;
  CheckRect(rect.size(), w, h, stride);
  same_ = std::fabs(pctB - pctA) <= 1e-9;
  std::vector<float> sample = SampleRect(rect.data(), w, h, stride);
  if (sample.size() < 256) return;
  const int64_t size = int64_t(sample.size());
  const TWindowRanks ra = RanksAround(size, pctA / 100.0);
  TWindowRanks rb;
  if (!same_) rb = RanksAround(size, pctB / 100.0);
  std::vector<int64_t> ranks;
  for (const TWindowRanks* r : std::initializer_list<const TWindowRanks*>{&ra, &rb}) {
    if (r->HasLo) ranks.push_back(r->Lo);
    if (r->HasHi) ranks.push_back(r->Hi);
  }
  std::sort(ranks.begin(), ranks.end());
  ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
  SelectRanks(sample, ranks, 0, size);
  a_ = WindowOf(ra, sample);
  if (!same_) b_ = WindowOf(rb, sample);
  capacity_ = int64_t(w) * int64_t(h) / 16 + 16384;
  usable_ = true;
}

bool TLevelSelection::WindowA(float& lo, float& hi) const {
  if (a_.Kind != TWindowKind::Middle) return false;
  lo = a_.Lo;
  hi = a_.Hi;
  return true;
}

TLevelSelection::TPart::TPart(const TLevelSelection& s, bool vector)
    : A(s.a_), B(s.b_), Gather(s.capacity_), rows_(RowsFn(s.a_.Kind, s.b_.Kind, vector)) {
  A.Below = 0;
  B.Below = 0;
}

std::unique_ptr<TLevelSelection::TPart> TLevelSelection::NewPart(bool vector) const {
  return std::unique_ptr<TPart>(new TPart(*this, vector));
}

void TLevelSelection::Merge(TPart& part) {
  a_.Below += part.A.Below;
  b_.Below += part.B.Below;
  stats_.Valid += part.Stats.Valid;
  stats_.Min = std::min(stats_.Min, part.Stats.Min);
  stats_.Max = std::max(stats_.Max, part.Stats.Max);
  TGather& g = part.Gather;
  if (!gather_.Data) {
    std::swap(gather_, g);
    return;
  }
  // Each part could keep up to the whole capacity, so nothing is lost unless
  // the total overflows, which Size then tells.
  const int64_t total = gather_.Size + g.Size;
  if (total <= gather_.Capacity) std::copy_n(g.Data.get(), size_t(g.Size), gather_.Data.get() + gather_.Size);
  gather_.Size = total;
}

void TLevelSelection::AddRect(const float* base, int32_t w, int32_t h, int64_t stride, bool vector) {
  if (w <= 0 || h <= 0) return;
  const int threads = PassThreads(w, h);
  std::vector<std::unique_ptr<TPart>> parts;
  for (int k = 0; k < threads; ++k) parts.push_back(NewPart(vector));
  ForEachBand(h, threads, [&](int64_t first, int64_t last) {
    // ForEachBand's band k starts at h * k / threads.
    int k = 0;
    while (k + 1 < threads && int64_t(h) * (k + 1) / threads <= first) ++k;
    parts[size_t(k)]->AddRows(base + first * stride, w, int32_t(last - first), stride);
  });
  for (auto& part : parts) Merge(*part);
}

TLevelSelection::TResult TLevelSelection::Finish(TPercentileLevels& levels, float& mn, float& mx, bool vector) {
  if (stats_.Max > NoMinimum) return TResult::NeedsClamp;
  FinishMinMax(stats_.Min, stats_.Max, mn, mx);
  if (stats_.Valid <= 0) return TResult::NoValid;
  // Only values of 1e18 (a range of 0..1 that bins them outside): the histogram decides.
  if (!(stats_.Min < NoMinimum) || gather_.Overflowed() || !gather_.Data) return TResult::Fallback;
  const TBinning b(mn, mx);
  const int64_t count = stats_.Valid;
  std::vector<float> inside;
  auto binOf = [&](double pct, const TWindow& win, int32_t& bin) {
    const int64_t rank = RankOfLevel(pct, count);
    if (rank == 0) {
      bin = 0;
      return true;
    }
    if (rank < 0) {
      bin = SearchedBins;
      return true;
    }
    // With one window every gathered value lies inside it.
    const float* values = gather_.Data.get();
    int64_t n = gather_.Size;
    if (b_.Kind != TWindowKind::None) {
      inside.resize(size_t(n));
      n = Inside(win, values, n, inside.data());
      values = inside.data();
    }
    const int64_t below = win.Kind == TWindowKind::Middle ? win.Below
                          : win.Kind == TWindowKind::Upper ? count - n
                                                           : 0;
    const int64_t k = rank - below - 1;
    if (k < 0 || k >= n) return false;
    // Inside values lie between the window's sides, or the rectangle's minimum
    // and maximum where a side is open.
    const float lo = win.Kind == TWindowKind::Lower ? mn : win.Lo;
    const float hi = win.Kind == TWindowKind::Upper ? mx : std::min(win.Hi, mx);
    bin = KthBin(values, n, k, lo, hi, b, vector);
    return true;
  };
  int32_t binA = 0, binB = 0;
  if (!binOf(pctA_, a_, binA)) return TResult::Fallback;
  if (!same_ && !binOf(pctB_, b_, binB)) return TResult::Fallback;
  levels.RectMin = mn;
  levels.RectMax = mx;
  levels.LevelA = b.Level(binA);
  levels.LevelB = same_ ? levels.LevelA : b.Level(binB);
  return TResult::Done;
}

}  // namespace astrelon
