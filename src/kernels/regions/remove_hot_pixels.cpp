#include "kernels/regions/remove_hot_pixels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "core/busy_cursor.h"
#include "core/settings.h"
#include "kernels/regions/rect_runs.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// The decision for one pixel c. The neighbours' mean and spread leave out one
// smallest and one largest neighbour: m is the mean of the other six and the
// spread their standard deviation (taken about m, which keeps it exact beside a
// hot neighbour). d is the cross offset median(N, W, E, S, c) - median(NW, NE,
// SW, SE). The pixel stays when |c - (m + d)| <= spread * k + noise; otherwise
// it becomes median(N, W, E, S, c) + d.
//
// A pixel whose eight neighbours are all valid goes through the fixed network of
// DecideFull, which the eight-wide path runs lane for lane in the same order;
// pixels beside blanks go through DecideGeneral.

// Neighbours in the order NW, N, NE, W, E, SW, S, SE.
using TNeighbours = std::array<float, 8>;

struct TScanParams {
  float K = 2;      // factor / 1.5
  float Noise = 0;  // the plane's noise
  float Qk = 0;     // k^2 / 6: the sum of squared deviations of six values times Qk is spread^2 * k^2
};

float Min(float a, float b) { return b < a ? b : a; }
float Max(float a, float b) { return b > a ? b : a; }

constexpr float Sixth = 1.0f / 6.0f;

// e <= spread * k + noise without a square root: the part of e beyond the
// noise (0 within it), squared, at most q * qk = spread^2 * k^2.
bool Stays(float e, float q, float noise, float qk) {
  const float over = Max(e - noise, 0.0f);
  return over * over <= q * qk;
}

// Median of a sorted list of n values (n >= 1): the middle one, or halfway
// between the two middle ones.
float SortedMedian(const float* s, int n) {
  const int h = n / 2;
  if (n & 1) return s[h];
  return (s[h] - s[h - 1]) * 0.5f + s[h - 1];
}

void SortSmall(float* v, int n) {
  for (int i = 1; i < n; ++i) {
    const float x = v[i];
    int j = i - 1;
    while (j >= 0 && v[j] > x) {
      v[j + 1] = v[j];
      --j;
    }
    v[j + 1] = x;
  }
}

struct TDecision {
  bool Replace = false;
  float Value = 0;
};

TDecision DecideFull(const TNeighbours& a, float c, const TScanParams& s) {
  // Pairs (N, W), (E, S), (NW, NE), (SW, SE). The larger low and the smaller high
  // of the two orthogonal pairs are the middle two of N, W, E, S (f, g), those of
  // the diagonal pairs the middle two of the diagonals (fd, gd). The smaller of
  // the two remaining lows is the smallest neighbour, the larger of the two
  // remaining highs the largest: the other six are the middle ones.
  const float L0 = Min(a[1], a[3]), H0 = Max(a[1], a[3]);
  const float L1 = Min(a[4], a[6]), H1 = Max(a[4], a[6]);
  const float L2 = Min(a[0], a[2]), H2 = Max(a[0], a[2]);
  const float L3 = Min(a[5], a[7]), H3 = Max(a[5], a[7]);
  const float l0 = Min(L0, L1), f = Max(L0, L1);
  const float l2 = Min(L2, L3), fd = Max(L2, L3);
  const float g = Min(H0, H1), h1 = Max(H0, H1);
  const float gd = Min(H2, H3), h3 = Max(H2, H3);
  const float lr = Max(l0, l2), hr = Min(h1, h3);
  const float m = (((((f + lr) + fd) + g) + gd) + hr) * Sixth;
  const float q = (((((f - m) * (f - m) + (lr - m) * (lr - m)) + (fd - m) * (fd - m)) + (g - m) * (g - m)) +
                   (gd - m) * (gd - m)) +
                  (hr - m) * (hr - m);
  // median(N, W, E, S, c): c clamped between the middle two of the four.
  const float med5 = Max(Min(f, g), Min(Max(f, g), c));
  const float s1 = Min(fd, gd), s2 = Max(fd, gd);
  const float med4 = (s2 - s1) * 0.5f + s1;
  const float d = med5 - med4;
  if (Stays(std::fabs(c - (m + d)), q, s.Noise, s.Qk)) return {};
  const float value = med5 + d;
  return {IsValidPixel(value), value};
}

// Any mix of valid and blank neighbours.
TDecision DecideGeneral(const TNeighbours& a, float c, const TScanParams& s) {
  std::array<float, 8> valid;
  int count = 0;
  for (float v : a)
    if (IsValidPixel(v)) valid[size_t(count++)] = v;
  if (count < 4) return {};
  std::array<float, 5> orth;
  std::array<float, 4> diag;
  int no = 0, nd = 0;
  for (int i : {1, 3, 4, 6})
    if (IsValidPixel(a[size_t(i)])) orth[size_t(no++)] = a[size_t(i)];
  for (int i : {0, 2, 5, 7})
    if (IsValidPixel(a[size_t(i)])) diag[size_t(nd++)] = a[size_t(i)];
  SortSmall(valid.data(), count);
  const int n = count - 2;
  float sum = 0;
  for (int i = 1; i <= n; ++i) sum += valid[size_t(i)];
  const float m = sum / float(n);
  float q = 0;
  for (int i = 1; i <= n; ++i) q += (valid[size_t(i)] - m) * (valid[size_t(i)] - m);
  float d = 0;
  if (no >= 3 && nd >= 3) {
    orth[size_t(no++)] = c;
    SortSmall(diag.data(), nd);
    SortSmall(orth.data(), no);
    d = SortedMedian(orth.data(), no) - SortedMedian(diag.data(), nd);
  } else {
    SortSmall(orth.data(), no);
  }
  if (Stays(std::fabs(c - (m + d)), q, s.Noise, s.K * s.K / float(n))) return {};
  const float value = no > 2 ? SortedMedian(orth.data(), no) + d : m + d;
  return {IsValidPixel(value), value};
}

