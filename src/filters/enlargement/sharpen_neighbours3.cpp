#include "filters/enlargement/sharpen_neighbours3.h"

#include <algorithm>
#include <vector>

#include "kernels/gauss/filter_rows.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The neighbours are summed through column pairs of the old rows around y:
// A(x) = v(x, y - 1) + v(x, y + 1), B(x) = v(x, y - 2) + v(x, y + 2), C(x) =
// v(x, y) (a blank adding 0, with counts likewise), so that
//   direct    A(x) + (C(x - 1) + C(x + 1))
//   diagonal  A(x - 1) + A(x + 1)
//   straight2 B(x) + (C(x - 2) + C(x + 2))
//   knight    (B(x - 1) + B(x + 1)) + (A(x - 2) + A(x + 2)).
// Every sum of equal values is then exact, so that each kind's sum minus its
// count times the centre is 0 in a flat area and the pixel stays as it was.
struct TPairRows {
  std::vector<float> A, B, C, NA, NB, NC;  // C, NA, NB, NC only with blanks
  explicit TPairRows(int32_t w)
      : A(size_t(w)), B(size_t(w)), C(size_t(w)), NA(size_t(w)), NB(size_t(w)), NC(size_t(w)) {}
};

inline float Masked(float v) { return IsValidPixel(v) ? v : 0.0f; }
inline float Count(float v) { return IsValidPixel(v) ? 1.0f : 0.0f; }

// rows[0..4]: the old rows y - 2 .. y + 2.
void MakePairRowsScalar(const float* const* rows, int32_t from, int32_t w, bool clean, TPairRows& p) {
  float* a = p.A.data();
  float* b = p.B.data();
  float* c = p.C.data();
  for (int32_t x = from; x < w; ++x) {
    if (clean) {
      a[x] = rows[1][x] + rows[3][x];
      b[x] = rows[0][x] + rows[4][x];
      c[x] = rows[2][x];
      continue;
    }
    a[x] = Masked(rows[1][x]) + Masked(rows[3][x]);
    b[x] = Masked(rows[0][x]) + Masked(rows[4][x]);
    c[x] = Masked(rows[2][x]);
    p.NA[size_t(x)] = Count(rows[1][x]) + Count(rows[3][x]);
    p.NB[size_t(x)] = Count(rows[0][x]) + Count(rows[4][x]);
    p.NC[size_t(x)] = Count(rows[2][x]);
  }
}

#if ASTRELON_HAVE_AVX2
// The pair rows of rows without blanks, eight columns at a time.
ASTRELON_AVX2 int32_t CleanPairRowsAvx2(const float* const* rows, int32_t w, TPairRows& p) {
  int32_t x = 0;
  for (; x + 8 <= w; x += 8) {
    _mm256_storeu_ps(p.A.data() + x, _mm256_add_ps(_mm256_loadu_ps(rows[1] + x), _mm256_loadu_ps(rows[3] + x)));
    _mm256_storeu_ps(p.B.data() + x, _mm256_add_ps(_mm256_loadu_ps(rows[0] + x), _mm256_loadu_ps(rows[4] + x)));
  }
  return x;
}

// Copies a row and tells whether it holds no blank, eight values at a time.
ASTRELON_AVX2 bool CopyCheckedAvx2(const float* from, float* to, int32_t w) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  __m256 valid = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
  int32_t x = 0;
  for (; x + 8 <= w; x += 8) {
    const __m256 v = _mm256_loadu_ps(from + x);
    valid = _mm256_and_ps(valid, _mm256_cmp_ps(v, limit, _CMP_GT_OQ));
    _mm256_storeu_ps(to + x, v);
  }
  bool clean = _mm256_movemask_ps(valid) == 0xFF;
  for (; x < w; ++x) {
    to[x] = from[x];
    clean &= IsValidPixel(from[x]);
  }
  return clean;
}
#endif

