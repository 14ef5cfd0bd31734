#include "frequency/speckle/speckle_phasor_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "platform/lane_polynomials.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

// The same rounding in every lane count: no contraction into fused multiply-adds.
#ifdef __clang__
#pragma clang fp contract(off)
#endif
// Vector lanes pass between the always-inlined loop bodies only.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace simd;
typedef float TVec16f __attribute__((vector_size(64)));

// The constants of a vector in every lane.
template <class V>
struct TStepLanes {
  V Phi, InverseWeight, Eps, Least;
  explicit TStepLanes(const TSpeckleStepConstants& k)
      : Phi(Splat<V>(k.Phi)), InverseWeight(Splat<V>(k.InverseWeight)), Eps(Splat<V>(k.Eps)), Least(Splat<V>(k.Least)) {}
};

// The unsigned integer lanes of a float lane type.
template <class V>
struct TUInt {
  typedef uint32_t Type __attribute__((vector_size(sizeof(V))));
};
template <>
struct TUInt<float> {
  using Type = uint32_t;
};

// The path weight w = s / c_u as s · (1 / c_u): kept where it lies in
// [Least, 1e8), else 1e8 (the variance c_u / s at most 1e-8 or negative, and
// a product that is not a number). Least is +0 or the least positive float,
// so with b the bits of w0 + 0 (−0 made +0) the test is b − bits(Least) <
// bits(1e8) − bits(Least) on unsigned lanes below 2^31, taken from the top
// bit of a difference: GCC compiles comparisons of sixteen lanes in an
// inlined template one lane at a time.
template <class V>
[[gnu::always_inline]] inline void PathPhasor(V amp, V beta, const TStepLanes<V>& k, V& zRe, V& zIm) {
  using U = typename TUInt<V>::Type;
  const V cap = Splat<V>(1e8f), w0 = (amp + k.Eps) * k.InverseWeight;
  const U least = U(BitsOf(k.Least)), d = U(BitsOf(w0 + Splat<V>(0.0f))) - least;
  const U keep = U{} - (((d - (U(BitsOf(cap)) - least)) & ~d) >> 31);
  const V w = FloatOf<V>(Int<V>((U(BitsOf(w0)) & keep) | (U(BitsOf(cap)) & ~keep)));
  V co, sn;
  CosSin(k.Phi - beta, co, sn);
  zRe = w * co;
  zIm = w * sn;
}

// Each loop body takes lanes of V from `from` while whole vectors fit and
// returns where it stopped; a plain float finishes the rest.
// The path phasors of a run: times the known phasors (TRe, TIm) and added to
// (Re, Im) when Sums, else stored in (Re, Im).
template <bool Sums>
struct TPathPhasors {
  int32_t Count;
  const float *Amp, *Beta, *TRe, *TIm;
  float *Re, *Im;
  const TSpeckleStepConstants& K;
  template <class V>
  [[gnu::always_inline]] int32_t Run(int32_t x) const {
    constexpr int32_t L = LaneCount<V>;
    const TStepLanes<V> k(K);
    const float *amp = Amp, *beta = Beta, *tr = TRe, *ti = TIm;
    float *re = Re, *im = Im;
    for (const int32_t n = Count; x + L <= n; x += L) {
      V zRe, zIm;
      PathPhasor(LoadLanes<V>(amp + x), LoadLanes<V>(beta + x), k, zRe, zIm);
      if constexpr (Sums) {
        const V tRe = LoadLanes<V>(tr + x), tIm = LoadLanes<V>(ti + x);
        StoreLanes(re + x, LoadLanes<V>(re + x) + (zRe * tRe - zIm * tIm));
        StoreLanes(im + x, LoadLanes<V>(im + x) + (zRe * tIm + zIm * tRe));
      } else {
        StoreLanes(re + x, zRe);
        StoreLanes(im + x, zIm);
      }
    }
    return x;
  }
};