// The three rows around the row being scanned; Follows when the row comes right
// after the one the same thread scanned before (the vector scan then reuses what
// it learnt of the two upper rows).
struct TRows {
  const float* Up;
  float* Mid;
  const float* Down;
  bool Follows = false;
};

// The replacements made by a scan, in scan order: columns and the values they
// replaced. The arrays keep room for a row's replacements and a whole vector
// stored beyond them.
struct TChangeLog {
  std::vector<int32_t> X;
  std::vector<float> Before;
  size_t Count = 0;
  void Reserve(size_t n) {
    if (X.size() >= Count + n + 16) return;
    X.resize(2 * (Count + n + 16));
    Before.resize(X.size());
  }
  void Add(int32_t x, float before) {
    Reserve(1);
    X[Count] = x;
    Before[Count] = before;
    ++Count;
  }
};

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void Replace(const TRows& r, int32_t x, float value, TChangeLog* log) {
  if (log) log->Add(x, r.Mid[x]);
  r.Mid[x] = value;
}

// The value pixel x ends with, decided on the row above as it is, its west
// neighbour as given and the row below and its own and east values as they were.
float DecidedValue(const TRows& r, float west, const float* before, int32_t x, const TScanParams& s) {
  const float c = before[x];
  if (!IsValidPixel(c)) return c;
  const TNeighbours a{r.Up[x - 1],    r.Up[x],   r.Up[x + 1],   west,
                      before[x + 1], r.Down[x - 1], r.Down[x], r.Down[x + 1]};
  bool full = true;
  for (float v : a) full = full && IsValidPixel(v);
  const TDecision d = full ? DecideFull(a, c, s) : DecideGeneral(a, c, s);
  return d.Replace ? d.Value : c;
}

// Decides pixel x of the middle row from the rows as they are now and writes a
// replacement (noted in log when given).
void ScanPixel(const TRows& r, int32_t x, const TScanParams& s, TChangeLog* log) {
  const float value = DecidedValue(r, r.Mid[x - 1], r.Mid, x, s);
  if (!SameBits(value, r.Mid[x])) Replace(r, x, value, log);
}

void ScanRowScalar(const TRows& r, int32_t x1, int32_t x2, const TScanParams& s, TChangeLog* log) {
  for (int32_t x = x1; x <= x2; ++x) ScanPixel(r, x, s, log);
}

using TRowScan = void (*)(const TRows& r, int32_t x1, int32_t x2, const TScanParams& s, TChangeLog* log);

// The vector scans take a row in two passes. The first decides blocks of
// pixels on the row as it was, so that each lane meets its west neighbour before
// the scan reached it; it notes the pixels whose west neighbour was replaced, and
// all pixels of blocks with a blank among any lane's nine values. The second
// decides the noted pixels again, a vector at a time, on their west neighbours
// as they are now; the pixels after those that change are noted for another
// round, until none change. Every pixel then has the value its west neighbour's
// final value gives it: the pixels of the scan one by one.

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m256 Load(const float* p) { return _mm256_loadu_ps(p); }
// _mm256_min_ps(b, a) is b < a ? b : a, as Min(a, b); likewise for the maximum.
ASTRELON_AVX2 inline __m256 Mn(__m256 a, __m256 b) { return _mm256_min_ps(b, a); }
ASTRELON_AVX2 inline __m256 Mx(__m256 a, __m256 b) { return _mm256_max_ps(b, a); }
ASTRELON_AVX2 inline __m256 Square(__m256 v, __m256 m) {
  const __m256 e = _mm256_sub_ps(v, m);
  return _mm256_mul_ps(e, e);
}
ASTRELON_AVX2 inline __m256 Valid(__m256 v) { return _mm256_cmp_ps(v, _mm256_set1_ps(BlankLimit), _CMP_GT_OQ); }

// The scan parameters in every lane.
struct TBlockParams {
  __m256 Noise, Qk;
  ASTRELON_AVX2 explicit TBlockParams(const TScanParams& s)
      : Noise(_mm256_set1_ps(s.Noise)), Qk(_mm256_set1_ps(s.Qk)) {}
};