// The pair rows of the old rows y - 2 .. y + 2; C is the centre row itself
// when it holds no blank.
void MakePairRows(const float* const* rows, int32_t w, bool clean, TPairRows& p, bool vector) {
  int32_t x = 0;
#if ASTRELON_HAVE_AVX2
  if (clean && UseAvx2(vector)) x = CleanPairRowsAvx2(rows, w, p);
#else
  (void)vector;
#endif
  if (clean) {
    for (; x < w; ++x) {
      p.A[size_t(x)] = rows[1][x] + rows[3][x];
      p.B[size_t(x)] = rows[0][x] + rows[4][x];
    }
    return;
  }
  MakePairRowsScalar(rows, 0, w, false, p);
}

// Copies a row; true when it holds no blank.
bool CopyChecked(const float* from, float* to, int32_t w, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return CopyCheckedAvx2(from, to, w);
#else
  (void)vector;
#endif
  bool clean = true;
  for (int32_t x = 0; x < w; ++x) {
    to[x] = from[x];
    clean &= IsValidPixel(from[x]);
  }
  return clean;
}

struct TKindSums {
  float D, G, S, K;
};
inline TKindSums KindSums(const float* a, const float* b, const float* c, int32_t x) {
  return {a[x] + (c[x - 1] + c[x + 1]), a[x - 1] + a[x + 1], b[x] + (c[x - 2] + c[x + 2]),
          (b[x - 1] + b[x + 1]) + (a[x - 2] + a[x + 2])};
}

void SharpenRowScalar(const float* centre, const TPairRows& p, bool clean, float* out, int32_t from, int32_t to,
                      const TNeighbourWeights& k) {
  for (int32_t x = from; x < to; ++x) {
    const float c = centre[x];
    if (!IsValidPixel(c)) continue;
    const TKindSums g = KindSums(p.A.data(), p.B.data(), clean ? centre : p.C.data(), x);
    const TKindSums n = clean ? TKindSums{4.0f, 4.0f, 4.0f, 8.0f} : KindSums(p.NA.data(), p.NB.data(), p.NC.data(), x);
    const float lift =
        k.Direct * (g.D - n.D * c) + k.Diagonal * (g.G - n.G * c) + k.Straight2 * (g.S - n.S * c) + k.Knight * (g.K - n.K * c);
    const float weight = 1.0f + k.Direct * n.D + k.Diagonal * n.G + k.Straight2 * n.S + k.Knight * n.K;
    if (weight > 0) out[x] = c + lift * (1.0f / weight);
  }
}

#if ASTRELON_HAVE_AVX2
struct TKindSums8 {
  __m256 D, G, S, K;
};
ASTRELON_AVX2 inline TKindSums8 KindSums8(const float* a, const float* b, const float* c, int32_t x) {
  const __m256 d = _mm256_add_ps(_mm256_loadu_ps(a + x), _mm256_add_ps(_mm256_loadu_ps(c + x - 1), _mm256_loadu_ps(c + x + 1)));
  const __m256 g = _mm256_add_ps(_mm256_loadu_ps(a + x - 1), _mm256_loadu_ps(a + x + 1));
  const __m256 s = _mm256_add_ps(_mm256_loadu_ps(b + x), _mm256_add_ps(_mm256_loadu_ps(c + x - 2), _mm256_loadu_ps(c + x + 2)));
  const __m256 k = _mm256_add_ps(_mm256_add_ps(_mm256_loadu_ps(b + x - 1), _mm256_loadu_ps(b + x + 1)),
                                 _mm256_add_ps(_mm256_loadu_ps(a + x - 2), _mm256_loadu_ps(a + x + 2)));
  return {d, g, s, k};
}

