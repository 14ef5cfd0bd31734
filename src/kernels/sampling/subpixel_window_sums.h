#pragma once
// The inner sums of the point samplers, inline so that a caller's loop over many
// positions keeps them in registers: the bilinear cell and the separable window
// of a kernel (per row the float sums of the column weights and weighted values
// of the valid pixels, then weighted by the row's weight).
#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "platform/processor_features.h"
#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

// A plane as the samplers read it: Width x Height floats, row-major.
struct TPlaneView {
  const float* Data = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  float At(int32_t x, int32_t y) const { return Data[size_t(y) * size_t(Width) + size_t(x)]; }
  bool Empty() const { return Data == nullptr; }
};

namespace sampler_detail {

#define ASTRELON_ALWAYS_INLINE inline __attribute__((always_inline))

// Coordinates at or beyond this are outside every plane; the limit keeps the
// integer parts and the tap arithmetic within 32 bits.
constexpr float PositionLimit = 1e9f;

using TKernelRow = std::array<float, KernelTableSize>;

// The separable window sums of P planes of equal size at integer parts (ix, iy)
// and fractions (fx, fy) over the window lo..hi clipped to the planes: per row
// the float sums of the column weights and weighted values of the valid pixels,
// then weighted by the row's weight. `nc` and `nr` are the clipped tap counts,
// compile-time constants (N) for a window inside the planes.
template <int P, int N = 0>
ASTRELON_ALWAYS_INLINE void SumWindow(const TPlaneView* p, const float* cw, int32_t nc, const float* rw, int32_t nr,
                                      size_t origin, float* W, float* V) {
  if constexpr (N > 0) nc = nr = N;
  const size_t width = size_t(p[0].Width);
  for (int q = 0; q < P; ++q) {
    float w = 0, v = 0;
    const float* src = p[q].Data + origin;
    for (int32_t j = 0; j < nr; ++j, src += width) {
      float rowW = 0, rowV = 0;
      for (int32_t t = 0; t < nc; ++t) {
        const float value = src[t];
        if (value > BlankLimit) {
          rowW += cw[t];
          rowV += cw[t] * value;
        }
      }
      w += rw[j] * rowW;
      v += rw[j] * rowV;
    }
    W[q] = w;
    V[q] = v;
  }
}

#if defined(__SSE2__)
// SumWindow for a 4 x 4 window, the four rows side by side: the block is
// transposed so that lane j holds row j, each lane adds its columns in column
// order, and the rows are added in row order as in SumWindow. Adding the zero of
// a blank pixel changes no sum (a sum that starts at +0 never becomes -0), so the
// values are SumWindow's bit for bit.
ASTRELON_ALWAYS_INLINE float RowOrderSum(__m128 t) {
  __m128 s = _mm_add_ss(_mm_setzero_ps(), t);
  s = _mm_add_ss(s, _mm_shuffle_ps(t, t, 1));
  s = _mm_add_ss(s, _mm_shuffle_ps(t, t, 2));
  return _mm_cvtss_f32(_mm_add_ss(s, _mm_shuffle_ps(t, t, 3)));
}

template <int P>
ASTRELON_ALWAYS_INLINE void SumWindow4Sse2(const TPlaneView* p, const float* cw, const float* rw, size_t origin,
                                           float* W, float* V) {
  const size_t width = size_t(p[0].Width);
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const __m128 rows = _mm_loadu_ps(rw);
  for (int q = 0; q < P; ++q) {
    const float* s = p[q].Data + origin;
    __m128 c0 = _mm_loadu_ps(s), c1 = _mm_loadu_ps(s + width), c2 = _mm_loadu_ps(s + 2 * width),
           c3 = _mm_loadu_ps(s + 3 * width);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    __m128 rowW = _mm_setzero_ps(), rowV = _mm_setzero_ps();
#define ASTRELON_ADD_COLUMN(c, k)                                  \
  {                                                                \
    const __m128 m = _mm_cmpgt_ps(c, limit), wk = _mm_set1_ps(cw[k]);  \
    rowW = _mm_add_ps(rowW, _mm_and_ps(m, wk));                    \
    rowV = _mm_add_ps(rowV, _mm_and_ps(m, _mm_mul_ps(wk, c)));     \
  }
    ASTRELON_ADD_COLUMN(c0, 0)
    ASTRELON_ADD_COLUMN(c1, 1)
    ASTRELON_ADD_COLUMN(c2, 2)
    ASTRELON_ADD_COLUMN(c3, 3)
#undef ASTRELON_ADD_COLUMN
    // Lane j weighted by row j, then the lanes added in row order.
    W[q] = RowOrderSum(_mm_mul_ps(rows, rowW));
    V[q] = RowOrderSum(_mm_mul_ps(rows, rowV));
  }
}
#endif

// A window of taps Lo..Hi of the kind that lies inside the planes, at fractions in [0, 1).
template <int P, int Lo, int Hi>
ASTRELON_ALWAYS_INLINE void InteriorSums(const TPlaneView* p, int32_t kind, int32_t ix, float fx, int32_t iy,
                                         float fy, float* W, float* V) {
  constexpr int N = Hi - Lo + 1;
  const auto& taps = KernelWindowTables()[size_t(kind)];
  const float* cw = taps[size_t(KernelFractionIndex(fx))].data();
  const float* rw = taps[size_t(KernelFractionIndex(fy))].data();
  const size_t origin = size_t(iy + Lo) * size_t(p[0].Width) + size_t(ix + Lo);
#if defined(__SSE2__)
  if constexpr (N == 4) {
    if (Sse2Enabled) return SumWindow4Sse2<P>(p, cw, rw, origin, W, V);
  }
#endif
  SumWindow<P, N>(p, cw, N, rw, N, origin, W, V);
}

// Bilinear sums over the 2 x 2 cell at (ix, iy), which lies inside the plane.
ASTRELON_ALWAYS_INLINE void CellSums(const TPlaneView& p, int32_t ix, float fx, int32_t iy, float fy, float& W, float& V) {
  auto rowSums = [&](int32_t y, float& w, float& v) {
    const float a = p.At(ix, y);
    w = 0;
    v = 0;
    if (a > BlankLimit) {
      w = 1 - fx;
      v = a * (1 - fx);
    }
    if (ix < p.Width - 1) {
      const float b = p.At(ix + 1, y);
      if (b > BlankLimit) {
        w += fx;
        v += b * fx;
      }
    }
  };
  float w0, v0, w1 = 0, v1 = 0;
  rowSums(iy, w0, v0);
  if (iy < p.Height - 1) {
    rowSums(iy + 1, w1, v1);
    w1 *= fy;
    v1 *= fy;
  }
  W = w0 * (1 - fy) + w1;
  V = v0 * (1 - fy) + v1;
}

// Integer parts (toward zero) and fractions of a position.
struct TSplitPosition {
  int32_t Ix, Iy;
  float Fx, Fy;
};
ASTRELON_ALWAYS_INLINE TSplitPosition SplitPosition(float x, float y) {
  const int32_t ix = int32_t(x), iy = int32_t(y);
  return {ix, iy, x - float(ix), y - float(iy)};
}

// The bilinear sums of the cell at the position's integer parts; false when the
// cell lies outside the plane (the linear kind reads it without clipping).
ASTRELON_ALWAYS_INLINE bool LinearSums(const TPlaneView& p, const TSplitPosition& s, float& W, float& V) {
  if (s.Ix >= p.Width || s.Iy >= p.Height) return false;
  CellSums(p, s.Ix, s.Fx, s.Iy, s.Fy, W, V);
  return true;
}

}  // namespace sampler_detail
}  // namespace astrelon