// Whole runs of path phasors in one pass: each run's lanes of V, then its
// rest as plain floats (a vector pass leaves nothing for the plain one).
struct TPhasorRuns {
  std::span<const TSpecklePhasorRun> Runs;
  template <class V>
  [[gnu::always_inline]] int32_t Run(int32_t done) const {
    constexpr size_t Ahead = 4;
    if (done) return done;
    for (size_t r = 0; r < Runs.size(); ++r) {
      if (r + Ahead < Runs.size()) {
        const TSpecklePhasorRun& a = Runs[r + Ahead];
        for (int32_t c = 0; c < a.Count + 15; c += 16) {
          __builtin_prefetch(a.Amp + std::min(c, a.Count - 1));
          __builtin_prefetch(a.Beta + std::min(c, a.Count - 1));
        }
      }
      const TSpecklePhasorRun& p = Runs[r];
      if (p.TRe) {
        const TPathPhasors<true> k{p.Count, p.Amp, p.Beta, p.TRe, p.TIm, p.Re, p.Im, *p.K};
        k.template Run<float>(k.template Run<V>(0));
      } else {
        const TPathPhasors<false> k{p.Count, p.Amp, p.Beta, nullptr, nullptr, p.Re, p.Im, *p.K};
        k.template Run<float>(k.template Run<V>(0));
      }
    }
    return 1;
  }
};

// Each (re[i], im[i]) replaced by f(re[i], im[i]).
template <class F>
struct TPairMap {
  int32_t Count;
  float *Re, *Im;
  F Map;
  template <class V>
  [[gnu::always_inline]] int32_t Run(int32_t x) const {
    constexpr int32_t L = LaneCount<V>;
    float *re = Re, *im = Im;
    for (const int32_t n = Count; x + L <= n; x += L) {
      V r = LoadLanes<V>(re + x), i = LoadLanes<V>(im + x);
      Map(r, i);
      StoreLanes(re + x, r);
      StoreLanes(im + x, i);
    }
    return x;
  }
};
template <class F>
TPairMap<F> PairMap(int32_t count, float* re, float* im, F map) {
  return {count, re, im, map};
}

// Each a[i] replaced by f(a[i]).
template <class F>
struct TValueMap {
  int32_t Count;
  float* A;
  F Map;
  template <class V>
  [[gnu::always_inline]] int32_t Run(int32_t x) const {
    constexpr int32_t L = LaneCount<V>;
    float* a = A;
    for (const int32_t n = Count; x + L <= n; x += L) StoreLanes(a + x, Map(LoadLanes<V>(a + x)));
    return x;
  }
};
template <class F>
TValueMap<F> ValueMap(int32_t count, float* a, F map) {
  return {count, a, map};
}

typedef double TVec4dLanes __attribute__((vector_size(32)));

// Amplitude and phase of each bin in three steps over the row: the squared
// amplitude and the phase (a PairMap), the square root (an instruction of each
// lane count's own loop below), then the amplitudes added up in sixteen double
// lanes by column (column i to lane i mod 16), those from OuterFrom on also
// in the outer lanes. The lanes are kept four by four.
struct TAmplitudeSums {
  int32_t Count, OuterFrom;
  const float* Amplitude;
  TVec4dLanes *Sum, *Outer;
  template <class V>
  [[gnu::always_inline]] int32_t Run(int32_t x) const {
    constexpr int32_t L = LaneCount<V>;
    if constexpr (L == 1) {
      for (; x < Count; ++x) {
        const double a = Amplitude[x];
        Sum[(x % 16) / 4][x % 4] += a;
        Outer[(x % 16) / 4][x % 4] += x >= OuterFrom ? a : 0.0;
      }
    } else {
      for (const int32_t n = Count; x + L <= n; x += L) {
        const V a = LoadLanes<V>(Amplitude + x);
        Int<V> column;
        for (int32_t j = 0; j < L; ++j) column[j] = x + j;
        const V outer = column >= OuterFrom ? a : Splat<V>(0.0f);
        for (int32_t k = 0; k < L / 4; ++k) {
          const int32_t lane = ((x % 16) / 4 + k) % 4;
          Sum[lane] += Quarter(a, k);
          Outer[lane] += Quarter(outer, k);
        }
      }
    }
    return x;
  }
  // Floats 4k .. 4k + 3 as doubles.
  template <class V>
  [[gnu::always_inline]] static TVec4dLanes Quarter(V v, int32_t k) {
    TVec4f q;
    std::memcpy(&q, reinterpret_cast<const float*>(&v) + 4 * k, sizeof q);
    return __builtin_convertvector(q, TVec4dLanes);
  }
};