// Eight pixels at a time; returns the first column left.
template <bool Clean>
ASTRELON_AVX2 int32_t SharpenRowAvx2(const float* centre, const TPairRows& p, float* out, int32_t from, int32_t to,
                                     const TNeighbourWeights& k) {
  const __m256 wD = _mm256_set1_ps(k.Direct), wG = _mm256_set1_ps(k.Diagonal);
  const __m256 wS = _mm256_set1_ps(k.Straight2), wK = _mm256_set1_ps(k.Knight);
  const __m256 limit = _mm256_set1_ps(BlankLimit), zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
  const __m256 four = _mm256_set1_ps(4.0f), eight = _mm256_set1_ps(8.0f);
  __m256 cleanWeight = _mm256_add_ps(one, _mm256_mul_ps(wD, four));
  cleanWeight = _mm256_add_ps(cleanWeight, _mm256_mul_ps(wG, four));
  cleanWeight = _mm256_add_ps(cleanWeight, _mm256_mul_ps(wS, four));
  cleanWeight = _mm256_add_ps(cleanWeight, _mm256_mul_ps(wK, eight));
  const __m256 cleanInverse = _mm256_div_ps(one, cleanWeight);
  const __m256 cleanKeep = _mm256_cmp_ps(cleanWeight, zero, _CMP_GT_OQ);
  int32_t x = from;
  for (; x + 8 <= to; x += 8) {
    const __m256 c = _mm256_loadu_ps(centre + x);
    const TKindSums8 g = KindSums8(p.A.data(), p.B.data(), Clean ? centre : p.C.data(), x);
    const TKindSums8 n = Clean ? TKindSums8{four, four, four, eight} : KindSums8(p.NA.data(), p.NB.data(), p.NC.data(), x);
    __m256 lift = _mm256_mul_ps(wD, _mm256_sub_ps(g.D, _mm256_mul_ps(n.D, c)));
    lift = _mm256_add_ps(lift, _mm256_mul_ps(wG, _mm256_sub_ps(g.G, _mm256_mul_ps(n.G, c))));
    lift = _mm256_add_ps(lift, _mm256_mul_ps(wS, _mm256_sub_ps(g.S, _mm256_mul_ps(n.S, c))));
    lift = _mm256_add_ps(lift, _mm256_mul_ps(wK, _mm256_sub_ps(g.K, _mm256_mul_ps(n.K, c))));
    __m256 inverse = cleanInverse, keep = cleanKeep;
    if constexpr (!Clean) {
      __m256 weight = _mm256_add_ps(one, _mm256_mul_ps(wD, n.D));
      weight = _mm256_add_ps(weight, _mm256_mul_ps(wG, n.G));
      weight = _mm256_add_ps(weight, _mm256_mul_ps(wS, n.S));
      weight = _mm256_add_ps(weight, _mm256_mul_ps(wK, n.K));
      inverse = _mm256_div_ps(one, weight);
      keep = _mm256_and_ps(_mm256_cmp_ps(weight, zero, _CMP_GT_OQ), _mm256_cmp_ps(c, limit, _CMP_GT_OQ));
    }
    _mm256_storeu_ps(out + x, _mm256_blendv_ps(c, _mm256_add_ps(c, _mm256_mul_ps(lift, inverse)), keep));
  }
  return x;
}
#endif

