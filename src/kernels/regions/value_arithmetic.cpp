#include "kernels/regions/value_arithmetic.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/float_range.h"
#include "kernels/regions/rect_runs.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

// From this magnitude on every float is an integer.
constexpr float IntegralFrom = 8388608.0f;  // 2^23

// Applies op to every valid pixel of the runs of the working rectangle. With
// the SIMD switch on, four pixels at a time go through vop, which gives op's
// value lane for lane (blank lanes keep their value). SSE2 is part of every
// x86-64 processor; the switch only chooses the path.
template <typename Op, typename VectorOp>
void MapValidPixels(int slot, const TPlaneList& planes, const TWorkRect& rect, Op op, VectorOp vop) {
  const bool vector = Sse2Enabled;
  ForEachRectRun(slot, planes, rect, [&](int32_t p, std::span<float> run) {
    size_t i = 0;
    if (vector) {
      const __m128 limit = _mm_set1_ps(BlankLimit);
      for (; i + 4 <= run.size(); i += 4) {
        const __m128 x = _mm_loadu_ps(run.data() + i);
        const __m128 valid = _mm_cmpgt_ps(x, limit);
        const __m128 r = vop(p, x);
        _mm_storeu_ps(run.data() + i, _mm_or_ps(_mm_and_ps(valid, r), _mm_andnot_ps(valid, x)));
      }
    }
    for (; i < run.size(); ++i) {
      const float x = run[i];
      if (IsValidPixel(x)) run[i] = op(p, x);
    }
  });
}

// Round to nearest, halves to even, in the default rounding mode: adding and
// removing 2^23 leaves the integer the addition rounded to.
float RoundHalfEven(float x) {
  const float a = std::fabs(x);
  if (!(a < IntegralFrom)) return x;
  return std::copysign((a + IntegralFrom) - IntegralFrom, x);
}

const __m128 SignBit = _mm_set1_ps(-0.0f);

__m128 Select(__m128 mask, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }

// float(double(x) * f) in both halves.
__m128 MultiplyInDouble(__m128 x, __m128d f) {
  const __m128d lo = _mm_mul_pd(_mm_cvtps_pd(x), f);
  const __m128d hi = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), f);
  return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}

__m128 RoundHalfEven(__m128 x) {
  const __m128 c = _mm_set1_ps(IntegralFrom);
  const __m128 a = _mm_andnot_ps(SignBit, x);
  const __m128 r = _mm_or_ps(_mm_sub_ps(_mm_add_ps(a, c), c), _mm_and_ps(SignBit, x));
  return Select(_mm_cmplt_ps(a, c), r, x);
}

}  // namespace

void AddValuesToRect(int slot, float a1, float a2, float a3) {
  if (!SlotInUse(slot)) return;
  // A float sum rounded once equals the double sum rounded to float.
  const std::array<float, 4> add{0, a1, a2, a3};
  MapValidPixels(
      slot, AllPlanes(slot), WorkRect, [&](int32_t p, float x) { return x + add[size_t(p)]; },
      [&](int32_t p, __m128 x) { return _mm_add_ps(x, _mm_set1_ps(add[size_t(p)])); });
}

void MultiplyRectByValues(int slot, double f1, double f2, double f3) {
  if (!SlotInUse(slot)) return;
  const std::array<double, 4> f{0, LimitFactor(f1), LimitFactor(f2), LimitFactor(f3)};
  MapValidPixels(
      slot, AllPlanes(slot), WorkRect, [&](int32_t p, float x) { return float(double(x) * f[size_t(p)]); },
      [&](int32_t p, __m128 x) { return MultiplyInDouble(x, _mm_set1_pd(f[size_t(p)])); });
}

void ClampValuesBelow(int slot, float v) {
  if (!SlotInUse(slot)) return;
  // _mm_max_ps(v, x) is v > x ? v : x.
  MapValidPixels(
      slot, SelectedChannels(slot), WorkRect, [v](int32_t, float x) { return v > x ? v : x; },
      [v](int32_t, __m128 x) { return _mm_max_ps(_mm_set1_ps(v), x); });
}

void ClampValuesAbove(int slot, float v) {
  if (!SlotInUse(slot)) return;
  MapValidPixels(
      slot, SelectedChannels(slot), WorkRect, [v](int32_t, float x) { return v < x ? v : x; },
      [v](int32_t, __m128 x) { return _mm_min_ps(_mm_set1_ps(v), x); });
}

void TakeSquareRoot(int slot, bool everyPlane, bool keepNonPositive) {
  if (!SlotInUse(slot)) return;
  const auto planes = everyPlane ? AllPlanes(slot) : SelectedChannels(slot);
  if (keepNonPositive) {
    MapValidPixels(
        slot, planes, WorkRect, [](int32_t, float x) { return x > 0 ? std::sqrt(x) : x; },
        [](int32_t, __m128 x) {
          const __m128 positive = _mm_cmpgt_ps(x, _mm_setzero_ps());
          return _mm_or_ps(_mm_and_ps(positive, _mm_sqrt_ps(x)), _mm_andnot_ps(positive, x));
        });
    return;
  }
  MapValidPixels(
      slot, planes, WorkRect, [](int32_t, float x) { return x > 0 ? std::sqrt(x) : 0.0f; },
      [](int32_t, __m128 x) { return _mm_and_ps(_mm_cmpgt_ps(x, _mm_setzero_ps()), _mm_sqrt_ps(x)); });
}

void SquareValues(int slot, bool everyPlane) {
  if (!SlotInUse(slot)) return;
  MapValidPixels(
      slot, everyPlane ? AllPlanes(slot) : SelectedChannels(slot), WorkRect, [](int32_t, float x) { return x * x; },
      [](int32_t, __m128 x) { return _mm_mul_ps(x, x); });
}

void RoundValues(int slot) {
  if (!SlotInUse(slot)) return;
  MapValidPixels(
      slot, AllPlanes(slot), WorkRect, [](int32_t, float x) { return RoundHalfEven(x); },
      [](int32_t, __m128 x) { return RoundHalfEven(x); });
}

void MoveValuesTowardZero(int slot, float a) {
  if (!SlotInUse(slot)) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const TWorkRect whole{0, im.Width - 1, 0, im.Height - 1};
  MapValidPixels(
      slot, AllPlanes(slot), whole,
      [a](int32_t, float x) {
        if (x >= 0) {
          const float r = x - a;
          return r < 0 ? 0.0f : r;
        }
        const float r = x + a;
        return 0 < r ? 0.0f : r;
      },
      [a](int32_t, __m128 x) {
        const __m128 zero = _mm_setzero_ps(), va = _mm_set1_ps(a);
        const __m128 down = _mm_sub_ps(x, va), up = _mm_add_ps(x, va);
        const __m128 lower = _mm_andnot_ps(_mm_cmplt_ps(down, zero), down);
        const __m128 upper = _mm_andnot_ps(_mm_cmplt_ps(zero, up), up);
        return Select(_mm_cmpge_ps(x, zero), lower, upper);
      });
}

}  // namespace astrelon
