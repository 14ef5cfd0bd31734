#include "store/planes/percentile_levels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

namespace {

constexpr int32_t HistogramBins = 65536;
constexpr int32_t SearchedBins = 65000;  // bins 0..65000 hold valid pixels
constexpr int32_t BlankBin = HistogramBins - 1;

struct TBinning {
  float Mn;
  double Scale;
  TBinning(float mn, float mx) : Mn(mn), Scale(double(SearchedBins) / std::max(double(mx) - double(mn), 0.001)) {}
  int32_t Bin(float v) const {
    const double x = std::clamp((double(v) - double(Mn)) * Scale, 0.0, double(BlankBin));
#if ASTRELON_HAVE_SSE2
    // The processor's conversion in its default mode: nearest, ties to even, as
    // nearbyint, without a library call per pixel.
    return _mm_cvtsd_si32(_mm_set_sd(x));
#else
    return int32_t(std::nearbyint(x));
#endif
  }
  double Level(int32_t bin) const { return double(bin) / Scale + double(Mn); }
};

// Round(count * pct) div 100.
int64_t TargetCount(int64_t count, double pct) {
  double t = double(count) * pct;
  if (!(t == t)) t = 0.0;
  return int64_t(std::nearbyint(std::clamp(t, -9.0e18, 9.0e18))) / 100;
}

// ---- Scalar path: the histogram -------------------------------------------

template <typename Count>
void FillHistogramScalar(const float* base, int32_t w, int32_t h, int64_t stride, const TBinning& b, Count* hist) {
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    for (int32_t x = 0; x < w; ++x) ++hist[IsValidPixel(row[x]) ? b.Bin(row[x]) : BlankBin];
  }
}

// Threads worth starting for a pass over w x h pixels (1 for small rectangles or
// without "Multicores").
int PassThreads(int32_t w, int32_t h) {
  return std::min<int>(BandThreads(int64_t(w) * int64_t(h), int64_t(1) << 19, Options.Multicore != 0), h);
}

template <typename Count>
void WalkLevels(std::span<const Count> hist, int64_t total, const TBinning& b, float mx, double pctA, double pctB,
                TPercentileLevels& levels);

template <typename Count>
void LevelsFromHistogram(const float* base, int32_t w, int32_t h, int64_t stride, const TBinning& b, float mx,
                         double pctA, double pctB, TPercentileLevels& levels) {
  std::vector<Count> hist(HistogramBins, 0);
  // Bands of rows count into histograms of their own; whole counts add up to the
  // same histogram in any order.
  const int threads = PassThreads(w, h);
  if (threads <= 1) {
    FillHistogramScalar(base, w, h, stride, b, hist.data());
  } else {
    std::mutex merging;
    ForEachBand(h, threads, [&](int64_t first, int64_t last) {
      std::vector<Count> part(HistogramBins, 0);
      FillHistogramScalar(base + first * stride, w, int32_t(last - first), stride, b, part.data());
      std::lock_guard<std::mutex> lock(merging);
      for (size_t i = 0; i < hist.size(); ++i) hist[i] += part[i];
    });
  }
  WalkLevels(std::span<const Count>(hist), int64_t(w) * int64_t(h), b, mx, pctA, pctB, levels);
}

// The walk over a finished histogram of `total` pixels (blanks in BlankBin).
template <typename Count>
void WalkLevels(std::span<const Count> hist, int64_t total, const TBinning& b, float mx, double pctA, double pctB,
                TPercentileLevels& levels) {
  const int64_t count = total - int64_t(hist[BlankBin]);
  if (count <= 0) return;
  auto level = [&](double pct) {
    const int64_t target = TargetCount(count, pct);
    int32_t bin;
    if (pct < 50) {
      int64_t sum = 0;
      for (bin = 0; bin < SearchedBins; ++bin) {
        sum += int64_t(hist[size_t(bin)]);
        if (sum >= target) break;
      }
    } else {
      int64_t rest = count;
      for (bin = SearchedBins; bin > 0; --bin) {
        rest -= int64_t(hist[size_t(bin)]);
        if (rest <= target) break;
      }
    }
    return b.Level(bin);
  };
  levels.RectMin = b.Mn;
  levels.RectMax = mx;
  levels.LevelA = level(pctA);
  levels.LevelB = std::fabs(pctB - pctA) <= 1e-9 ? levels.LevelA : level(pctB);
}

