#include "filters/experimental/shift_resample.h"

#include "kernels/sampling/subpixel_samplers.h"
#include "platform/simd_support.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace astrelon {

namespace {

inline bool Valid3x3(const float* up, const float* mid, const float* down) {
  for (int k = -1; k <= 1; ++k)
    if (!IsValidPixel(up[k]) || !IsValidPixel(mid[k]) || !IsValidPixel(down[k])) return false;
  return true;
}

// Along one row around its pixel p[0]: between p[-1] and p[0] for a negative
// shift, between p[0] and p[1] otherwise.
inline float RowLerp(const float* p, bool right, float f) {
  const float l = right ? p[0] : p[-1], r = right ? p[1] : p[0];
  return l + (r - l) * f;
}

#if ASTRELON_HAVE_AVX2
// Eight pixels from x on of row `row` (offset of its first pixel): the planes
// whose 3 x 3 neighbourhoods are valid throughout get the weighed cell values,
// in the operations and order of SampleShifted; done[k] tells which. False when
// a shift lies beyond one pixel (nothing is written then).
ASTRELON_AVX2 bool ShiftedBlock8(const TShiftPlanes& p, size_t row, int32_t x, const float* dx, const float* dy,
                                 bool* done) {
  const __m256 one = _mm256_set1_ps(1.0f), minusOne = _mm256_set1_ps(-1.0f), zero = _mm256_setzero_ps();
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256 sx = _mm256_loadu_ps(dx + x), sy = _mm256_loadu_ps(dy + x);
  const __m256 inRange =
      _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(sx, minusOne, _CMP_GE_OQ), _mm256_cmp_ps(sx, one, _CMP_LE_OQ)),
                    _mm256_and_ps(_mm256_cmp_ps(sy, minusOne, _CMP_GE_OQ), _mm256_cmp_ps(sy, one, _CMP_LE_OQ)));
  if (_mm256_movemask_ps(inRange) != 0xFF) return false;
  const __m256 right = _mm256_cmp_ps(sx, zero, _CMP_GE_OQ), below = _mm256_cmp_ps(sy, zero, _CMP_GE_OQ);
  const __m256 fx = _mm256_blendv_ps(_mm256_add_ps(sx, one), sx, right);
  const __m256 fy = _mm256_blendv_ps(_mm256_add_ps(sy, one), sy, below);
  const int32_t w = p.View[0].Width;
  for (int k = 0; k < p.Count; ++k) {
    const float* mid = p.View[size_t(k)].Data + row + size_t(x);
    const float* rows[3] = {mid - w, mid, mid + w};
    __m256 h[3];
    __m256 valid = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    for (int r = 0; r < 3; ++r) {
      const __m256 a = _mm256_loadu_ps(rows[r] - 1), b = _mm256_loadu_ps(rows[r]), c = _mm256_loadu_ps(rows[r] + 1);
      valid = _mm256_and_ps(valid, _mm256_and_ps(_mm256_cmp_ps(a, limit, _CMP_GT_OQ),
                                                 _mm256_and_ps(_mm256_cmp_ps(b, limit, _CMP_GT_OQ),
                                                               _mm256_cmp_ps(c, limit, _CMP_GT_OQ))));
      const __m256 l = _mm256_blendv_ps(a, b, right), rr = _mm256_blendv_ps(b, c, right);
      h[r] = _mm256_add_ps(l, _mm256_mul_ps(_mm256_sub_ps(rr, l), fx));
    }
    done[k] = _mm256_movemask_ps(valid) == 0xFF;
    if (!done[k]) continue;
    const __m256 top = _mm256_blendv_ps(h[0], h[1], below), bottom = _mm256_blendv_ps(h[1], h[2], below);
    _mm256_storeu_ps(p.Out[size_t(k)] + row + size_t(x), _mm256_add_ps(top, _mm256_mul_ps(_mm256_sub_ps(bottom, top), fy)));
  }
  return true;
}
#endif

}  // namespace

float SampleShifted(const TPlaneView& v, int32_t x, int32_t y, float dx, float dy) {
  if (dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1 && x >= 1 && y >= 1 && x < v.Width - 1 && y < v.Height - 1) {
    const float* mid = v.Data + size_t(y) * size_t(v.Width) + size_t(x);
    const float* up = mid - v.Width;
    const float* down = mid + v.Width;
    if (Valid3x3(up, mid, down)) {
      const bool right = dx >= 0, below = dy >= 0;
      const float fx = right ? dx : dx + 1, fy = below ? dy : dy + 1;
      const float top = RowLerp(below ? mid : up, right, fx);
      const float bottom = RowLerp(below ? down : mid, right, fx);
      return top + (bottom - top) * fy;
    }
  }
  return SamplePoint(v, SamplingKindOf(IkLinear), float(x) + dx, float(y) + dy);
}