// DecideFull for eight pixels: the lanes that move (replaced when their new
// value is valid) and the new values.
struct TBlockDecision {
  int Replace;
  __m256 Value;
};
ASTRELON_AVX2 inline TBlockDecision DecideBlock(__m256 a0, __m256 a1, __m256 a2, __m256 a3, __m256 a4, __m256 a5,
                                                __m256 a6, __m256 a7, __m256 c, const TBlockParams& s) {
  const __m256 L0 = Mn(a1, a3), H0 = Mx(a1, a3), L1 = Mn(a4, a6), H1 = Mx(a4, a6);
  const __m256 L2 = Mn(a0, a2), H2 = Mx(a0, a2), L3 = Mn(a5, a7), H3 = Mx(a5, a7);
  const __m256 l0 = Mn(L0, L1), f = Mx(L0, L1), l2 = Mn(L2, L3), fd = Mx(L2, L3);
  const __m256 g = Mn(H0, H1), h1 = Mx(H0, H1), gd = Mn(H2, H3), h3 = Mx(H2, H3);
  const __m256 lr = Mx(l0, l2), hr = Mn(h1, h3);
  __m256 sum = _mm256_add_ps(f, lr);
  sum = _mm256_add_ps(sum, fd);
  sum = _mm256_add_ps(sum, g);
  sum = _mm256_add_ps(sum, gd);
  sum = _mm256_add_ps(sum, hr);
  const __m256 m = _mm256_mul_ps(sum, _mm256_set1_ps(Sixth));
  __m256 q = _mm256_add_ps(Square(f, m), Square(lr, m));
  q = _mm256_add_ps(q, Square(fd, m));
  q = _mm256_add_ps(q, Square(g, m));
  q = _mm256_add_ps(q, Square(gd, m));
  q = _mm256_add_ps(q, Square(hr, m));
  const __m256 med5 = Mx(Mn(f, g), Mn(Mx(f, g), c));
  const __m256 s1 = Mn(fd, gd), s2 = Mx(fd, gd);
  const __m256 med4 = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(s2, s1), _mm256_set1_ps(0.5f)), s1);
  const __m256 d = _mm256_sub_ps(med5, med4);
  const __m256 md = _mm256_add_ps(m, d);
  const __m256 e = _mm256_and_ps(_mm256_sub_ps(c, md), _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
  const __m256 over = Mx(_mm256_sub_ps(e, s.Noise), _mm256_setzero_ps());
  const __m256 stay = _mm256_cmp_ps(_mm256_mul_ps(over, over), _mm256_mul_ps(q, s.Qk), _CMP_LE_OQ);
  const __m256 value = _mm256_add_ps(med5, d);
  return {_mm256_movemask_ps(_mm256_andnot_ps(stay, Valid(value))), value};
}

// The row below is read from memory for the first time, a block at a time; with
// the long work per block few reads would be in flight without asking ahead.
constexpr int32_t PrefetchAhead = 256;
__attribute__((always_inline)) inline void Prefetch(const float* row, int32_t x) {
  // Integer arithmetic: the address may lie past the plane (a prefetch never faults).
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(row) + uintptr_t(x) * sizeof(float)),
               _MM_HINT_T0);
}

// Buffers of a vector scan of one row, kept by each thread: a row of values
// (the row as the scan leaves it, or as it was) and the columns to decide again.
struct TRowBuffers {
  std::vector<float> Row;
  std::vector<int32_t> Pending, Next;
  // Room for columns up to x2 and a vector's store beyond; true when grown.
  bool Fit(int32_t x2) {
    const size_t n = size_t(x2) + 32;
    if (Row.size() >= n) return false;
    Row.resize(n);
    Pending.resize(n);
    Next.resize(n);
    return true;
  }
};

// Lanes of an 8-bit mask as a vector mask.
ASTRELON_AVX2 inline __m256 LaneMask(int m) {
  const __m256i bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  return _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(m), bits), bits));
}