// Square roots in place, correctly rounded in every lane count.
void SqrtOne(float* v, int32_t x, int32_t count) {
  for (; x < count; ++x) v[x] = std::sqrt(v[x]);
}
#if ASTRELON_HAVE_SSE2
void SqrtFour(float* v, int32_t count) {
  int32_t x = 0;
  for (; x + 4 <= count; x += 4) _mm_storeu_ps(v + x, _mm_sqrt_ps(_mm_loadu_ps(v + x)));
  SqrtOne(v, x, count);
}
#endif
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void SqrtEight(float* v, int32_t count) {
  int32_t x = 0;
  for (; x + 8 <= count; x += 8) _mm256_storeu_ps(v + x, _mm256_sqrt_ps(_mm256_loadu_ps(v + x)));
  SqrtOne(v, x, count);
}
// GCC 12 takes the undefined pass-through operand of the 512-bit square root
// for an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
ASTRELON_AVX512 void SqrtSixteen(float* v, int32_t count) {
  int32_t x = 0;
  for (; x + 16 <= count; x += 16) _mm512_storeu_ps(v + x, _mm512_sqrt_ps(_mm512_loadu_ps(v + x)));
  SqrtOne(v, x, count);
}
#pragma GCC diagnostic pop
#endif

template <class K>
void RunOne(const K& k) {
  k.template Run<float>(0);
}
template <class K>
void RunFour(const K& k) {
  k.template Run<float>(k.template Run<TVec4f>(0));
}
#if ASTRELON_HAVE_AVX2
template <class K>
ASTRELON_AVX2 void RunEight(const K& k) {
  k.template Run<float>(k.template Run<TVec8f>(0));
}
template <class K>
ASTRELON_AVX512 void RunSixteen(const K& k) {
  k.template Run<float>(k.template Run<TVec16f>(0));
}
#endif

template <class K>
void Run(TSpeckleLanes lanes, const K& k) {
  switch (lanes) {
#if ASTRELON_HAVE_AVX2
    case TSpeckleLanes::Sixteen:
      if (CpuRunsAvx512()) return RunSixteen(k);
      [[fallthrough]];
    case TSpeckleLanes::Eight:
      if (CpuHasAvx2()) return RunEight(k);
      [[fallthrough]];
#endif
    case TSpeckleLanes::Four:
#if ASTRELON_HAVE_SSE2
      return RunFour(k);
#endif
    case TSpeckleLanes::One:
      break;
  }
  RunOne(k);
}

}  // namespace

TSpeckleLanes SpeckleLanes(bool vector) {
  if (!vector || !Sse2Enabled) return TSpeckleLanes::One;
  if (UseAvx512(vector)) return TSpeckleLanes::Sixteen;
  if (UseAvx2(vector)) return TSpeckleLanes::Eight;
  return ASTRELON_HAVE_SSE2 ? TSpeckleLanes::Four : TSpeckleLanes::One;
}

std::vector<TSpeckleLanes> SpeckleLanesAvailable() {
  std::vector<TSpeckleLanes> lanes{TSpeckleLanes::One};
  if (ASTRELON_HAVE_SSE2) lanes.push_back(TSpeckleLanes::Four);
  if (CpuHasAvx2()) lanes.push_back(TSpeckleLanes::Eight);
  if (CpuRunsAvx512()) lanes.push_back(TSpeckleLanes::Sixteen);
  return lanes;
}

void SpecklePhasorSums(TSpeckleLanes lanes, int32_t count, const float* amp, const float* beta, const float* tRe,
                       const float* tIm, float* sumRe, float* sumIm, const TSpeckleStepConstants& k) {
  Run(lanes, TPathPhasors<true>{count, amp, beta, tRe, tIm, sumRe, sumIm, k});
}

