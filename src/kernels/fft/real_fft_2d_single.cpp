// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value (the warning points into their header).
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "kernels/fft/real_fft_2d_single.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/lane_transposes.h"
#include "platform/simd_support.h"

// Products and sums stay apart (no fused multiply-add), on every path alike.
#if defined(__clang__)
#pragma clang fp contract(off)
#endif
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

// L floats side by side (a plain float for one lane).
template <int L>
struct TFloatLanes {
  typedef float T __attribute__((vector_size(4 * L)));
};
template <>
struct TFloatLanes<1> {
  using T = float;
};
template <int L>
using F = typename TFloatLanes<L>::T;

template <int L>
[[gnu::always_inline]] inline F<L> Load(const float* p) {
  F<L> v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <int L>
[[gnu::always_inline]] inline void Store(float* p, F<L> v) {
  std::memcpy(p, &v, sizeof v);
}
template <int L>
[[gnu::always_inline]] inline F<L> Splat(float x) {
  if constexpr (L == 1)
    return x;
  else
    return F<L>{} + x;
}

// ---- Transposes: v[i] lane j := v[j] lane i ---------------------------------
// (The kernels that call them inline every call, so that the wider ones join
// the code compiled for their processors.)

#if ASTRELON_HAVE_SSE2
[[gnu::always_inline]] inline void Transpose4(F<4>* v) {
  __m128 a = v[0], b = v[1], c = v[2], d = v[3];
  _MM_TRANSPOSE4_PS(a, b, c, d);
  v[0] = a, v[1] = b, v[2] = c, v[3] = d;
}
#endif

template <int L>
[[gnu::always_inline]] inline void Transpose(F<L>* v) {
  if constexpr (L == 4) {
#if ASTRELON_HAVE_SSE2
    Transpose4(v);
#endif
  } else if constexpr (L == 8) {
#if ASTRELON_HAVE_AVX2
    TransposeFloats8(reinterpret_cast<__m256*>(v));
#endif
  } else if constexpr (L == 16) {
#if ASTRELON_HAVE_AVX2
    TransposeFloats16(reinterpret_cast<__m512*>(v));
#endif
  }
}

// ---- Pairs of neighbours: 2L values as their even and odd ones --------------

#if ASTRELON_HAVE_SSE2
inline void Split4(const float* p, F<4>& even, F<4>& odd) {
  const __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
  even = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
  odd = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
}
inline void Join4(const F<4>& even, const F<4>& odd, float* p) {
  _mm_storeu_ps(p, _mm_unpacklo_ps(even, odd));
  _mm_storeu_ps(p + 4, _mm_unpackhi_ps(even, odd));
}
#endif

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline void Split8(const float* p, F<8>& even, F<8>& odd) {
  const __m256 a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
  const __m256d e = _mm256_castps_pd(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256d o = _mm256_castps_pd(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  even = _mm256_castpd_ps(_mm256_permute4x64_pd(e, _MM_SHUFFLE(3, 1, 2, 0)));
  odd = _mm256_castpd_ps(_mm256_permute4x64_pd(o, _MM_SHUFFLE(3, 1, 2, 0)));
}
ASTRELON_AVX2 inline void Join8(const F<8>& even, const F<8>& odd, float* p) {
  const __m256 lo = _mm256_unpacklo_ps(even, odd), hi = _mm256_unpackhi_ps(even, odd);
  _mm256_storeu_ps(p, _mm256_permute2f128_ps(lo, hi, 0x20));
  _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
}

ASTRELON_AVX512 inline void Split16(const float* p, F<16>& even, F<16>& odd) {
  const __m512 a = _mm512_loadu_ps(p), b = _mm512_loadu_ps(p + 16);
  const __m512i e = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  even = _mm512_permutex2var_ps(a, e, b);
  odd = _mm512_permutex2var_ps(a, _mm512_add_epi32(e, _mm512_set1_epi32(1)), b);
}
ASTRELON_AVX512 inline void Join16(const F<16>& even, const F<16>& odd, float* p) {
  const __m512i lo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  _mm512_storeu_ps(p, _mm512_permutex2var_ps(even, lo, odd));
  _mm512_storeu_ps(p + 16, _mm512_permutex2var_ps(even, _mm512_add_epi32(lo, _mm512_set1_epi32(8)), odd));
}
#endif

// even := p[0], p[2], …, p[2L − 2]; odd := p[1], p[3], …
template <int L>
[[gnu::always_inline]] inline void SplitPairs(const float* p, F<L>& even, F<L>& odd) {
  if constexpr (L == 1) {
    even = p[0], odd = p[1];
  } else if constexpr (L == 4) {
#if ASTRELON_HAVE_SSE2
    Split4(p, even, odd);
#endif
  } else if constexpr (L == 8) {
#if ASTRELON_HAVE_AVX2
    Split8(p, even, odd);
#endif
  } else {
#if ASTRELON_HAVE_AVX2
    Split16(p, even, odd);
#endif
  }
}
// p[2l] := even lane l, p[2l + 1] := odd lane l.
template <int L>
[[gnu::always_inline]] inline void JoinPairs(const F<L>& even, const F<L>& odd, float* p) {
  if constexpr (L == 1) {
    p[0] = even, p[1] = odd;
  } else if constexpr (L == 4) {
#if ASTRELON_HAVE_SSE2
    Join4(even, odd, p);
#endif
  } else if constexpr (L == 8) {
#if ASTRELON_HAVE_AVX2
    Join8(even, odd, p);
#endif
  } else {
#if ASTRELON_HAVE_AVX2
    Join16(even, odd, p);
#endif
  }
}

// ---- The transforms for L lanes ---------------------------------------------

using TShape = TRealFft2DSingle::TShape;

// Forward: the columns in batches of 2L (column x0 + 2l as real part of lane l,
// x0 + 2l + 1 as imaginary part: the same pairs for any lane count, so that
// separating their spectra rounds alike), each batch's two spectra separated per row
// frequency v = 0 .. Ny/2 and handed to the row transforms, lanes turned from
// columns to row frequencies; then the row transforms of every group.
template <int L>
[[gnu::always_inline]] inline void ForwardOf(const TShape& s, const float* image, int32_t w, int32_t h,
                                             int64_t stride, float* outRe, float* outIm, float offset) {
  const int32_t nx = s.Nx, ny = s.Ny, half = ny / 2;
  const int32_t* placeX = s.PlanX->Permutation.data();
  const int32_t* placeY = s.PlanY->Permutation.data();
  const size_t group = size_t(nx) * L;
  float* const re = s.LineRe;
  float* const im = s.LineIm;
  const F<L> off = Splat<L>(offset), zero{}, halfOf = Splat<L>(0.5f);
  // Columns beyond the image are zeros in every group.
  for (int32_t x = w; x < nx; ++x)
    for (int32_t g = 0; g < s.Groups; ++g) {
      Store<L>(outRe + g * group + size_t(placeX[x]) * L, zero);
      Store<L>(outIm + g * group + size_t(placeX[x]) * L, zero);
    }
  for (int32_t x0 = 0; x0 < w; x0 += 2 * L) {
    const bool whole = x0 + 2 * L <= w;
    for (int32_t y = h; y < ny; ++y) {
      Store<L>(re + size_t(placeY[y]) * L, zero);
      Store<L>(im + size_t(placeY[y]) * L, zero);
    }
    for (int32_t y = 0; y < h; ++y) {
      const float* row = image + y * stride + x0;
      F<L> a, b;
      if (whole) {
        SplitPairs<L>(row, a, b);
        a -= off, b -= off;
      } else {
        float ta[L], tb[L];
        for (int l = 0; l < L; ++l) {
          ta[l] = x0 + 2 * l < w ? row[2 * l] - offset : 0.0f;
          tb[l] = x0 + 2 * l + 1 < w ? row[2 * l + 1] - offset : 0.0f;
        }
        a = Load<L>(ta), b = Load<L>(tb);
      }
      Store<L>(re + size_t(placeY[y]) * L, a);
      Store<L>(im + size_t(placeY[y]) * L, b);
    }
    RunFftPasses(*s.PlanY, re, im, L);
    for (int32_t g = 0; g < s.Groups; ++g) {
      F<L> ar[L], ai[L], br[L], bi[L];
      for (int j = 0; j < L; ++j) {
        const int32_t v = g * L + j;
        if (v > half) {
          ar[j] = ai[j] = br[j] = bi[j] = zero;
          continue;
        }
        const size_t at = size_t(v) * L, mirror = size_t(v == 0 ? 0 : ny - v) * L;
        const F<L> xr = Load<L>(re + at), xi = Load<L>(im + at), yr = Load<L>(re + mirror), yi = Load<L>(im + mirror);
        ar[j] = (xr + yr) * halfOf;
        ai[j] = (xi - yi) * halfOf;
        br[j] = (xi + yi) * halfOf;
        bi[j] = (yr - xr) * halfOf;
      }
      Transpose<L>(ar), Transpose<L>(ai), Transpose<L>(br), Transpose<L>(bi);
      float* gr = outRe + g * group;
      float* gi = outIm + g * group;
      for (int l = 0; l < L; ++l) {
        const int32_t xa = x0 + 2 * l, xb = xa + 1;
        if (xa < w) {
          Store<L>(gr + size_t(placeX[xa]) * L, ar[l]);
          Store<L>(gi + size_t(placeX[xa]) * L, ai[l]);
        }
        if (xb < w) {
          Store<L>(gr + size_t(placeX[xb]) * L, br[l]);
          Store<L>(gi + size_t(placeX[xb]) * L, bi[l]);
        }
      }
    }
  }
  for (int32_t g = 0; g < s.Groups; ++g) RunFftPasses(*s.PlanX, outRe + g * group, outIm + g * group, L);
}

// Inverse: the row transforms of the conjugated groups give the unscaled
// inverse along the rows, conjugated; then the columns in batches of 2L (the
// pairs of the forward transform), lanes turned from row frequencies to
// columns, two Hermitian column spectra packed per lane (conjugated, so that
// the forward passes give the unscaled inverse).
template <int L>
[[gnu::always_inline]] inline void InverseOf(const TShape& s, const float* inRe, const float* inIm, int32_t w,
                                             int32_t h, float* out, int64_t stride) {
  const int32_t nx = s.Nx, ny = s.Ny, half = ny / 2;
  const int32_t* placeX = s.PlanX->Permutation.data();
  const int32_t* placeY = s.PlanY->Permutation.data();
  const size_t group = size_t(nx) * L;
  float* const wr = s.WorkRe;
  float* const wi = s.WorkIm;
  const F<L> zero{}, minus = Splat<L>(-1.0f);
  for (int32_t g = 0; g < s.Groups; ++g) {
    const float* sr = inRe + g * group;
    const float* si = inIm + g * group;
    float* r = wr + g * group;
    float* m = wi + g * group;
    for (int32_t u = 0; u < nx; ++u) {
      Store<L>(r + size_t(placeX[u]) * L, Load<L>(sr + size_t(u) * L));
      Store<L>(m + size_t(placeX[u]) * L, minus * Load<L>(si + size_t(u) * L));
    }
    RunFftPasses(*s.PlanX, r, m, L);
  }
  const F<L> scale = Splat<L>(float(1.0 / (double(nx) * double(ny))));
  float* const re = s.LineRe;
  float* const im = s.LineIm;
  // Row frequency v of the batch's columns (lanes): a from x0 + 2l, b from x0 + 2l + 1.
  const size_t rows = size_t(s.Groups) * L * L;
  float* const ar = s.Scratch;
  float* const ai = ar + rows;
  float* const br = ai + rows;
  float* const bi = br + rows;
  for (int32_t x0 = 0; x0 < w; x0 += 2 * L) {
    for (int32_t g = 0; g < s.Groups; ++g) {
      const float* r = wr + g * group;
      const float* m = wi + g * group;
      F<L> gar[L], gai[L], gbr[L], gbi[L];
      for (int l = 0; l < L; ++l) {
        // The rows' conjugation undone here: g(x, v) = conj of the passes' result.
        const int32_t xa = x0 + 2 * l, xb = xa + 1;
        gar[l] = xa < nx ? Load<L>(r + size_t(xa) * L) : zero;
        gai[l] = xa < nx ? minus * Load<L>(m + size_t(xa) * L) : zero;
        gbr[l] = xb < nx ? Load<L>(r + size_t(xb) * L) : zero;
        gbi[l] = xb < nx ? minus * Load<L>(m + size_t(xb) * L) : zero;
      }
      Transpose<L>(gar), Transpose<L>(gai), Transpose<L>(gbr), Transpose<L>(gbi);
      for (int j = 0; j < L; ++j) {
        const size_t at = (size_t(g) * L + size_t(j)) * L;
        Store<L>(ar + at, gar[j]), Store<L>(ai + at, gai[j]), Store<L>(br + at, gbr[j]), Store<L>(bi + at, gbi[j]);
      }
    }
    for (int32_t v = 0; v < ny; ++v) {
      const bool lower = v <= half;
      const int32_t j = lower ? v : ny - v;
      const float sign = (j == 0 || 2 * j == ny) ? 0.0f : (lower ? -1.0f : 1.0f);
      const F<L> sg = Splat<L>(sign);
      const size_t at = size_t(j) * L;
      const F<L> xr = Load<L>(ar + at), xi = sg * Load<L>(ai + at), yr = Load<L>(br + at), yi = sg * Load<L>(bi + at);
      Store<L>(re + size_t(placeY[v]) * L, xr - yi);
      Store<L>(im + size_t(placeY[v]) * L, xi + yr);
    }
    RunFftPasses(*s.PlanY, re, im, L);
    // The conjugated spectra's forward transform is the unscaled inverse,
    // conjugated; the lines being real, their values stand as they are.
    const bool whole = x0 + 2 * L <= w;
    for (int32_t y = 0; y < h; ++y) {
      float* row = out + y * stride + x0;
      const F<L> a = Load<L>(re + size_t(y) * L) * scale, b = Load<L>(im + size_t(y) * L) * scale;
      if (whole) {
        JoinPairs<L>(a, b, row);
        continue;
      }
      float ta[L], tb[L];
      Store<L>(ta, a), Store<L>(tb, b);
      for (int l = 0; l < L; ++l) {
        if (x0 + 2 * l < w) row[2 * l] = ta[l];
        if (x0 + 2 * l + 1 < w) row[2 * l + 1] = tb[l];
      }
    }
  }
}

template <int L>
[[gnu::always_inline]] inline void ProductOf(const float* ar, const float* ai, const float* br, const float* bi,
                                             size_t n, float* outRe, float* outIm) {
  for (size_t k = 0; k < n; k += L) {
    const F<L> xr = Load<L>(ar + k), xi = Load<L>(ai + k), yr = Load<L>(br + k), yi = Load<L>(bi + k);
    Store<L>(outRe + k, xr * yr + xi * yi);
    Store<L>(outIm + k, xr * yi - xi * yr);
  }
}

#define ASTRELON_SINGLE_TIER(Name, Attr, L)                                                                       \
  [[gnu::flatten]] Attr void Forward##Name(const TShape& s, const float* image, int32_t w, int32_t h, int64_t stride, float* re,   \
                          float* im, float offset) {                                                              \
    ForwardOf<L>(s, image, w, h, stride, re, im, offset);                                                         \
  }                                                                                                               \
  [[gnu::flatten]] Attr void Inverse##Name(const TShape& s, const float* re, const float* im, int32_t w, int32_t h, float* out,     \
                          int64_t stride) {                                                                       \
    InverseOf<L>(s, re, im, w, h, out, stride);                                                                   \
  }                                                                                                               \
  Attr void Product##Name(const float* ar, const float* ai, const float* br, const float* bi, size_t n, float* re, \
                          float* im) {                                                                            \
    ProductOf<L>(ar, ai, br, bi, n, re, im);                                                                      \
  }