// Rows a .. b - 1 of the plane from a ring of the five old rows around each;
// old rows a - 2, a - 1 come from `top`, rows b, b + 1 from `bottom`, the rest
// from the plane before it is written.
void SharpenBand(float* plane, int32_t w, int32_t a, int32_t b, const float* top, const float* bottom,
                 const TNeighbourWeights& k, bool vector) {
  std::vector<float> ring(size_t(5) * size_t(w));
  bool clean[5] = {};
  auto load = [&](int32_t row) {
    const float* from = row < a ? top + size_t(row - (a - 2)) * size_t(w)
                        : row >= b ? bottom + size_t(row - b) * size_t(w)
                                   : plane + size_t(row) * size_t(w);
    const size_t slot = size_t(row % 5);
    clean[slot] = CopyChecked(from, ring.data() + slot * size_t(w), w, vector);
  };
  for (int32_t row = a - 2; row <= a + 2; ++row) load(row);
  TPairRows pairs(w);
  for (int32_t y = a; y < b; ++y) {
    const float* rows[5];
    bool allClean = true;
    for (int i = 0; i < 5; ++i) {
      const size_t slot = size_t((y - 2 + i) % 5);
      rows[i] = ring.data() + slot * size_t(w);
      allClean &= clean[slot];
    }
    MakePairRows(rows, w, allClean, pairs, vector);
    float* out = plane + size_t(y) * size_t(w);
    int32_t x = 2;
#if ASTRELON_HAVE_AVX2
    if (UseAvx2(vector))
      x = allClean ? SharpenRowAvx2<true>(rows[2], pairs, out, 2, w - 2, k)
                   : SharpenRowAvx2<false>(rows[2], pairs, out, 2, w - 2, k);
#else
    (void)vector;
#endif
    SharpenRowScalar(rows[2], pairs, allClean, out, x, w - 2, k);
    if (y + 1 < b) load(y + 3);
  }
}

}  // namespace

void SharpenNeighbours3Plane(std::span<float> plane, int32_t w, int32_t h, const TNeighbourWeights& weights,
                             bool vector) {
  if (w < 5 || h < 5 || plane.size() < size_t(w) * size_t(h)) return;
  float* p = plane.data();
  const size_t rowSize = size_t(w);
  // The old values of rows c0 - 2 and c0 - 1 of the chunk that starts at c0.
  std::vector<float> carry(p, p + 2 * rowSize);
  const int32_t first = 2, end = h - 2;
  const int64_t perChunk = std::max<int64_t>(1, FilterChunkPixels * FilterThreads(int64_t(end - first) * w) / w);
  for (int32_t c0 = first; c0 < end; c0 += int32_t(perChunk)) {
    const int32_t c1 = int32_t(std::min<int64_t>(end, c0 + perChunk));
    const int32_t bands = int32_t(std::min<int64_t>(FilterThreads(int64_t(c1 - c0) * w), c1 - c0));
    auto old = [&](int32_t row) { return row < c0 ? carry.data() + size_t(row - (c0 - 2)) * rowSize : p + size_t(row) * rowSize; };
    auto bound = [&](int32_t k) { return c0 + int32_t(int64_t(c1 - c0) * k / bands); };
    // The rows around each band as they are before any band of this chunk writes.
    std::vector<float> context(size_t(bands) * 4 * rowSize);
    for (int32_t k = 0; k < bands; ++k) {
      float* ctx = context.data() + size_t(k) * 4 * rowSize;
      const int32_t a = bound(k), b = bound(k + 1);
      for (int32_t i = 0; i < 2; ++i) {
        std::copy(old(a - 2 + i), old(a - 2 + i) + w, ctx + size_t(i) * rowSize);
        std::copy(old(b + i), old(b + i) + w, ctx + size_t(2 + i) * rowSize);
      }
    }
    std::vector<float> next(2 * rowSize);
    for (int32_t i = 0; i < 2; ++i) std::copy(old(c1 - 2 + i), old(c1 - 2 + i) + w, next.begin() + ptrdiff_t(size_t(i) * rowSize));
    ForEachBand(bands, bands, [&](int64_t k0, int64_t k1) {
      for (int64_t k = k0; k < k1; ++k) {
        const float* ctx = context.data() + size_t(k) * 4 * rowSize;
        SharpenBand(p, w, bound(int32_t(k)), bound(int32_t(k) + 1), ctx, ctx + 2 * rowSize, weights, vector);
      }
    });
    carry.swap(next);
  }
}

void SharpenNeighbours3(int slot, double direct, double diagonal, double straight2, double knight) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const TNeighbourWeights k{float(direct), float(diagonal), float(straight2), float(knight)};
  for (int p = 1; p <= im.PlaneCount; ++p)
    SharpenNeighbours3Plane(im.Planes[size_t(p)], im.Width, im.Height, k, Sse2Enabled);
}

}  // namespace astrelon