void SpecklePhasors(TSpeckleLanes lanes, int32_t count, const float* amp, const float* beta, float* zRe, float* zIm,
                    const TSpeckleStepConstants& k) {
  Run(lanes, TPathPhasors<false>{count, amp, beta, nullptr, nullptr, zRe, zIm, k});
}

void SpecklePhasorRuns(TSpeckleLanes lanes, std::span<const TSpecklePhasorRun> runs) {
  Run(lanes, TPhasorRuns{runs});
}

void SpecklePhasor(float amp, float beta, const TSpeckleStepConstants& k, float& zRe, float& zIm) {
  PathPhasor(amp, beta, TStepLanes<float>(k), zRe, zIm);
}

TSpeckleStepConstants SpeckleStepConstants(double phi, double weight, double eps) {
  // s / c_u >= 0 for c_u > 0 (s = 0: weight 0); for c_u <= 0 only s / c_u > 0
  // is a positive variance. An inverse beyond the floats is the largest one.
  constexpr double largest = std::numeric_limits<float>::max();
  const double inverse = weight != 0 ? std::clamp(1 / weight, -largest, largest) : HUGE_VAL;
  return {float(phi), float(inverse), float(eps), weight > 0 ? 0.0f : std::numeric_limits<float>::denorm_min()};
}

void SpeckleCosSin(float angle, float& c, float& s) { CosSin(angle, c, s); }

float SpeckleAtan2(float y, float x) { return Atan2(y, x); }

void SpeckleCartesianToPolar(TSpeckleLanes lanes, int32_t count, float* re, float* im, int32_t outerFrom,
                             TSumLanes& sum, TSumLanes& outer) {
  Run(lanes, PairMap(count, re, im, [](auto& r, auto& i) __attribute__((always_inline)) {
        const auto phase = Atan2(i, r);
        r = r * r + i * i;
        i = phase;
      }));
  switch (lanes) {
#if ASTRELON_HAVE_AVX2
    case TSpeckleLanes::Sixteen:
      if (CpuRunsAvx512()) {
        SqrtSixteen(re, count);
        break;
      }
      [[fallthrough]];
    case TSpeckleLanes::Eight:
      if (CpuHasAvx2()) {
        SqrtEight(re, count);
        break;
      }
      [[fallthrough]];
#endif
    case TSpeckleLanes::Four:
#if ASTRELON_HAVE_SSE2
      SqrtFour(re, count);
      break;
#endif
    case TSpeckleLanes::One:
      SqrtOne(re, 0, count);
  }
  TVec4dLanes s[4], o[4];
  std::memcpy(s, sum.data(), sizeof s);
  std::memcpy(o, outer.data(), sizeof o);
  Run(lanes, TAmplitudeSums{count, outerFrom, re, s, o});
  std::memcpy(sum.data(), s, sizeof s);
  std::memcpy(outer.data(), o, sizeof o);
}

void SpecklePolarToCartesian(TSpeckleLanes lanes, int32_t count, float* re, float* im) {
  Run(lanes, PairMap(count, re, im, [](auto& a, auto& phase) __attribute__((always_inline)) {
        std::remove_reference_t<decltype(a)> c, s;
        CosSin(phase, c, s);
        phase = a * s;
        a = a * c;
      }));
}

void SpeckleCutAndWeigh(TSpeckleLanes lanes, int32_t count, int32_t cutCount, float* a, float cut, float w) {
  cutCount = std::clamp(cutCount, 0, count);
  // 0 > d ? 0 : d is std::max(d, 0) in every lane.
  Run(lanes, ValueMap(cutCount, a, [cut, w](auto v) __attribute__((always_inline)) {
        using V = decltype(v);
        return LaneMax(Splat<V>(0.0f), v - Splat<V>(cut)) * Splat<V>(w);
      }));
  Run(lanes, ValueMap(count - cutCount, a + cutCount,
                      [w](auto v) __attribute__((always_inline)) { return v * Splat<decltype(v)>(w); }));
}

}  // namespace astrelon