// ---- Vector path: order statistics ------------------------------------------
// Below 50 % the walk stops at the bin of the target-th smallest value; from 50 %
// on at the bin of the (target+1)-th smallest. A sample of the rectangle gives a
// window of values around each such rank; one pass counts the values below each
// window and gathers those inside, and the rank is then selected among them.
// Whenever a rank falls outside its window, the histogram decides instead.

enum class TWindowKind { None, Lower, Middle, Upper };

struct TWindow {
  TWindowKind Kind = TWindowKind::None;
  float Lo = 0, Hi = 0;  // inclusive; Lower has no Lo, Upper no Hi
  int64_t Below = 0;     // valid values below Lo (Middle only)

  bool Inside(float v) const {
    switch (Kind) {
      case TWindowKind::Lower: return IsValidPixel(v) && v <= Hi;
      case TWindowKind::Upper: return v >= Lo;
      case TWindowKind::Middle: return IsValidPixel(v) && !(v < Lo) && v <= Hi;
      default: return false;
    }
  }
};

// Values lying in either window, in reading order. Size counts all of them;
// more than Capacity means the gathering overflowed.
struct TGather {
  std::unique_ptr<float[]> Data;
  int64_t Capacity = 0;
  int64_t Size = 0;
  explicit TGather(int64_t capacity)
      : Data(std::make_unique_for_overwrite<float[]>(size_t(capacity) + 16)), Capacity(capacity) {}
  void Take(float v) {
    if (Size < Capacity) Data[size_t(Size)] = v;
    ++Size;
  }
  bool Overflowed() const { return Size > Capacity; }
};

// What the pass learns besides the windows: the number of valid values, the
// smallest valid value and the largest value (raw: a value above 1e18 means the
// rectangle still needs clamping).
struct TPassStats {
  int64_t Valid = 0;
  float Min = 1e20f;
  float Max = BlankLimit;
};

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
void WindowPassSse2(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b, TGather& g,
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
ASTRELON_AVX2 void WindowPassAvx2(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b,
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
#endif

template <TWindowKind KA, TWindowKind KB>
void WindowPassOf(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b, TGather& g,
                  TPassStats& st) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(true)) {
    WindowPassAvx2<KA, KB>(base, w, h, stride, a, b, g, st);
    return;
  }
#endif
#if ASTRELON_HAVE_SSE2
  WindowPassSse2<KA, KB>(base, w, h, stride, a, b, g, st);
#else
  for (int32_t y = 0; y < h; ++y) WindowRowScalar(base + y * stride, 0, w, a, b, g, st);
#endif
}

template <TWindowKind KA>
void WindowPassB(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b, TGather& g,
                 TPassStats& st) {
  switch (b.Kind) {
    case TWindowKind::Lower: WindowPassOf<KA, TWindowKind::Lower>(base, w, h, stride, a, b, g, st); break;
    case TWindowKind::Middle: WindowPassOf<KA, TWindowKind::Middle>(base, w, h, stride, a, b, g, st); break;
    case TWindowKind::Upper: WindowPassOf<KA, TWindowKind::Upper>(base, w, h, stride, a, b, g, st); break;
    default: WindowPassOf<KA, TWindowKind::None>(base, w, h, stride, a, b, g, st); break;
  }
}

void WindowPassRows(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b, TGather& g,
                    TPassStats& st) {
  switch (a.Kind) {
    case TWindowKind::Lower: WindowPassB<TWindowKind::Lower>(base, w, h, stride, a, b, g, st); break;
    case TWindowKind::Middle: WindowPassB<TWindowKind::Middle>(base, w, h, stride, a, b, g, st); break;
    default: WindowPassB<TWindowKind::Upper>(base, w, h, stride, a, b, g, st); break;
  }
}