void ResampleShiftedRow(const TShiftPlanes& p, int32_t y, const float* dx, const float* dy, bool vector) {
  if (p.Count < 1) return;
  const int32_t w = p.View[0].Width;
  const size_t row = size_t(y) * size_t(w);
  auto scalar = [&](int32_t x) {
    for (int k = 0; k < p.Count; ++k) {
      const TPlaneView& v = p.View[size_t(k)];
      if (IsValidPixel(v.Data[row + size_t(x)])) p.Out[size_t(k)][row + size_t(x)] = SampleShifted(v, x, y, dx[x], dy[x]);
    }
  };
  int32_t x = 1;
  const bool interiorRow = y >= 1 && y < p.View[0].Height - 1;
  // The planes of the pixels x .. x + n - 1 that a vector block left undone.
  auto finish = [&](int32_t n, const bool* done) {
    for (int k = 0; k < p.Count; ++k) {
      if (done[k]) continue;
      const TPlaneView& v = p.View[size_t(k)];
      for (int32_t j = x; j < x + n; ++j)
        if (IsValidPixel(v.Data[row + size_t(j)])) p.Out[size_t(k)][row + size_t(j)] = SampleShifted(v, j, y, dx[j], dy[j]);
    }
  };
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector) && interiorRow) {
    for (; x + 8 <= w - 1; x += 8) {
      bool done[3] = {false, false, false};
      if (!ShiftedBlock8(p, row, x, dx, dy, done)) {
        for (int32_t k = 0; k < 8; ++k) scalar(x + k);
        continue;
      }
      finish(8, done);
    }
  }
#endif
#if defined(__SSE2__)
  if (vector && interiorRow) {
    const __m128 one = _mm_set1_ps(1.0f), minusOne = _mm_set1_ps(-1.0f), zero = _mm_setzero_ps();
    const __m128 limit = _mm_set1_ps(BlankLimit);
    auto blend = [](__m128 m, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b)); };
    auto lerp = [](__m128 l, __m128 r, __m128 f) { return _mm_add_ps(l, _mm_mul_ps(_mm_sub_ps(r, l), f)); };
    for (; x + 4 <= w - 1; x += 4) {
      const __m128 sx = _mm_loadu_ps(dx + x), sy = _mm_loadu_ps(dy + x);
      const __m128 inRange = _mm_and_ps(_mm_and_ps(_mm_cmpge_ps(sx, minusOne), _mm_cmple_ps(sx, one)),
                                        _mm_and_ps(_mm_cmpge_ps(sy, minusOne), _mm_cmple_ps(sy, one)));
      if (_mm_movemask_ps(inRange) != 0xF) {
        for (int32_t k = 0; k < 4; ++k) scalar(x + k);
        continue;
      }
      const __m128 right = _mm_cmpge_ps(sx, zero), below = _mm_cmpge_ps(sy, zero);
      const __m128 fx = blend(right, sx, _mm_add_ps(sx, one)), fy = blend(below, sy, _mm_add_ps(sy, one));
      // The planes whose 3 x 3 neighbourhoods are all valid, computed here.
      bool done[3] = {false, false, false};
      for (int k = 0; k < p.Count; ++k) {
        const float* mid = p.View[size_t(k)].Data + row + size_t(x);
        const float* up = mid - w;
        const float* down = mid + w;
        __m128 h[3];
        __m128 valid = _mm_castsi128_ps(_mm_set1_epi32(-1));
        const float* rows[3] = {up, mid, down};
        for (int r = 0; r < 3; ++r) {
          const __m128 a = _mm_loadu_ps(rows[r] - 1), b = _mm_loadu_ps(rows[r]), c = _mm_loadu_ps(rows[r] + 1);
          valid = _mm_and_ps(valid, _mm_and_ps(_mm_cmpgt_ps(a, limit), _mm_and_ps(_mm_cmpgt_ps(b, limit),
                                                                                    _mm_cmpgt_ps(c, limit))));
          h[r] = lerp(blend(right, b, a), blend(right, c, b), fx);
        }
        if (_mm_movemask_ps(valid) != 0xF) continue;
        const __m128 top = blend(below, h[1], h[0]), bottom = blend(below, h[2], h[1]);
        _mm_storeu_ps(p.Out[size_t(k)] + row + size_t(x), lerp(top, bottom, fy));
        done[k] = true;
      }
      finish(4, done);
    }
  }
#endif
  for (; x < w - 1; ++x) scalar(x);
}

}  // namespace astrelon
