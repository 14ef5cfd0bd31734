#include "registration/matching/mark_shadowing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/round_even.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

constexpr double Pi = std::numbers::pi;
constexpr float HalfPiF = float(Pi / 2);
constexpr float TwoPiF = float(2 * Pi);
constexpr float TableScale = float(255.0 / (Pi / 2));

// The marks in order of distance: their indices, squared distances and
// directions (padded for whole vectors), and the weights by index.
struct TSortedMarks {
  const int32_t* Order;
  const float* R2;
  const float* Theta;
  int32_t N;
  float* W;
};

// With the marks in order of distance, a mark is shadowed only by the marks
// before it; their factors go into eight running products (mark l into product
// l mod 8), which are multiplied pairwise (the products four apart, then
// neighbours, then the two halves) into its weight. The vector paths keep the
// eight products in their lanes and so give the scalar result to the bit.
void ShadowMarksScalar(const TSortedMarks& s, const std::array<float, 256>& table) {
  const float* r2 = s.R2;
  const float* th = s.Theta;
  for (int32_t k = 1; k < s.N; ++k) {
    const float tk = th[k], rk = r2[k], invk = 1.0f / rk;
    float p[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    for (int32_t l = 0; l < k; ++l) {
      float d = std::fabs(tk - th[l]);
      const float e = TwoPiF - d;
      d = d < e ? d : e;
      if (!(d < HalfPiF)) continue;
      const float f = table[size_t(RoundEvenToInt(d * TableScale))];
      const float t = (rk - r2[l]) * 3.0f;
      p[l & 7] *= t <= rk ? t * invk * (f - 1.0f) + 1.0f : f;
    }
    const float q0 = p[0] * p[4], q1 = p[1] * p[5], q2 = p[2] * p[6], q3 = p[3] * p[7];
    s.W[s.Order[k]] *= (q0 * q1) * (q2 * q3);
  }
}

// The first mark l whose t = 3 (r2_k - r2_l) is within r2_k; every later one
// is too (the marks are in order of distance), every earlier one's factor is
// the table's alone.
int32_t FirstNearMark(const TSortedMarks& s, int32_t k) {
  int32_t lo = 0, hi = k;
  while (lo < hi) {
    const int32_t mid = (lo + hi) / 2;
    if ((s.R2[k] - s.R2[mid]) * 3.0f <= s.R2[k])
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

#if ASTRELON_HAVE_SSE2
__m128 Select(__m128 mask, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }

// Mark k's weight times its eight products (p0: those of marks l mod 8 = 0..3,
// p1: 4..7), multiplied as the scalar path does.
void MultiplyWeight(const TSortedMarks& s, int32_t k, __m128 p0, __m128 p1) {
  const __m128 p = _mm_mul_ps(p0, p1);
  const __m128 pairs = _mm_mul_ps(p, _mm_shuffle_ps(p, p, _MM_SHUFFLE(2, 3, 0, 1)));
  s.W[s.Order[k]] *= _mm_cvtss_f32(_mm_mul_ss(pairs, _mm_movehl_ps(pairs, pairs)));
}

// One mark k seen against the marks before it.
struct TSse2Mark {
  __m128 Theta, R2, Inv;
  __m128i Count;
  __m128 P0, P1;  // running products of the even and the odd groups of four
};

void ShadowMarksSse2(const TSortedMarks& s, const std::array<float, 256>& table) {
  const float* r2 = s.R2;
  const float* th = s.Theta;
  const float* tab = table.data();
  const __m128 one = _mm_set1_ps(1.0f), three = _mm_set1_ps(3.0f), twoPi = _mm_set1_ps(TwoPiF);
  const __m128 halfPi = _mm_set1_ps(HalfPiF), scale = _mm_set1_ps(TableScale);
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
  auto start = [&](int32_t k) {
    return TSse2Mark{_mm_set1_ps(th[k]), _mm_set1_ps(r2[k]), _mm_set1_ps(1.0f / r2[k]), _mm_set1_epi32(k), one, one};
  };
  // The factors of the marks l .. l + 3 (whose directions and distances are
  // given) for mark m: 1 for those at or beyond m.
  auto factors = [&](const TSse2Mark& m, __m128 thl, __m128 r2l, __m128i index) {
    __m128 d = _mm_and_ps(_mm_sub_ps(m.Theta, thl), absMask);
    d = _mm_min_ps(d, _mm_sub_ps(twoPi, d));
    const __m128 inside = _mm_and_ps(_mm_castsi128_ps(_mm_cmplt_epi32(index, m.Count)), _mm_cmplt_ps(d, halfPi));
    const __m128i cell = _mm_and_si128(_mm_cvtps_epi32(_mm_mul_ps(d, scale)), _mm_castps_si128(inside));
    const __m128 f = _mm_setr_ps(tab[_mm_extract_epi16(cell, 0)], tab[_mm_extract_epi16(cell, 2)],
                                 tab[_mm_extract_epi16(cell, 4)], tab[_mm_extract_epi16(cell, 6)]);
    const __m128 t = _mm_mul_ps(_mm_sub_ps(m.R2, r2l), three);
    const __m128 eased = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(t, m.Inv), _mm_sub_ps(f, one)), one);
    return Select(inside, Select(_mm_cmple_ps(t, m.R2), eased, f), one);
  };
  // The same for marks so much nearer than m (t above m's r2) that their
  // factor is the table's alone.
  auto farFactors = [&](const TSse2Mark& m, __m128 thl, __m128i index) {
    __m128 d = _mm_and_ps(_mm_sub_ps(m.Theta, thl), absMask);
    d = _mm_min_ps(d, _mm_sub_ps(twoPi, d));
    const __m128 inside = _mm_and_ps(_mm_castsi128_ps(_mm_cmplt_epi32(index, m.Count)), _mm_cmplt_ps(d, halfPi));
    const __m128i cell = _mm_and_si128(_mm_cvtps_epi32(_mm_mul_ps(d, scale)), _mm_castps_si128(inside));
    const __m128 f = _mm_setr_ps(tab[_mm_extract_epi16(cell, 0)], tab[_mm_extract_epi16(cell, 2)],
                                 tab[_mm_extract_epi16(cell, 4)], tab[_mm_extract_epi16(cell, 6)]);
    return Select(inside, f, one);
  };
  // Marks k and k + 1 together: they share the loads and keep the processor
  // busy with two chains of products.
  for (int32_t k = 1; k < s.N; k += 2) {
    TSse2Mark a = start(k), b = start(std::min(k + 1, s.N - 1));
    const bool two = k + 1 < s.N;
    const int32_t end = two ? k + 1 : k;
    // Pairs of groups entirely before the nearer marks of both take the short way.
    const int32_t farEnd = std::min(FirstNearMark(s, k), FirstNearMark(s, two ? k + 1 : k)) / 8 * 8;
    int32_t l = 0;
    for (; l < farEnd; l += 8) {
      const __m128 th0 = _mm_loadu_ps(th + l), th1 = _mm_loadu_ps(th + l + 4);
      const __m128i i0 = _mm_add_epi32(_mm_set1_epi32(l), lanes), i1 = _mm_add_epi32(_mm_set1_epi32(l + 4), lanes);
      a.P0 = _mm_mul_ps(a.P0, farFactors(a, th0, i0));
      a.P1 = _mm_mul_ps(a.P1, farFactors(a, th1, i1));
      b.P0 = _mm_mul_ps(b.P0, farFactors(b, th0, i0));
      b.P1 = _mm_mul_ps(b.P1, farFactors(b, th1, i1));
    }
    for (; l + 4 < end; l += 8) {
      const __m128 th0 = _mm_loadu_ps(th + l), r0 = _mm_loadu_ps(r2 + l);
      const __m128 th1 = _mm_loadu_ps(th + l + 4), r1 = _mm_loadu_ps(r2 + l + 4);
      const __m128i i0 = _mm_add_epi32(_mm_set1_epi32(l), lanes), i1 = _mm_add_epi32(_mm_set1_epi32(l + 4), lanes);
      a.P0 = _mm_mul_ps(a.P0, factors(a, th0, r0, i0));
      a.P1 = _mm_mul_ps(a.P1, factors(a, th1, r1, i1));
      b.P0 = _mm_mul_ps(b.P0, factors(b, th0, r0, i0));
      b.P1 = _mm_mul_ps(b.P1, factors(b, th1, r1, i1));
    }
    if (l < end) {
      const __m128 th0 = _mm_loadu_ps(th + l), r0 = _mm_loadu_ps(r2 + l);
      const __m128i i0 = _mm_add_epi32(_mm_set1_epi32(l), lanes);
      a.P0 = _mm_mul_ps(a.P0, factors(a, th0, r0, i0));
      b.P0 = _mm_mul_ps(b.P0, factors(b, th0, r0, i0));
    }
    MultiplyWeight(s, k, a.P0, a.P1);
    if (two) MultiplyWeight(s, k + 1, b.P0, b.P1);
  }
}
#endif

#if ASTRELON_HAVE_AVX2
// The eight-wide path: two groups of four marks in one vector, the lower half
// the even group and the upper half the odd one, as the two products of the
// four-wide path.
ASTRELON_AVX2 void ShadowMarksAvx2(const TSortedMarks& s, const std::array<float, 256>& table) {
  const float* r2 = s.R2;
  const float* th = s.Theta;
  const float* tab = table.data();
  const __m256 one = _mm256_set1_ps(1.0f), three = _mm256_set1_ps(3.0f), twoPi = _mm256_set1_ps(TwoPiF);
  const __m256 halfPi = _mm256_set1_ps(HalfPiF), scale = _mm256_set1_ps(TableScale);
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  struct TMark {
    __m256 Theta, R2, Inv;
    __m256i Count;
    __m256 P;
  };
  auto start = [&](int32_t k) ASTRELON_AVX2 {
    return TMark{_mm256_set1_ps(th[k]), _mm256_set1_ps(r2[k]), _mm256_set1_ps(1.0f / r2[k]), _mm256_set1_epi32(k), one};
  };
  auto table8 = [&](const TMark& m, __m256 thl, __m256i index, __m256& inside) ASTRELON_AVX2 {
    __m256 d = _mm256_and_ps(_mm256_sub_ps(m.Theta, thl), absMask);
    d = _mm256_min_ps(d, _mm256_sub_ps(twoPi, d));
    inside =
        _mm256_and_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(m.Count, index)), _mm256_cmp_ps(d, halfPi, _CMP_LT_OQ));
    const __m256i cell = _mm256_and_si256(_mm256_cvtps_epi32(_mm256_mul_ps(d, scale)), _mm256_castps_si256(inside));
    return _mm256_i32gather_ps(tab, cell, 4);
  };
  auto farFactors = [&](const TMark& m, __m256 thl, __m256i index) ASTRELON_AVX2 {
    __m256 inside;
    const __m256 f = table8(m, thl, index, inside);
    return _mm256_blendv_ps(one, f, inside);
  };
  auto factors = [&](const TMark& m, __m256 thl, __m256 r2l, __m256i index) ASTRELON_AVX2 {
    __m256 inside;
    const __m256 f = table8(m, thl, index, inside);
    const __m256 t = _mm256_mul_ps(_mm256_sub_ps(m.R2, r2l), three);
    const __m256 eased = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(t, m.Inv), _mm256_sub_ps(f, one)), one);
    return _mm256_blendv_ps(one, _mm256_blendv_ps(f, eased, _mm256_cmp_ps(t, m.R2, _CMP_LE_OQ)), inside);
  };
  for (int32_t k = 1; k < s.N; k += 2) {
    TMark a = start(k), b = start(std::min(k + 1, s.N - 1));
    const bool two = k + 1 < s.N;
    const int32_t end = two ? k + 1 : k;
    const int32_t farEnd = std::min(FirstNearMark(s, k), FirstNearMark(s, two ? k + 1 : k)) / 8 * 8;
    int32_t l = 0;
    for (; l < farEnd; l += 8) {
      const __m256 thl = _mm256_loadu_ps(th + l);
      const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(l), lanes);
      a.P = _mm256_mul_ps(a.P, farFactors(a, thl, index));
      b.P = _mm256_mul_ps(b.P, farFactors(b, thl, index));
    }
    for (; l < end; l += 8) {
      const __m256 thl = _mm256_loadu_ps(th + l), r2l = _mm256_loadu_ps(r2 + l);
      const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(l), lanes);
      a.P = _mm256_mul_ps(a.P, factors(a, thl, r2l, index));
      b.P = _mm256_mul_ps(b.P, factors(b, thl, r2l, index));
    }
    MultiplyWeight(s, k, _mm256_castps256_ps128(a.P), _mm256_extractf128_ps(a.P, 1));
    if (two) MultiplyWeight(s, k + 1, _mm256_castps256_ps128(b.P), _mm256_extractf128_ps(b.P, 1));
  }
}
#endif

}  // namespace