// The two passes eight lanes at a time. The row stays as it was in memory while
// the passes settle its new values in a row buffer, which then replaces it; the
// last columns of the row go to the second pass.
ASTRELON_AVX2 void ScanRow8(const TRows& r, int32_t x1, int32_t x2, const TScanParams& s, TChangeLog* log) {
  thread_local TRowBuffers state;
  state.Fit(x2);
  float* out = state.Row.data();
  int32_t* pending = state.Pending.data();
  int32_t* next = state.Next.data();
  const TBlockParams params(s);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  out[x1 - 1] = r.Mid[x1 - 1];
  size_t count = 0;
  int carry = 0;  // whether the pixel before the block was replaced
  int32_t x = x1;
  for (; x + 7 <= x2; x += 8) {
    Prefetch(r.Down, x + PrefetchAhead);
    const __m256 a0 = Load(r.Up + x - 1), a1 = Load(r.Up + x), a2 = Load(r.Up + x + 1);
    const __m256 a3 = Load(r.Mid + x - 1), c = Load(r.Mid + x), a4 = Load(r.Mid + x + 1);
    const __m256 a5 = Load(r.Down + x - 1), a6 = Load(r.Down + x), a7 = Load(r.Down + x + 1);
    const __m256 valid = _mm256_and_ps(
        _mm256_and_ps(_mm256_and_ps(Valid(a0), Valid(a1)), _mm256_and_ps(Valid(a2), Valid(a3))),
        _mm256_and_ps(_mm256_and_ps(_mm256_and_ps(Valid(a4), Valid(a5)), _mm256_and_ps(Valid(a6), Valid(a7))),
                      Valid(c)));
    int again;
    if (_mm256_movemask_ps(valid) == 0xFF) {
      const TBlockDecision d = DecideBlock(a0, a1, a2, a3, a4, a5, a6, a7, c, params);
      _mm256_storeu_ps(out + x, _mm256_blendv_ps(c, d.Value, LaneMask(d.Replace)));
      again = ((d.Replace << 1) | carry) & 0xFF;
      carry = d.Replace >> 7;
    } else {
      _mm256_storeu_ps(out + x, c);
      again = _mm256_movemask_ps(Valid(c));
      carry = 0;
    }
    const __m256i index = _mm256_load_si256(reinterpret_cast<const __m256i*>(CompactTable.Index[size_t(again)].data()));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pending + count), _mm256_add_epi32(index, _mm256_set1_epi32(x)));
    count += size_t(__builtin_popcount(unsigned(again)));
  }
  for (; x <= x2; ++x) {
    out[x] = r.Mid[x];
    if (IsValidPixel(r.Mid[x])) pending[count++] = x;
  }
  while (count > 0) {
    size_t nextCount = 0;
    for (size_t i = 0; i < count; i += 8) {
      const int n = int(std::min<size_t>(8, count - i));
      const __m256 m = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(n), lanes));
      const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pending + i));
      const __m256 zero = _mm256_setzero_ps();
      const __m256 a0 = _mm256_mask_i32gather_ps(zero, r.Up - 1, idx, m, 4);
      const __m256 a1 = _mm256_mask_i32gather_ps(zero, r.Up, idx, m, 4);
      const __m256 a2 = _mm256_mask_i32gather_ps(zero, r.Up + 1, idx, m, 4);
      const __m256 a3 = _mm256_mask_i32gather_ps(zero, out - 1, idx, m, 4);
      const __m256 now = _mm256_mask_i32gather_ps(zero, out, idx, m, 4);
      const __m256 c = _mm256_mask_i32gather_ps(zero, r.Mid, idx, m, 4);
      const __m256 a4 = _mm256_mask_i32gather_ps(zero, r.Mid + 1, idx, m, 4);
      const __m256 a5 = _mm256_mask_i32gather_ps(zero, r.Down - 1, idx, m, 4);
      const __m256 a6 = _mm256_mask_i32gather_ps(zero, r.Down, idx, m, 4);
      const __m256 a7 = _mm256_mask_i32gather_ps(zero, r.Down + 1, idx, m, 4);
      const int live = (1 << n) - 1;
      const int full = _mm256_movemask_ps(_mm256_and_ps(
                           _mm256_and_ps(_mm256_and_ps(Valid(a0), Valid(a1)), _mm256_and_ps(Valid(a2), Valid(a3))),
                           _mm256_and_ps(_mm256_and_ps(_mm256_and_ps(Valid(a4), Valid(a5)),
                                                       _mm256_and_ps(Valid(a6), Valid(a7))),
                                         Valid(c)))) &
                       live;
      const TBlockDecision d = DecideBlock(a0, a1, a2, a3, a4, a5, a6, a7, c, params);
      alignas(32) float value[8];
      alignas(32) int32_t column[8];
      _mm256_store_ps(value, _mm256_blendv_ps(c, d.Value, LaneMask(d.Replace & full)));
      _mm256_store_si256(reinterpret_cast<__m256i*>(column), idx);
      for (int rest = live & ~full; rest != 0; rest &= rest - 1) {
        const int j = __builtin_ctz(unsigned(rest));
        value[j] = DecidedValue(r, out[column[j] - 1], r.Mid, column[j], s);
      }
      const __m256i same = _mm256_cmpeq_epi32(_mm256_castps_si256(_mm256_load_ps(value)), _mm256_castps_si256(now));
      for (int rest = ~_mm256_movemask_ps(_mm256_castsi256_ps(same)) & live; rest != 0; rest &= rest - 1) {
        const int j = __builtin_ctz(unsigned(rest));
        out[column[j]] = value[j];
        if (column[j] < x2) next[nextCount++] = column[j] + 1;
      }
    }
    std::swap(pending, next);
    count = nextCount;
  }
  for (x = x1; x <= x2; ++x) {
    if (log && !SameBits(out[x], r.Mid[x])) log->Add(x, r.Mid[x]);
  }
  std::memcpy(r.Mid + x1, out + x1, size_t(x2 - x1 + 1) * sizeof(float));
}

// The 512-bit helpers are always inlined into AVX-512 code; GCC 12 takes the
// undefined pass-through operand of its 512-bit minimum and maximum for an
// uninitialised value.
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The same decision for sixteen pixels where the processor has AVX-512: the
// operations of DecideBlock lane for lane. AVX-512 brings fused multiply-adds,
// which would round differently from the scalar path: none are formed.
ASTRELON_AVX512 inline __m512 Mn16(__m512 a, __m512 b) { return _mm512_min_ps(b, a); }
ASTRELON_AVX512 inline __m512 Mx16(__m512 a, __m512 b) { return _mm512_max_ps(b, a); }
ASTRELON_AVX512 inline __m512 Square16(__m512 v, __m512 m) {
  const __m512 e = _mm512_sub_ps(v, m);
  return _mm512_mul_ps(e, e);
}