// The pass over bands of rows on threads. Every figure it yields is a count, a
// minimum or maximum, or the set of gathered values (the selection does not
// depend on their order), so the result is the same with any number of bands.
void WindowPass(const float* base, int32_t w, int32_t h, int64_t stride, TWindow& a, TWindow& b, TGather& g,
                TPassStats& st) {
  const int threads = PassThreads(w, h);
  if (threads <= 1) {
    WindowPassRows(base, w, h, stride, a, b, g, st);
    return;
  }
  struct TBand {
    TWindow A, B;
    TGather G;
    TPassStats St;
    explicit TBand(const TWindow& a, const TWindow& b, int64_t capacity) : A(a), B(b), G(capacity) {
      A.Below = 0;
      B.Below = 0;
    }
  };
  std::vector<std::unique_ptr<TBand>> bands;
  for (int k = 0; k < threads; ++k) bands.push_back(std::make_unique<TBand>(a, b, g.Capacity));
  ForEachBand(h, threads, [&](int64_t first, int64_t last) {
    // ForEachBand's band k starts at h * k / threads.
    int k = 0;
    while (k + 1 < threads && int64_t(h) * (k + 1) / threads <= first) ++k;
    TBand& band = *bands[size_t(k)];
    WindowPassRows(base + first * stride, w, int32_t(last - first), stride, band.A, band.B, band.G, band.St);
  });
  int64_t total = g.Size;
  for (const auto& band : bands) {
    a.Below += band->A.Below;
    b.Below += band->B.Below;
    st.Valid += band->St.Valid;
    st.Min = std::min(st.Min, band->St.Min);
    st.Max = std::max(st.Max, band->St.Max);
    total += band->G.Size;
  }
  // Each band could keep up to the whole capacity, so nothing is lost unless the
  // total overflows, which the caller sees in Size as before.
  if (total <= g.Capacity)
    for (const auto& band : bands) {
      std::copy_n(band->G.Data.get(), size_t(band->G.Size), g.Data.get() + g.Size);
      g.Size += band->G.Size;
    }
  g.Size = total;
}

// 512 stretches of 32 pixels spread over the rectangle, valid ones only.
std::vector<float> SampleRect(const float* base, int32_t w, int32_t h, int64_t stride) {
  constexpr int64_t stretches = 512, length = 32;
  const int64_t n = int64_t(w) * int64_t(h);
  std::vector<float> s;
  s.reserve(size_t(stretches * length));
  for (int64_t c = 0; c < stretches; ++c) {
    const int64_t start = c * (n - length) / (stretches - 1);
    for (int64_t i = start; i < start + length; ++i) {
      const float v = base[(i / w) * stride + i % w];
      if (IsValidPixel(v)) s.push_back(v);
    }
  }
  return s;
}

// Window in the sample around the fraction, wide enough that the rank of the
// whole rectangle falls inside it unless the sample misleads badly.
TWindow WindowAround(std::vector<float>& sample, double fraction) {
  TWindow win;
  const double s = double(sample.size());
  fraction = std::clamp(fraction, 0.0, 1.0);
  const double centre = fraction * s;
  const double margin = 4.0 * std::sqrt(s * fraction * (1.0 - fraction)) + 0.001 * s + 8.0;
  const int64_t lo = int64_t(std::floor(centre - margin)), hi = int64_t(std::ceil(centre + margin));
  const bool hasLo = lo > 0, hasHi = hi < int64_t(sample.size()) - 1;
  auto at = [&](int64_t r) {
    std::nth_element(sample.begin(), sample.begin() + r, sample.end());
    return sample[size_t(r)];
  };
  if (hasLo) win.Lo = at(lo);
  if (hasHi) win.Hi = at(hi);
  win.Kind = hasLo && hasHi ? TWindowKind::Middle : hasLo ? TWindowKind::Upper : TWindowKind::Lower;
  if (!hasLo && !hasHi) win.Hi = std::numeric_limits<float>::max();  // the whole range
  return win;
}

// Rank (1-based) of the value whose bin ends the walk; 0 when the walk ends at
// bin 0 without one, -1 when it ends at bin 65000 without one.
int64_t RankOfLevel(double pct, int64_t count) {
  const int64_t target = TargetCount(count, pct);
  if (pct < 50) return target <= 0 ? 0 : (target > count ? -1 : target);
  return target >= count ? -1 : (target < 0 ? 0 : target + 1);
}

enum class TSelection { Done, NoValid, NeedsClamp, Fallback };

