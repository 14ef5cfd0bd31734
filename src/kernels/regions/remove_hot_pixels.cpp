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

// The three rows around the row being scanned.
struct TRows {
  const float* Up;
  float* Mid;
  const float* Down;
};

// Decides pixel x of the middle row from the rows as they are now and writes a
// replacement; true when replaced.
bool ScanPixel(const TRows& r, int32_t x, const TScanParams& s) {
  const float c = r.Mid[x];
  if (!IsValidPixel(c)) return false;
  const TNeighbours a{r.Up[x - 1],  r.Up[x],   r.Up[x + 1],   r.Mid[x - 1],
                      r.Mid[x + 1], r.Down[x - 1], r.Down[x], r.Down[x + 1]};
  bool full = true;
  for (float v : a) full = full && IsValidPixel(v);
  const TDecision d = full ? DecideFull(a, c, s) : DecideGeneral(a, c, s);
  if (d.Replace) r.Mid[x] = d.Value;
  return d.Replace;
}

void ScanRowScalar(const TRows& r, int32_t x1, int32_t x2, const TScanParams& s) {
  for (int32_t x = x1; x <= x2; ++x) ScanPixel(r, x, s);
}

// Buffers of the eight-wide scan of one row.
struct TRowBuffers {
  std::vector<float> Original;  // the middle row before the scan
  std::vector<float> Values;    // replacement of each pixel, decided on the original row
  std::vector<uint8_t> Full;    // per block of eight: lanes whose nine values are valid
  std::vector<uint8_t> Replace; // per block: full lanes replaced when decided on the original row
  // Validity of the rows above, at and below the scanned one, a bit per pixel
  // and a byte per block; byte 0 holds column x1 - 1 in its bit 7, the byte after
  // the last block the column after it in bit 0. A replaced pixel stays valid, so
  // a row's bits hold from its first use as the row below to its last as the row
  // above.
  std::array<std::vector<uint8_t>, 3> ValidBits;
  explicit TRowBuffers(int32_t w)
      : Original(size_t(w)), Values(size_t(w) + 8), Full(size_t(w) / 8 + 2), Replace(size_t(w) / 8 + 2) {
    for (auto& b : ValidBits) b.assign(size_t(w) / 8 + 8, 0);
  }
};

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

// Lanes of the block at x whose nine values are all valid (the rare case of a
// block beside a blank).
ASTRELON_AVX2 __attribute__((noinline)) int FullLanesBesideBlank(const TRows& r, int32_t x) {
  __m256 lane = _mm256_and_ps(_mm256_and_ps(Valid(Load(r.Up + x)), Valid(Load(r.Mid + x))), Valid(Load(r.Down + x)));
  for (const float* row : {r.Up, static_cast<const float*>(r.Mid), r.Down})
    lane = _mm256_and_ps(lane, _mm256_and_ps(Valid(Load(row + x - 1)), Valid(Load(row + x + 1))));
  return _mm256_movemask_ps(lane);
}

// The 512-bit helpers are always inlined into AVX-512 code; GCC 12 takes the
// undefined pass-through operand of its 512-bit minimum and maximum for an
// uninitialised value.
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The same decision for sixteen pixels (two blocks) where the processor has
// AVX-512: the operations of DecideBlock lane for lane.
#define ASTRELON_AVX512 __attribute__((target("avx512f,avx2,popcnt")))

bool CpuHasAvx512() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && CpuHasAvx2();
  }();
  return has;
}

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

// The validity bits of a row over the blocks from x1 on (TRowBuffers::ValidBits).
ASTRELON_AVX2 void ComputeValidBits(const float* row, int32_t x1, int32_t blocks, uint8_t* bits) {
  bits[0] = IsValidPixel(row[x1 - 1]) ? 0x80 : 0;
  for (int32_t k = 0; k < blocks; ++k) bits[k + 1] = uint8_t(_mm256_movemask_ps(Valid(Load(row + x1 + 8 * k))));
  bits[blocks + 1] = IsValidPixel(row[x1 + 8 * blocks]) ? 1 : 0;
}

// Columns x - 1 .. x + 8 of block k in one row's bits: bit 7 of the byte before,
// the block's byte and bit 0 of the byte after.
inline uint32_t WindowBits(const uint8_t* bits, int32_t k) {
  uint32_t v;
  std::memcpy(&v, bits + k, sizeof v);
  return v;
}
constexpr uint32_t WindowMask = 0x01FF80;