const std::array<float, 256>& RaisedCosineTable() {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const double c = 0.5 - 0.5 * std::cos(Pi * i / 255.0);
      t[size_t(i)] = float(c * c);
    }
    return t;
  }();
  return table;
}

TMarkShadowing::TMarkShadowing(size_t marks)
    : order_(marks), sortedR2_((marks + 3) / 4 * 4 + 8), sortedTheta_((marks + 3) / 4 * 4 + 8) {
  for (size_t k = 0; k < marks; ++k) order_[k] = int32_t(k);
}

void TMarkShadowing::Apply(std::span<const float> r2, std::span<const double> theta, std::span<float> w) {
  const int32_t n = int32_t(order_.size());
  // Insertion sort: the order of the last node is nearly right.
  int32_t* o = order_.data();
  auto before = [&](int32_t a, int32_t b) {
    return r2[size_t(a)] < r2[size_t(b)] || (r2[size_t(a)] == r2[size_t(b)] && a < b);
  };
  for (int32_t i = 1; i < n; ++i) {
    const int32_t k = o[i];
    int32_t j = i;
    for (; j > 0 && before(k, o[j - 1]); --j) o[j] = o[j - 1];
    o[j] = k;
  }
  for (int32_t i = 0; i < n; ++i) {
    sortedR2_[size_t(i)] = r2[size_t(o[i])];
    sortedTheta_[size_t(i)] = float(theta[size_t(o[i])]);
  }
  const TSortedMarks s{o, sortedR2_.data(), sortedTheta_.data(), n, w.data()};
  const std::array<float, 256>& table = RaisedCosineTable();
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(Sse2Enabled)) {
    ShadowMarksAvx2(s, table);
    return;
  }
#endif
#if ASTRELON_HAVE_SSE2
  if (Sse2Enabled) {
    ShadowMarksSse2(s, table);
    return;
  }
#endif
  ShadowMarksScalar(s, table);
}

}  // namespace astrelon