// The vector path. Fills mn/mx when the pass ran over a clamped rectangle.
TSelection LevelsBySelection(const float* base, int32_t w, int32_t h, int64_t stride, double pctA, double pctB,
                             TPercentileLevels& levels, float& mn, float& mx, bool& minMaxKnown) {
  minMaxKnown = false;
  std::vector<float> sample = SampleRect(base, w, h, stride);
  if (sample.size() < 256) return TSelection::Fallback;
  const bool same = std::fabs(pctB - pctA) <= 1e-9;
  TWindow wa = WindowAround(sample, pctA / 100.0);
  TWindow wb;
  if (!same) wb = WindowAround(sample, pctB / 100.0);
  TGather g(int64_t(w) * int64_t(h) / 16 + 4096);
  TPassStats st;
  WindowPass(base, w, h, stride, wa, wb, g, st);
  if (st.Max > NoMinimum) return TSelection::NeedsClamp;
  FinishMinMax(st.Min, st.Max, mn, mx);
  minMaxKnown = true;
  if (st.Valid <= 0) return TSelection::NoValid;
  // Only values of 1e18 (a range of 0..1 that bins them outside): the histogram decides.
  if (!(st.Min < NoMinimum) || g.Overflowed()) return TSelection::Fallback;
  const TBinning b(mn, mx);
  const int64_t count = st.Valid;
  // The bin of the window's k-th smallest value: bins grow with the value, so
  // it is the first bin at which the window's counts add up to more than k.
  std::vector<int32_t> inside(HistogramBins);
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
    std::fill(inside.begin(), inside.end(), 0);
    int64_t n = 0;
    for (int64_t i = 0; i < g.Size; ++i)
      if (win.Inside(g.Data[size_t(i)])) {
        ++inside[size_t(b.Bin(g.Data[size_t(i)]))];
        ++n;
      }
    const int64_t below = win.Kind == TWindowKind::Middle ? win.Below
                          : win.Kind == TWindowKind::Upper ? count - n
                                                           : 0;
    const int64_t k = rank - below - 1;
    if (k < 0 || k >= n) return false;
    int64_t sum = 0;
    for (bin = 0; (sum += inside[size_t(bin)]) <= k; ++bin) {
    }
    return true;
  };
  int32_t binA = 0, binB = 0;
  if (!binOf(pctA, wa, binA)) return TSelection::Fallback;
  if (!same && !binOf(pctB, wb, binB)) return TSelection::Fallback;
  levels.RectMin = mn;
  levels.RectMax = mx;
  levels.LevelA = b.Level(binA);
  levels.LevelB = same ? levels.LevelA : b.Level(binB);
  return TSelection::Done;
}

// Below this many pixels the histogram is cheap enough.
constexpr int64_t SelectionMinPixels = 65536;

// ---- Small rectangles: a histogram walked in two steps ----------------------
// Under 65536 pixels every count fits 16 bits; the bins are also counted by
// groups of 256 (four sets of those counts, so that neighbouring pixels of one
// group do not wait on each other), and each level's bin is found walking the
// groups, then the 256 bins of the group that holds its rank: the walk's bins
// without walking 65000 bins. False (nothing set) when a valid pixel bins
// beyond the searched bins: the full histogram decides then.
// Bins of n values as TBinning::Bin gives them for every valid value (after
// RectMinMax's clamp), two at a time: the same subtraction, product, clamp and
// conversion in the same rounding.
void RowBins(const float* v, int32_t n, const TBinning& b, int32_t* out) {
  int32_t x = 0;
#if ASTRELON_HAVE_SSE2
  const __m128d mn = _mm_set1_pd(double(b.Mn)), scale = _mm_set1_pd(b.Scale), lo = _mm_setzero_pd(),
                hi = _mm_set1_pd(double(BlankBin));
  for (; x + 2 <= n; x += 2) {
    __m128 f = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x)));
    const __m128d d = _mm_min_pd(_mm_max_pd(_mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(f), mn), scale), lo), hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_cvtpd_epi32(d));
  }
#endif
  for (; x < n; ++x) out[x] = b.Bin(v[x]);
}