// The eight-wide scan of one row in two passes. The first decides every block
// of eight on the row as it is (each pixel's west neighbour still original). The
// second walks the row in order and applies those decisions; only the pixel
// after a replaced one (its west neighbour changed) needs deciding again. Such
// pixels, when the first pass kept them, are assumed to stay and checked eight
// at a time; when a check finds one that moves, every write after it is undone
// and the walk goes on after it. Blocks beside a blank, and blocks where a
// replaced pixel follows a replaced one, are walked pixel by pixel.
class TAvx2RowScan {
public:
  // bits: the validity bits of the rows above, at and below.
  TAvx2RowScan(const TRows& r, int32_t x1, int32_t x2, const TScanParams& s, TRowBuffers& b,
               std::array<const uint8_t*, 3> bits)
      : r_(r), x1_(x1), s_(s), b_(b), bits_(bits), blocks_((x2 - x1 + 1) / 8), end_(x1 + 8 * blocks_ - 1), x2_(x2) {}

  ASTRELON_AVX2 void Run() {
    std::memcpy(b_.Original.data() + x1_ - 1, r_.Mid + x1_ - 1, size_t(x2_ - x1_ + 3) * sizeof(float));
    DecideBlocks();
    Walk();
    ScanRowScalar(r_, end_ + 1, x2_, s_);
  }

private:
  // Two blocks at a time on AVX-512 (the same values), the rest as below.
  ASTRELON_AVX512 int32_t DecideBlockPairs() {
    const __m512 noise = _mm512_set1_ps(s_.Noise), qk = _mm512_set1_ps(s_.Qk);
    const TRows r = r_;
    float* values = b_.Values.data();
    uint8_t* fullMask = b_.Full.data();
    uint8_t* replaceMask = b_.Replace.data();
    const uint8_t *upBits = bits_[0], *midBits = bits_[1], *downBits = bits_[2];
    int32_t k = 0;
    for (; k + 2 <= blocks_; k += 2) {
      const int32_t x = x1_ + 8 * k;
      const __m512 a0 = _mm512_loadu_ps(r.Up + x - 1), a1 = _mm512_loadu_ps(r.Up + x);
      const __m512 a2 = _mm512_loadu_ps(r.Up + x + 1), a3 = _mm512_loadu_ps(r.Mid + x - 1);
      const __m512 c = _mm512_loadu_ps(r.Mid + x), a4 = _mm512_loadu_ps(r.Mid + x + 1);
      const __m512 a5 = _mm512_loadu_ps(r.Down + x - 1), a6 = _mm512_loadu_ps(r.Down + x);
      const __m512 a7 = _mm512_loadu_ps(r.Down + x + 1);
      const TBlockDecision16 d = DecideBlock16(a0, a1, a2, a3, a4, a5, a6, a7, c, noise, qk);
      _mm512_storeu_ps(values + 8 * k, d.Value);
      for (int32_t j = 0; j < 2; ++j) {
        const bool allValid = (WindowBits(upBits, k + j) & WindowBits(midBits, k + j) & WindowBits(downBits, k + j) &
                               WindowMask) == WindowMask;
        const int full = allValid ? 0xFF : FullLanesBesideBlank(r, x + 8 * j);
        fullMask[k + j] = uint8_t(full);
        replaceMask[k + j] = uint8_t((d.Replace >> (8 * j)) & full);
      }
    }
    return k;
  }

  ASTRELON_AVX2 void DecideBlocks() {
    const TBlockParams params(s_);
    const TRows r = r_;
    float* values = b_.Values.data();
    uint8_t* fullMask = b_.Full.data();
    uint8_t* replaceMask = b_.Replace.data();
    const uint8_t *upBits = bits_[0], *midBits = bits_[1], *downBits = bits_[2];
    const int32_t blocks = blocks_, x1 = x1_;
    for (int32_t k = CpuHasAvx512() ? DecideBlockPairs() : 0; k < blocks; ++k) {
      const int32_t x = x1 + 8 * k;
      const __m256 a0 = Load(r.Up + x - 1), a1 = Load(r.Up + x), a2 = Load(r.Up + x + 1);
      const __m256 a3 = Load(r.Mid + x - 1), c = Load(r.Mid + x), a4 = Load(r.Mid + x + 1);
      const __m256 a5 = Load(r.Down + x - 1), a6 = Load(r.Down + x), a7 = Load(r.Down + x + 1);
      const bool allValid =
          (WindowBits(upBits, k) & WindowBits(midBits, k) & WindowBits(downBits, k) & WindowMask) == WindowMask;
      const int full = allValid ? 0xFF : FullLanesBesideBlank(r, x);
      const TBlockDecision d = DecideBlock(a0, a1, a2, a3, a4, a5, a6, a7, c, params);
      _mm256_storeu_ps(values + 8 * k, d.Value);
      fullMask[k] = uint8_t(full);
      replaceMask[k] = uint8_t(d.Replace & full);
    }
  }