// Lanes that move (replaced when their new value is valid) and the new values.
struct TBlockDecision16 {
  __mmask16 Replace;
  __m512 Value;
};
ASTRELON_AVX512 inline TBlockDecision16 DecideBlock16(__m512 a0, __m512 a1, __m512 a2, __m512 a3, __m512 a4,
                                                      __m512 a5, __m512 a6, __m512 a7, __m512 c, __m512 noise,
                                                      __m512 qk) {
  const __m512 L0 = Mn16(a1, a3), H0 = Mx16(a1, a3), L1 = Mn16(a4, a6), H1 = Mx16(a4, a6);
  const __m512 L2 = Mn16(a0, a2), H2 = Mx16(a0, a2), L3 = Mn16(a5, a7), H3 = Mx16(a5, a7);
  const __m512 l0 = Mn16(L0, L1), f = Mx16(L0, L1), l2 = Mn16(L2, L3), fd = Mx16(L2, L3);
  const __m512 g = Mn16(H0, H1), h1 = Mx16(H0, H1), gd = Mn16(H2, H3), h3 = Mx16(H2, H3);
  const __m512 lr = Mx16(l0, l2), hr = Mn16(h1, h3);
  __m512 sum = _mm512_add_ps(f, lr);
  sum = _mm512_add_ps(sum, fd);
  sum = _mm512_add_ps(sum, g);
  sum = _mm512_add_ps(sum, gd);
  sum = _mm512_add_ps(sum, hr);
  const __m512 m = _mm512_mul_ps(sum, _mm512_set1_ps(Sixth));
  __m512 q = _mm512_add_ps(Square16(f, m), Square16(lr, m));
  q = _mm512_add_ps(q, Square16(fd, m));
  q = _mm512_add_ps(q, Square16(g, m));
  q = _mm512_add_ps(q, Square16(gd, m));
  q = _mm512_add_ps(q, Square16(hr, m));
  const __m512 med5 = Mx16(Mn16(f, g), Mn16(Mx16(f, g), c));
  const __m512 s1 = Mn16(fd, gd), s2 = Mx16(fd, gd);
  const __m512 med4 = _mm512_add_ps(_mm512_mul_ps(_mm512_sub_ps(s2, s1), _mm512_set1_ps(0.5f)), s1);
  const __m512 d = _mm512_sub_ps(med5, med4);
  const __m512 md = _mm512_add_ps(m, d);
  const __m512 e = _mm512_abs_ps(_mm512_sub_ps(c, md));
  const __m512 over = Mx16(_mm512_sub_ps(e, noise), _mm512_setzero_ps());
  const __mmask16 stay = _mm512_cmp_ps_mask(_mm512_mul_ps(over, over), _mm512_mul_ps(q, qk), _CMP_LE_OQ);
  const __m512 value = _mm512_add_ps(med5, d);
  const __mmask16 valid = _mm512_cmp_ps_mask(value, _mm512_set1_ps(BlankLimit), _CMP_GT_OQ);
  return {__mmask16(~stay & valid), value};
}

ASTRELON_AVX512 inline __mmask16 Valid16(__mmask16 lanes, __m512 v) {
  return _mm512_mask_cmp_ps_mask(lanes, v, _mm512_set1_ps(BlankLimit), _CMP_GT_OQ);
}

// The sixteen-wide scan's buffers (Row: the row as it was) and the validity of three
// rows per block: lane j of block k is set when the row's columns x - 1 .. x + 1
// around x = x1 + 16 k + j are valid (a replacement keeps a pixel valid, so this
// holds from the row's first use as the row below to its last as the row above).
struct TRowState16 : TRowBuffers {
  std::array<std::vector<uint16_t>, 3> Valid;
  int Top = 0;  // Valid[Top] is the row above
  void Fit(int32_t x2) {
    if (TRowBuffers::Fit(x2))
      for (auto& v : Valid) v.resize(Row.size() / 16 + 2);
  }
};

ASTRELON_AVX512 inline __mmask16 Live16(int32_t x, int32_t x2) {
  return __mmask16(x2 - x >= 15 ? 0xFFFF : (1u << (x2 - x + 1)) - 1);
}

ASTRELON_AVX512 void RowValidity(const float* row, int32_t x1, int32_t x2, uint16_t* valid) {
  for (int32_t x = x1, k = 0; x <= x2; x += 16, ++k) {
    const __mmask16 live = Live16(x, x2);
    valid[k] = Valid16(live, _mm512_maskz_loadu_ps(live, row + x - 1)) &
               Valid16(live, _mm512_maskz_loadu_ps(live, row + x)) &
               Valid16(live, _mm512_maskz_loadu_ps(live, row + x + 1));
  }
}

// Values i and i + 1 of a row for sixteen columns i, fetched as pairs (the
// processor fetches eight pairs at about the cost of eight single values).
struct TPair16 {
  __m512 First, Second;
};
ASTRELON_AVX512 inline TPair16 GatherPairs(const float* row, __m512i idx, __mmask16 m) {
  const __m512d zero = _mm512_setzero_pd();
  const __m512 lo = _mm512_castpd_ps(
      _mm512_mask_i32gather_pd(zero, __mmask8(m), _mm512_castsi512_si256(idx), row, 4));
  const __m512 hi = _mm512_castpd_ps(
      _mm512_mask_i32gather_pd(zero, __mmask8(m >> 8), _mm512_extracti64x4_epi64(idx, 1), row, 4));
  const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  const __m512i odd = _mm512_add_epi32(even, _mm512_set1_epi32(1));
  return {_mm512_permutex2var_ps(lo, even, hi), _mm512_permutex2var_ps(lo, odd, hi)};
}