bool LevelsFromSmallHistogram(const float* base, int32_t w, int32_t h, int64_t stride, const TBinning& b, float mx,
                              double pctA, double pctB, TPercentileLevels& levels) {
  constexpr int Shift = 8;
  constexpr size_t Groups = (SearchedBins >> Shift) + 1;
  std::vector<uint16_t> hist(size_t(SearchedBins) + 1, 0);
  std::array<std::array<uint32_t, Groups>, 4> groupSets{};
  int64_t count = 0;
  std::vector<int32_t> rowBins(static_cast<size_t>(w));
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    RowBins(row, w, b, rowBins.data());
    for (int32_t x = 0; x < w; ++x) {
      if (!IsValidPixel(row[x])) continue;
      const int32_t bin = rowBins[size_t(x)];
      if (bin > SearchedBins) return false;
      ++hist[size_t(bin)];
      ++groupSets[size_t(x & 3)][size_t(bin >> Shift)];
      ++count;
    }
  }
  if (count <= 0) return true;
  std::array<int64_t, Groups> groups{};
  for (const auto& set : groupSets)
    for (size_t g = 0; g < Groups; ++g) groups[g] += set[g];
  auto binOf = [&](double pct) {
    const int64_t rank = RankOfLevel(pct, count);
    if (rank == 0) return 0;
    if (rank < 0) return SearchedBins;
    int64_t below = 0;
    size_t g = 0;
    while (below + groups[g] < rank) below += groups[g++];
    size_t bin = g << Shift;
    while (below + hist[bin] < rank) below += hist[bin++];
    return int32_t(bin);
  };
  levels.RectMin = b.Mn;
  levels.RectMax = mx;
  levels.LevelA = b.Level(binOf(pctA));
  levels.LevelB = std::fabs(pctB - pctA) <= 1e-9 ? levels.LevelA : b.Level(binOf(pctB));
  return true;
}

}  // namespace

void CountedValueLevels(std::span<const float> values, std::span<const uint64_t> counts, double pctA, double pctB,
                        TPercentileLevels& levels) {
  const size_t n = std::min(values.size(), counts.size());
  // The minimum and maximum as RectMinMax finds them (values above 1e18 count as 1e18).
  TMinMaxScan scan;
  uint64_t total = 0;
  for (size_t i = 0; i < n; ++i) {
    if (counts[i] == 0) continue;
    total += counts[i];
    const float v = std::min(values[i], NoMinimum);
    if (IsValidPixel(v)) {
      scan.Lo = std::min(scan.Lo, v);
      scan.Hi = std::max(scan.Hi, v);
    }
  }
  float mn = 0, mx = 1;
  scan.Finish(mn, mx);
  const TBinning b(mn, mx);
  std::vector<uint64_t> hist(HistogramBins, 0);
  for (size_t i = 0; i < n; ++i) {
    if (counts[i] == 0) continue;
    const float v = values[i] > NoMinimum ? NoMinimum : values[i];
    hist[size_t(IsValidPixel(v) ? b.Bin(v) : BlankBin)] += counts[i];
  }
  WalkLevels(std::span<const uint64_t>(hist), int64_t(total), b, mx, pctA, pctB, levels);
}

void RectPercentileLevels(std::span<float> rect, int32_t w, int32_t h, int64_t stride, double pctA, double pctB,
                          TPercentileLevels& levels, bool vector) {
  if (w <= 0 || h <= 0) return;
  CheckRect(rect.size(), w, h, stride);
  float mn = 0, mx = 1;
  bool minMaxKnown = false;
  if (vector && int64_t(w) * int64_t(h) >= SelectionMinPixels) {
    TSelection r = LevelsBySelection(rect.data(), w, h, stride, pctA, pctB, levels, mn, mx, minMaxKnown);
    if (r == TSelection::NeedsClamp) {
      RectMinMax(rect, w, h, stride, mn, mx, vector);
      r = LevelsBySelection(rect.data(), w, h, stride, pctA, pctB, levels, mn, mx, minMaxKnown);
    }
    if (r == TSelection::Done || r == TSelection::NoValid) return;
  }
  if (!minMaxKnown) RectMinMax(rect, w, h, stride, mn, mx, vector);
  const TBinning b(mn, mx);
  if (int64_t(w) * int64_t(h) < SelectionMinPixels &&
      LevelsFromSmallHistogram(rect.data(), w, h, stride, b, mx, pctA, pctB, levels))
    return;
  if (uint64_t(w) * uint64_t(h) < std::numeric_limits<uint32_t>::max())
    LevelsFromHistogram<uint32_t>(rect.data(), w, h, stride, b, mx, pctA, pctB, levels);
  else
    LevelsFromHistogram<uint64_t>(rect.data(), w, h, stride, b, mx, pctA, pctB, levels);
}

}  // namespace astrelon