  ASTRELON_AVX2 void Walk() {
    const __m256i bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    int32_t k = 0, lane = 0;
    bool stale = false;
    // The fast path keeps its state in locals.
    int count = pendingCount_;
    int32_t* pending = pending_.data();
    const uint8_t* replaceMask = b_.Replace.data();
    const uint8_t* fullMask = b_.Full.data();
    for (;;) {
      if (k >= blocks_) {
        pendingCount_ = count;
        if (Check(true)) return;
        count = pendingCount_;
        Resume(k, lane, stale);
        continue;
      }
      const int32_t x = x1_ + 8 * k;
      const int R = replaceMask[k], F = fullMask[k];
      const int S = ((R << 1) | int(stale)) & 0xFF;  // lanes whose west neighbour is replaced
      if (lane == 0 && F == 0xFF && (S & R) == 0) {
        // Every replacement decided on the original row holds; the lanes after
        // them are assumed to stay until checked.
        if (R != 0) {
          const __m256 mask =
              _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(R), bits), bits));
          _mm256_storeu_ps(r_.Mid + x, _mm256_blendv_ps(Load(b_.Original.data() + x),
                                                        Load(b_.Values.data() + 8 * k), mask));
          lastWrite_ = x + 7;
        }
        const int P = S & ~R;
        const __m256i index =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(CompactTable.Index[size_t(P)].data()));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pending + count), _mm256_add_epi32(index, _mm256_set1_epi32(x)));
        count += __builtin_popcount(unsigned(P));
        stale = (R >> 7) & 1;
        ++k;
        if (count >= 8) {
          pendingCount_ = count;
          if (!Check(false)) Resume(k, lane, stale);
          count = pendingCount_;
        }
        continue;
      }
      pendingCount_ = count;
      const bool done = WalkLanes(k, lane, stale);
      count = pendingCount_;
      if (!done) {
        Resume(k, lane, stale);
        continue;
      }
      lane = 0;
      ++k;
    }
  }

  // Lanes lane .. 7 of block k one by one; false when a check moved the walk.
  ASTRELON_AVX2 bool WalkLanes(int32_t k, int32_t lane, bool& stale) {
    const int32_t x = x1_ + 8 * k;
    const int R = b_.Replace[size_t(k)], F = b_.Full[size_t(k)];
    for (int j = lane; j < 8; ++j) {
      const int32_t pos = x + j;
      const bool full = F & (1 << j), replace = R & (1 << j);
      bool replaced;
      if (!full || (stale && replace)) {
        // Decided alone on the rows as they are: everything before it must be settled.
        if (!Check(true)) return false;
        replaced = ScanPixel(r_, pos, s_);
      } else if (stale) {
        pending_[size_t(pendingCount_++)] = pos;
        replaced = false;
        if (pendingCount_ >= 8 && !Check(false)) return false;
      } else {
        replaced = replace;
        if (replaced) r_.Mid[pos] = b_.Values[size_t(pos - x1_)];
      }
      if (replaced) lastWrite_ = std::max(lastWrite_, pos);
      stale = replaced;
    }
    return true;
  }

  // Where the walk goes on after a check moved it: the pixel after the one replaced.
  void Resume(int32_t& k, int32_t& lane, bool& stale) const {
    k = (resume_ - x1_) / 8;
    lane = (resume_ - x1_) % 8;
    stale = true;
  }

  // Decides pending pixels (assumed to stay) eight at a time on their west
  // neighbour as now and their own and east values as they were: all of them,
  // or while eight are waiting. True when all stay; otherwise the first that
  // moves is replaced, every write after it undone, the pending list emptied,
  // and the walk is to go on after it (resume_).
  ASTRELON_AVX2 bool Check(bool all) {
    while (pendingCount_ >= 8 || (all && pendingCount_ > 0)) {
      const int n = std::min(pendingCount_, 8);
      alignas(32) std::array<std::array<float, 8>, 9> in;
      const float* o = b_.Original.data();
      for (int j = 0; j < 8; ++j) {
        const int32_t p = pending_[size_t(std::min(j, n - 1))];
        const float v[9] = {r_.Up[p - 1],   r_.Up[p],   r_.Up[p + 1],   r_.Mid[p - 1], o[p + 1],
                            r_.Down[p - 1], r_.Down[p], r_.Down[p + 1], o[p]};
        for (int t = 0; t < 9; ++t) in[size_t(t)][size_t(j)] = v[t];
      }
      const TBlockDecision d =
          DecideBlock(_mm256_load_ps(in[0].data()), _mm256_load_ps(in[1].data()), _mm256_load_ps(in[2].data()),
                      _mm256_load_ps(in[3].data()), _mm256_load_ps(in[4].data()), _mm256_load_ps(in[5].data()),
                      _mm256_load_ps(in[6].data()), _mm256_load_ps(in[7].data()), _mm256_load_ps(in[8].data()),
                      TBlockParams(s_));
      const int moved = d.Replace & ((1 << n) - 1);
      if (moved != 0) {
        const int j = __builtin_ctz(unsigned(moved));
        const int32_t p = pending_[size_t(j)];
        alignas(32) float values[8];
        _mm256_store_ps(values, d.Value);
        for (int32_t q = p + 1; q <= lastWrite_; ++q) r_.Mid[q] = o[q];
        r_.Mid[p] = values[j];
        lastWrite_ = p;
        pendingCount_ = 0;
        resume_ = p + 1;
        return false;
      }
      std::copy(pending_.begin() + n, pending_.begin() + pendingCount_, pending_.begin());
      pendingCount_ -= n;
    }
    return true;
  }

  const TRows& r_;
  const int32_t x1_;
  const TScanParams& s_;
  TRowBuffers& b_;
  const std::array<const uint8_t*, 3> bits_;
  const int32_t blocks_, end_, x2_;
  int32_t lastWrite_ = -1;
  int32_t resume_ = 0;
  // Room for 15 waiting pixels and a whole block's store after them.
  alignas(32) std::array<int32_t, 24> pending_{};
  int pendingCount_ = 0;
};
#endif

}  // namespace