ASTRELON_SINGLE_TIER(Scalar, , 1)
#if ASTRELON_HAVE_SSE2
ASTRELON_SINGLE_TIER(Sse2, , 4)
#endif
#if ASTRELON_HAVE_AVX2
ASTRELON_SINGLE_TIER(Avx2, ASTRELON_AVX2, 8)
ASTRELON_SINGLE_TIER(Avx512, ASTRELON_AVX512, 16)
#endif
#undef ASTRELON_SINGLE_TIER

}  // namespace

int TRealFft2DSingle::LanesFor(bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(vector)) return 16;
  if (UseAvx2(vector)) return 8;
#endif
#if ASTRELON_HAVE_SSE2
  if (vector) return 4;
#endif
  return 1;
}

TRealFft2DSingle::TRealFft2DSingle(int32_t nx, int32_t ny, int lanes)
    : nx_(nx), ny_(ny), lanes_(1), groups_(0), planX_(FftPlanFor(nx)), planY_(FftPlanFor(ny)) {
  if (!planX_ || !planY_) throw std::invalid_argument("TRealFft2DSingle: no transform of that length");
  const int most = LanesFor(true);
  for (int l : {16, 8, 4})
    if (lanes >= l && most >= l) {
      lanes_ = l;
      break;
    }
  groups_ = (ny_ / 2 + 1 + lanes_ - 1) / lanes_;
  line_.Resize(size_t(ny_) * 16);
  work_.Resize(size_t(groups_) * size_t(nx_) * size_t(lanes_));
  scratch_.Resize(4 * size_t(groups_) * size_t(lanes_) * size_t(lanes_));
}