// The two passes sixteen lanes at a time (the last block masked). The first
// writes its replacements into the row and keeps the row as it was in a buffer.
class TScan16 {
public:
  ASTRELON_AVX512 TScan16(const TRows& r, int32_t x1, int32_t x2, const TScanParams& s, TChangeLog* log)
      : r_(r), x1_(x1), x2_(x2), s_(s), log_(log), noise_(_mm512_set1_ps(s.Noise)), qk_(_mm512_set1_ps(s.Qk)),
        lanes_(_mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)) {}

  ASTRELON_AVX512 __attribute__((always_inline)) inline void Run() {
    thread_local TRowState16 state;
    state.Fit(x2_);
    if (r_.Follows) {
      state.Top = (state.Top + 1) % 3;
    } else {
      state.Top = 0;
      RowValidity(r_.Up, x1_, x2_, state.Valid[0].data());
      RowValidity(r_.Mid, x1_, x2_, state.Valid[1].data());
    }
    validUp_ = state.Valid[size_t(state.Top)].data();
    validMid_ = state.Valid[size_t((state.Top + 1) % 3)].data();
    validDown_ = state.Valid[size_t((state.Top + 2) % 3)].data();
    before_ = state.Row.data();
    pending_ = state.Pending.data();
    next_ = state.Next.data();
    before_[x1_ - 1] = r_.Mid[x1_ - 1];
    before_[x2_ + 1] = r_.Mid[x2_ + 1];
    previous_ = _mm512_castps_si512(_mm512_set1_ps(r_.Mid[x1_ - 1]));
    int32_t x = x1_, k = 0;
    for (; x + 15 <= x2_; x += 16, ++k) Block<true>(x, k, 0xFFFF);
    if (x <= x2_) Block<false>(x, k, Live16(x, x2_));
    SecondPass();
  }

private:
  // Block k of the first pass at column x; live: the lanes_ inside the row
  // (all but in the last block).
  template <bool Whole>
  ASTRELON_AVX512 __attribute__((always_inline)) inline void Block(int32_t x, int32_t k, __mmask16 live) {
    Prefetch(r_.Down, x + PrefetchAhead);
    const __m512 a0 = Load<Whole>(live, r_.Up + x - 1), a1 = Load<Whole>(live, r_.Up + x);
    const __m512 a2 = Load<Whole>(live, r_.Up + x + 1), c = Load<Whole>(live, r_.Mid + x);
    const __m512 a4 = Load<Whole>(live, r_.Mid + x + 1), a5 = Load<Whole>(live, r_.Down + x - 1);
    const __m512 a6 = Load<Whole>(live, r_.Down + x), a7 = Load<Whole>(live, r_.Down + x + 1);
    const __m512 a3 = _mm512_castsi512_ps(_mm512_alignr_epi32(_mm512_castps_si512(c), previous_, 15));
    _mm512_mask_storeu_ps(before_ + x, live, c);
    const __mmask16 down = Valid16(live, a5) & Valid16(live, a6) & Valid16(live, a7);
    validDown_[k] = down;
    const unsigned full = validUp_[k] & validMid_[k] & down;
    const __m512i at = _mm512_add_epi32(lanes_, _mm512_set1_epi32(x));
    unsigned again;
    if (full == live) {
      const TBlockDecision16 d = DecideBlock16(a0, a1, a2, a3, a4, a5, a6, a7, c, noise_, qk_);
      const __mmask16 moved = d.Replace & live;
      _mm512_mask_storeu_ps(r_.Mid + x, moved, d.Value);
      if (log_) {
        const size_t n = log_->Count;
        _mm512_storeu_si512(log_->X.data() + n, _mm512_maskz_compress_epi32(moved, at));
        _mm512_storeu_ps(log_->Before.data() + n, _mm512_maskz_compress_ps(moved, c));
        log_->Count = n + size_t(__builtin_popcount(moved));
      }
      again = ((unsigned(moved) << 1) | carry_) & live;
      carry_ = unsigned(moved) >> 15;
    } else {
      again = Valid16(live, c);
      carry_ = 0;
    }
    _mm512_storeu_si512(pending_ + count_, _mm512_maskz_compress_epi32(__mmask16(again), at));
    count_ += size_t(__builtin_popcount(again));
    previous_ = _mm512_castps_si512(c);
  }

  template <bool Whole>
  ASTRELON_AVX512 __attribute__((always_inline)) static inline __m512 Load(__mmask16 live, const float* p) {
    if constexpr (Whole) return _mm512_loadu_ps(p);
    return _mm512_maskz_loadu_ps(live, p);
  }

  ASTRELON_AVX512 __attribute__((always_inline)) inline void SecondPass() {
    while (count_ > 0) {
      size_t nextCount = 0;
      for (size_t i = 0; i < count_; i += 16) {
        const __mmask16 m = __mmask16(count_ - i >= 16 ? 0xFFFF : (1u << (count_ - i)) - 1);
        const __m512i idx = _mm512_maskz_loadu_epi32(m, pending_ + i);
        const __m512 a2 = _mm512_mask_i32gather_ps(_mm512_setzero_ps(), m, idx, r_.Up + 1, 4);
        const __m512 a7 = _mm512_mask_i32gather_ps(_mm512_setzero_ps(), m, idx, r_.Down + 1, 4);
        const TPair16 up = GatherPairs(r_.Up - 1, idx, m), down = GatherPairs(r_.Down - 1, idx, m);
        const TPair16 mid = GatherPairs(r_.Mid - 1, idx, m), was = GatherPairs(before_, idx, m);
        const __m512 a0 = up.First, a1 = up.Second, a3 = mid.First, now = mid.Second;
        const __m512 c = was.First, a4 = was.Second, a5 = down.First, a6 = down.Second;
        const __mmask16 full = (Valid16(m, a0) & Valid16(m, a1)) & (Valid16(m, a2) & Valid16(m, a3)) &
                               ((Valid16(m, a4) & Valid16(m, a5)) & (Valid16(m, a6) & Valid16(m, a7))) &
                               Valid16(m, c);
        const TBlockDecision16 d = DecideBlock16(a0, a1, a2, a3, a4, a5, a6, a7, c, noise_, qk_);
        alignas(64) float out[16];
        alignas(64) int32_t column[16];
        _mm512_store_ps(out, _mm512_mask_mov_ps(c, d.Replace & full, d.Value));
        _mm512_store_si512(column, idx);
        for (unsigned rest = m & ~full; rest != 0; rest &= rest - 1) {
          const int j = __builtin_ctz(rest);
          out[j] = DecidedValue(r_, r_.Mid[column[j] - 1], before_, column[j], s_);
        }
        const __mmask16 changed = _mm512_mask_cmpneq_epi32_mask(m, _mm512_castps_si512(_mm512_load_ps(out)),
                                                                _mm512_castps_si512(now));
        for (unsigned rest = changed; rest != 0; rest &= rest - 1) {
          const int j = __builtin_ctz(rest);
          if (log_) log_->Add(column[j], before_[column[j]]);
          r_.Mid[column[j]] = out[j];
        }
        const __mmask16 east = _mm512_mask_cmplt_epi32_mask(changed, idx, _mm512_set1_epi32(x2_));
        _mm512_storeu_si512(next_ + nextCount,
                            _mm512_maskz_compress_epi32(east, _mm512_add_epi32(idx, _mm512_set1_epi32(1))));
        nextCount += size_t(__builtin_popcount(east));
      }
      std::swap(pending_, next_);
      count_ = nextCount;
    }
  }

  const TRows& r_;
  const int32_t x1_, x2_;
  const TScanParams& s_;
  TChangeLog* const log_;
  const __m512 noise_, qk_;
  const __m512i lanes_;
  const uint16_t *validUp_ = nullptr, *validMid_ = nullptr;
  uint16_t* validDown_ = nullptr;
  float* before_ = nullptr;
  int32_t *pending_ = nullptr, *next_ = nullptr;
  size_t count_ = 0;
  // Lane 15: the pixel before_ the block as it was; carry_: whether it was replaced.
  __m512i previous_;
  unsigned carry_ = 0;
};