void RemoveHotPixelsPlane(std::span<float> plane, int32_t w, int32_t h, int32_t x1, int32_t x2, int32_t y1, int32_t y2,
                          float factor, float noise, bool vector) {
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
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) {
    TRowBuffers buffers(w);
    const int32_t blocks = (x2 - x1 + 1) / 8;
    auto& bits = buffers.ValidBits;
    ComputeValidBits(p + size_t(y1 - 1) * W, x1, blocks, bits[0].data());
    ComputeValidBits(p + size_t(y1) * W, x1, blocks, bits[1].data());
    for (int32_t y = y1; y <= y2; ++y) {
      // bits[(y - y1) % 3] is the row above, then the row itself, then the row below.
      const int i = (y - y1) % 3;
      ComputeValidBits(p + size_t(y + 1) * W, x1, blocks, bits[size_t((i + 2) % 3)].data());
      const TRows rows{p + size_t(y - 1) * W, p + size_t(y) * W, p + size_t(y + 1) * W};
      TAvx2RowScan(rows, x1, x2, s, buffers,
                   {bits[size_t(i)].data(), bits[size_t((i + 1) % 3)].data(), bits[size_t((i + 2) % 3)].data()})
          .Run();
    }
    return;
  }
#endif
  for (int32_t y = y1; y <= y2; ++y)
    ScanRowScalar({p + size_t(y - 1) * W, p + size_t(y) * W, p + size_t(y + 1) * W}, x1, x2, s);
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
  // The scan of a plane is sequential; the planes (noise estimate and scan) are
  // independent and run side by side.
  const int threads = Options.Multicore ? planes.Count : 1;
  ForEachBand(planes.Count, threads, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const int p = planes.Plane[size_t(i)];
      TPlane& plane = im.Planes[size_t(p)];
      if (plane.size() < im.PixelCount()) continue;
      const float noise = EstimatePlaneNoise(slot, p);
      RemoveHotPixelsPlane(plane, im.Width, im.Height, x1, x2, y1, y2, factor, noise, Sse2Enabled);
    }
  });
}

}  // namespace astrelon
