#pragma once
// Sampling a plane at real positions with the interpolation kinds: the 2-D point
// samplers, the one-dimensional samplers along a row or a column and the linear
// row sampler. Every sampler skips blank neighbours (value at or below -1e9),
// renormalises the weights of the others and gives -1e11 where too little valid
// weight remains. Weights are read from the kernel tables.
//
// The routines taking a slot read the program-wide kind (SetToolMode) and the
// current tap window; the routines taking a TPlaneView get the kind as a value.
#include <array>
#include <cstddef>
#include <cstdint>

#include "kernels/sampling/subpixel_window_sums.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

// The view of plane 1..3 of a slot; empty when the slot holds no image or the
// plane does not hold Width x Height values.
inline TPlaneView PlaneView(int slot, int plane) {
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return {};
  const TImageSlot& im = Store.Image[size_t(slot)];
  const TPlane& data = im.Planes[size_t(plane)];
  if (im.Width < 1 || im.Height < 1 || data.size() < im.PixelCount()) return {};
  return {data.data(), im.Width, im.Height};
}

// ---- samplers with the kind as a value ----

// Value at (x, y). Negative coordinates count as 0. Kind 0 reads the 2 x 2 cell
// at (Trunc(x), Trunc(y)) and is blank when that lies outside the plane; kinds
// 2..4 clip the window to the plane; kind 1 asks the network.
ASTRELON_ALWAYS_INLINE float SamplePoint(const TPlaneView& p, const TSamplingKind& k, float x, float y);
// The weighted sum without dividing, and its weight: blank (and weight 0) for a
// negative coordinate, blank when the weight is 0.1 or less.
float SamplePointBuffered(const TPlaneView& p, const TSamplingKind& k, float x, float y, float& weight);
// All three planes in one pass over the window, each with its own valid weight.
// Negative positions are not clamped (their fraction is negative).
inline void SamplePointRgb(const std::array<TPlaneView, 3>& p, const TSamplingKind& k, float x, float y,
                           std::array<float, 3>& out);

// Most taps a one-dimensional window has (dSinc).
constexpr int32_t MaxLineTaps = 16;
// Taps of the kind's window at `pos` along a line of n samples: pos below 0
// counts as 0, the window is clipped to the line. Writes the weights, sets
// `first` to the first sample and returns the tap count (0 when none is left).
int32_t LineTaps(float pos, int32_t n, const TSamplingKind& k, int32_t& first, float* weights);
// Weighted mean of the valid samples line[(first + t) * stride], t < count,
// summed in double in tap order; blank when the weight sum is minWeight or less.
float WeightedMean(const float* line, ptrdiff_t stride, int32_t first, int32_t count, const float* weights,
                   double minWeight);
// One-dimensional sample at pos along a line (a row: stride 1; a column: stride
// width), with the kind's table row (kind 1 reads its cubic).
float SampleLine(const float* line, ptrdiff_t stride, int32_t n, const TSamplingKind& k, float pos);

// ---- the program's samplers ----

inline float InterpolatePixel(int slot, int plane, float x, float y) {
  return SamplePoint(PlaneView(slot, plane), CurrentSamplingKind(), x, y);
}
float InterpolatePixelBuffered(int slot, int plane, float& weight, float x, float y);
// Samples planes 1..3 of srcSlot at (x, y) into element dstIndex (row * width +
// column) of dstSlot's planes 1..3.
inline void InterpolatePixelRgb(int srcSlot, int dstSlot, int32_t dstIndex, float x, float y);
float SampleAlongRow(int slot, int plane, int32_t row, float x);
float SampleAlongColumn(int slot, int plane, int32_t column, float y);
// Two taps along a row without clamping: tap Trunc(x) weighs 1 - f, the next f
// (f negative for -1 < x < 0, which extrapolates from columns 0 and 1).
float SampleAlongRowLinear(int slot, int plane, int32_t row, float x);

// ---- the common cases inline, the rest out of line ----