void TRealFft2DSingle::Forward(const float* image, int32_t w, int32_t h, int64_t stride, TSingleSpectrum& out,
                               float offset) const {
  out.Resize(size_t(groups_) * size_t(nx_) * size_t(lanes_));
  const TShape s{nx_, ny_,        groups_,    planX_.get(), planY_.get(),
                 line_.Re(), line_.Im(), work_.Re(), work_.Im(), scratch_.Re()};
  w = std::clamp(w, 0, nx_);
  h = std::clamp(h, 0, ny_);
  switch (lanes_) {
#if ASTRELON_HAVE_AVX2
    case 16: ForwardAvx512(s, image, w, h, stride, out.Re(), out.Im(), offset); break;
    case 8: ForwardAvx2(s, image, w, h, stride, out.Re(), out.Im(), offset); break;
#endif
#if ASTRELON_HAVE_SSE2
    case 4: ForwardSse2(s, image, w, h, stride, out.Re(), out.Im(), offset); break;
#endif
    default: ForwardScalar(s, image, w, h, stride, out.Re(), out.Im(), offset); break;
  }
}

void TRealFft2DSingle::Inverse(const TSingleSpectrum& in, int32_t w, int32_t h, float* out, int64_t stride) const {
  const TShape s{nx_, ny_,        groups_,    planX_.get(), planY_.get(),
                 line_.Re(), line_.Im(), work_.Re(), work_.Im(), scratch_.Re()};
  w = std::clamp(w, 0, nx_);
  h = std::clamp(h, 0, ny_);
  switch (lanes_) {
#if ASTRELON_HAVE_AVX2
    case 16: InverseAvx512(s, in.Re(), in.Im(), w, h, out, stride); break;
    case 8: InverseAvx2(s, in.Re(), in.Im(), w, h, out, stride); break;
#endif
#if ASTRELON_HAVE_SSE2
    case 4: InverseSse2(s, in.Re(), in.Im(), w, h, out, stride); break;
#endif
    default: InverseScalar(s, in.Re(), in.Im(), w, h, out, stride); break;
  }
}

void TRealFft2DSingle::ConjugateProduct(const TSingleSpectrum& a, const TSingleSpectrum& b,
                                        TSingleSpectrum& out) const {
  const size_t n = std::min(a.Size(), b.Size());
  out.Resize(n);
  switch (lanes_) {
#if ASTRELON_HAVE_AVX2
    case 16: ProductAvx512(a.Re(), a.Im(), b.Re(), b.Im(), n, out.Re(), out.Im()); break;
    case 8: ProductAvx2(a.Re(), a.Im(), b.Re(), b.Im(), n, out.Re(), out.Im()); break;
#endif
#if ASTRELON_HAVE_SSE2
    case 4: ProductSse2(a.Re(), a.Im(), b.Re(), b.Im(), n, out.Re(), out.Im()); break;
#endif
    default: ProductScalar(a.Re(), a.Im(), b.Re(), b.Im(), n, out.Re(), out.Im()); break;
  }
}

}  // namespace astrelon