ASTRELON_AVX512 void ScanRow16(const TRows& r, int32_t x1, int32_t x2, const TScanParams& s, TChangeLog* log) {
  TScan16(r, x1, x2, s, log).Run();
}
#endif

TRowScan PickRowScan(bool vector, int maxLanes) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return maxLanes >= 16 && CpuRunsAvx512() ? ScanRow16 : ScanRow8;
#endif
  (void)maxLanes;
  return ScanRowScalar;
}

// Rows of a plane scanned as one band. Every band but the first starts from the
// rows beside it as they were before any scan (the bands run side by side) and
// notes its replacements, so that its pixels can be settled once the band above
// is final.
struct TBand {
  int32_t Y0 = 0, Y1 = 0;        // rows Y0 .. Y1 - 1
  std::vector<float> Above;      // row Y0 - 1 before the scan (not for the first band)
  std::vector<float> Below;      // row Y1 before the scan (not for the last band)
  TChangeLog Log;                // the replacements, row after row
  std::vector<size_t> RowStarts; // where each row's replacements begin in Log, and the end
};

// Rows at least per band: the settling of a band costs about a row.
constexpr int32_t MinBandRows = 64;

void ScanBand(float* p, size_t W, int32_t x1, int32_t x2, TBand& b, TRowScan scan, const TScanParams& s) {
  const bool note = !b.Above.empty();
  for (int32_t y = b.Y0; y < b.Y1; ++y) {
    const float* up = y == b.Y0 && note ? b.Above.data() : p + size_t(y - 1) * W;
    const float* down = y == b.Y1 - 1 && !b.Below.empty() ? b.Below.data() : p + size_t(y + 1) * W;
    const TRows rows{up, p + size_t(y) * W, down, y > b.Y0};
    if (note) {
      b.RowStarts.push_back(b.Log.Count);
      b.Log.Reserve(size_t(x2 - x1 + 1));
    }
    scan(rows, x1, x2, s, note ? &b.Log : nullptr);
  }
  if (note) b.RowStarts.push_back(b.Log.Count);
}

// Row y of band b as its scan met it: the row now with the replaced values back.
void RowBeforeScan(const TBand& b, int32_t y, const float* row, std::vector<float>& out) {
  out.assign(row, row + out.size());
  const size_t k = size_t(y - b.Y0);
  for (size_t i = b.RowStarts[k]; i < b.RowStarts[k + 1]; ++i) out[size_t(b.Log.X[i])] = b.Log.Before[i];
}