namespace sampler_detail {
float SamplePointGeneral(const TPlaneView& p, const TSamplingKind& k, float x, float y);
void SamplePointRgbGeneral(const std::array<TPlaneView, 3>& p, const TSamplingKind& k, float x, float y,
                           std::array<float, 3>& out);

// out[q] = V[q] / W[q] where W[q] > 0.3, else blank: the three divisions in one
// vector instruction (each lane divides as the scalar division does).
ASTRELON_ALWAYS_INLINE void WeightedValues3(const float* W, const float* V, std::array<float, 3>& out) {
#if defined(__SSE2__)
  const __m128 w = _mm_setr_ps(W[0], W[1], W[2], 1.0f), v = _mm_setr_ps(V[0], V[1], V[2], 0.0f);
  const __m128 ok = _mm_cmpgt_ps(w, _mm_set1_ps(0.3f));
  alignas(16) float r[4];
  _mm_store_ps(r, _mm_or_ps(_mm_and_ps(ok, _mm_div_ps(v, w)), _mm_andnot_ps(ok, _mm_set1_ps(BlankPixel))));
  out = {r[0], r[1], r[2]};
#else
  for (size_t q = 0; q < 3; ++q) out[q] = W[q] > 0.3f ? V[q] / W[q] : BlankPixel;
#endif
}

// Window sums when the kind's window lies inside the planes and is one of the
// common ones; false otherwise.
template <int P>
ASTRELON_ALWAYS_INLINE bool InteriorWindow(const TPlaneView* p, const TSamplingKind& k, int32_t ix, float fx,
                                           int32_t iy, float fy, float* W, float* V) {
  if (ix + k.Lo < 0 || iy + k.Lo < 0 || ix + k.Hi >= p[0].Width || iy + k.Hi >= p[0].Height) return false;
  // The window table holds the kind's own window only.
  const TSamplingKind own = SamplingKindOf(k.Kind);
  if (k.Lo != own.Lo || k.Hi != own.Hi || fx < 0 || fy < 0) return false;
  if (k.Lo == -1)
    InteriorSums<P, -1, 2>(p, k.Kind, ix, fx, iy, fy, W, V);
  else if (k.Lo == -2)
    InteriorSums<P, -2, 3>(p, k.Kind, ix, fx, iy, fy, W, V);
  else if (k.Lo == 0)
    InteriorSums<P, 0, 1>(p, k.Kind, ix, fx, iy, fy, W, V);
  else
    return false;
  return true;
}
}  // namespace sampler_detail

ASTRELON_ALWAYS_INLINE float SamplePoint(const TPlaneView& p, const TSamplingKind& k, float x, float y) {
  using namespace sampler_detail;
  if (!p.Empty() && x >= 0 && y >= 0 && x < PositionLimit && y < PositionLimit && k.Kind != IkNeuro) {
    const TSplitPosition s = SplitPosition(x, y);
    float W, V;
    if (k.Kind == IkLinear) return LinearSums(p, s, W, V) && W > 0.3f ? V / W : BlankPixel;
    if (InteriorWindow<1>(&p, k, s.Ix, s.Fx, s.Iy, s.Fy, &W, &V)) return W > 0.3f ? V / W : BlankPixel;
  }
  return SamplePointGeneral(p, k, x, y);
}

inline void SamplePointRgb(const std::array<TPlaneView, 3>& p, const TSamplingKind& k, float x, float y,
                           std::array<float, 3>& out) {
  using namespace sampler_detail;
  if (!p[0].Empty() && !p[1].Empty() && !p[2].Empty() && p[1].Width == p[0].Width && p[2].Width == p[0].Width &&
      p[1].Height == p[0].Height && p[2].Height == p[0].Height && x >= 0 && y >= 0 && x < PositionLimit &&
      y < PositionLimit && k.Kind != IkNeuro) {
    const TSplitPosition s = SplitPosition(x, y);
    float W[3], V[3];
    if (InteriorWindow<3>(p.data(), k, s.Ix, s.Fx, s.Iy, s.Fy, W, V)) {
      WeightedValues3(W, V, out);
      return;
    }
  }
  SamplePointRgbGeneral(p, k, x, y, out);
}

inline void InterpolatePixelRgb(int srcSlot, int dstSlot, int32_t dstIndex, float x, float y) {
  if (dstSlot < 0 || dstSlot >= SlotArraySize || dstIndex < 0) return;
  const std::array<TPlaneView, 3> src{PlaneView(srcSlot, 1), PlaneView(srcSlot, 2), PlaneView(srcSlot, 3)};
  std::array<float, 3> v;
  SamplePointRgb(src, CurrentSamplingKind(), x, y, v);
  TImageSlot& d = Store.Image[size_t(dstSlot)];
  for (size_t q = 0; q < 3; ++q)
    if (size_t(dstIndex) < d.Planes[q + 1].size()) d.Planes[q + 1][size_t(dstIndex)] = v[q];
}

}  // namespace astrelon