// Once every row above band b is final: decides again, in scan order, the
// pixels of the band whose north, west or diagonal neighbours differ from what
// the band's own scan met (the row above as it was, or a pixel decided again
// here), from the row below as it was; every other pixel keeps what the scan
// gave it. Ends at the first row that comes out as the scan left it.
void SettleBand(float* p, int32_t w, int32_t x1, int32_t x2, const TBand& b, const TScanParams& s) {
  const size_t W = size_t(w);
  std::vector<uint8_t> changed(W, 0), changedNow(W, 0);  // per column: the row above differs
  const float* above = p + size_t(b.Y0 - 1) * W;
  bool any = false;
  for (int32_t x = x1; x <= x2; ++x) {
    changed[size_t(x)] = !SameBits(above[x], b.Above[size_t(x)]);
    any = any || changed[size_t(x)];
  }
  std::vector<float> left(W), row(W), below(W);
  for (int32_t y = b.Y0; any && y < b.Y1; ++y) {
    float* out = p + size_t(y) * W;
    left.assign(out, out + W);
    RowBeforeScan(b, y, out, row);
    if (y + 1 < b.Y1) RowBeforeScan(b, y + 1, out + W, below);
    else {
      const float* next = b.Below.empty() ? out + W : b.Below.data();
      below.assign(next, next + W);
    }
    // row turns into the final row pixel by pixel.
    const TRows rows{above, row.data(), below.data()};
    any = false;
    bool west = false;
    for (int32_t x = x1; x <= x2; ++x) {
      const size_t i = size_t(x);
      if (west || changed[i - 1] || changed[i] || changed[i + 1]) ScanPixel(rows, x, s, nullptr);
      else row[i] = left[i];
      west = !SameBits(row[i], left[i]);
      changedNow[i] = west;
      any = any || west;
    }
    std::copy(row.begin() + x1, row.begin() + x2 + 1, out + x1);
    std::swap(changed, changedNow);
    above = out;
  }
}

}  // namespace

void RemoveHotPixelsPlane(std::span<float> plane, int32_t w, int32_t h, int32_t x1, int32_t x2, int32_t y1, int32_t y2,
                          float factor, float noise, bool vector, int threads, int maxLanes) {
  if (x2 < x1 || y2 < y1) return;
  if (x1 < 1 || y1 < 1 || x2 > w - 2 || y2 > h - 2)
    throw std::invalid_argument("RemoveHotPixelsPlane: rectangle touches the border");
  CheckRect(plane.size(), w, h, w);
  TScanParams s;
  s.K = factor / 1.5f;
  s.Noise = noise;
  s.Qk = s.K * s.K * Sixth;
  float* p = plane.data();
  const size_t W = size_t(w);
  const TRowScan scan = PickRowScan(vector, maxLanes);
  const int32_t rows = y2 - y1 + 1;
  const int bands = std::clamp(threads, 1, std::max(1, rows / MinBandRows));
  std::vector<TBand> band(static_cast<size_t>(bands));
  for (int t = 0; t < bands; ++t) {
    TBand& b = band[size_t(t)];
    b.Y0 = y1 + int32_t(int64_t(rows) * t / bands);
    b.Y1 = y1 + int32_t(int64_t(rows) * (t + 1) / bands);
    if (t > 0) {
      b.Above.assign(p + size_t(b.Y0 - 1) * W, p + size_t(b.Y0) * W);
      band[size_t(t - 1)].Below.assign(p + size_t(b.Y0) * W, p + size_t(b.Y0 + 1) * W);
    }
  }
  ForEachBand(bands, bands, [&](int64_t first, int64_t last) {
    for (int64_t t = first; t < last; ++t) ScanBand(p, W, x1, x2, band[size_t(t)], scan, s);
  });
  for (int t = 1; t < bands; ++t) SettleBand(p, w, x1, x2, band[size_t(t)], s);
}

void RemoveHotPixels(int slot, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float factor) {
  if (!SlotInUse(slot)) return;
  TBusyCursorScope busy;
  TImageSlot& im = Store.Image[size_t(slot)];
  x1 = std::max(x1, 1);
  y1 = std::max(y1, 1);
  x2 = std::min(x2, im.Width - 2);
  y2 = std::min(y2, im.Height - 2);
  if (x2 < x1 || y2 < y1) return;
  const TPlaneList planes = SelectedChannels(slot);
  // The planes run side by side, each its noise estimate and then its scan in
  // bands of rows on its share of the threads.
  const bool multi = Options.Multicore != 0;
  const int planeThreads = multi ? planes.Count : 1;
  const int threads = std::max(BandThreads(int64_t(y2 - y1 + 1), MinBandRows, multi), planeThreads);
  ForEachBand(planes.Count, planeThreads, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const int p = planes.Plane[size_t(i)];
      TPlane& plane = im.Planes[size_t(p)];
      if (plane.size() < im.PixelCount()) continue;
      const float noise = EstimatePlaneNoise(slot, p);
      // Plane i of n gets threads (i + 1) / n - threads i / n of the threads.
      const int64_t n = planes.Count;
      const int share = int(threads * (i + 1) / n - threads * i / n);
      RemoveHotPixelsPlane(plane, im.Width, im.Height, x1, x2, y1, y2, factor, noise, Sse2Enabled,
                           planeThreads > 1 ? std::max(1, share) : threads);
    }
  });
}

}  // namespace astrelon
