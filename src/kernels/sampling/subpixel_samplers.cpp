#include "kernels/sampling/subpixel_samplers.h"

#include "kernels/network/neuro_interpolation.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

using namespace sampler_detail;

// Weights of the taps lo..hi of a window clipped to n samples around integer
// part i at fraction f. Returns the clipped first tap and the tap count.
inline int32_t ClippedWeights(const TKernelRow& row, int32_t lo, int32_t hi, int32_t i, float f, int32_t n,
                              int32_t& firstTap, float* w) {
  const int32_t cl = i + lo < 0 ? -i : lo;
  const int32_t ch = n <= i + hi ? n - 1 - i : hi;
  if (ch < cl) return 0;
  const int32_t e = KernelFirstEntry(cl, f);
  const int32_t count = ch - cl + 1;
  for (int32_t t = 0; t < count; ++t) w[t] = KernelEntry(row, int64_t(e) + int64_t(KernelTableStepsPerPixel) * t);
  firstTap = cl;
  return count;
}

template <int P>
void WindowSums(const TPlaneView* p, const TKernelRow& row, int32_t lo, int32_t hi, int32_t ix, float fx,
                int32_t iy, float fy, float* W, float* V) {
  // The common windows inside the planes take loops of fixed length.
  const int32_t w = p[0].Width, h = p[0].Height;
  float cw[MaxLineTaps], rw[MaxLineTaps];
  int32_t cl, rl;
  const int32_t nc = ClippedWeights(row, lo, hi, ix, fx, w, cl, cw);
  const int32_t nr = ClippedWeights(row, lo, hi, iy, fy, h, rl, rw);
  if (nc == 0 || nr == 0) {
    for (int q = 0; q < P; ++q) W[q] = V[q] = 0;
    return;
  }
  SumWindow<P>(p, cw, nc, rw, nr, size_t(iy + rl) * size_t(w) + size_t(ix + cl), W, V);
}

// The 4 x 4 neighbourhood of rows iy-1..iy+2 and columns ix-1..ix+2 (blank
// outside the plane) and the fractions, as the network takes them.
std::array<float, NeuroInputCount> NeuroInputs(const TPlaneView& p, int32_t ix, float fx, int32_t iy, float fy) {
  std::array<float, NeuroInputCount> v;
  for (int32_t j = 0; j < 4; ++j)
    for (int32_t t = 0; t < 4; ++t) {
      const int32_t x = ix - 1 + t, y = iy - 1 + j;
      v[size_t(j * 4 + t)] = x >= 0 && y >= 0 && x < p.Width && y < p.Height ? p.At(x, y) : BlankPixel;
    }
  v[16] = fx;
  v[17] = fy;
  return v;
}

}  // namespace

namespace {
// The sums of every kind but the network's at a split position inside the
// coordinate limits: the cell for Linear (false when it lies outside), else the
// kind's window clipped to the plane.
bool PointSums(const TPlaneView& p, const TSamplingKind& k, const TSplitPosition& s, float& W, float& V) {
  if (k.Kind == IkLinear) return LinearSums(p, s, W, V);
  WindowSums<1>(&p, KernelRow(k.Kind), k.Lo, k.Hi, s.Ix, s.Fx, s.Iy, s.Fy, &W, &V);
  return true;
}
}  // namespace

float sampler_detail::SamplePointGeneral(const TPlaneView& p, const TSamplingKind& k, float x, float y) {
  if (p.Empty() || !(x < PositionLimit) || !(y < PositionLimit)) return BlankPixel;
  const TSplitPosition s = SplitPosition(x < 0 ? 0 : x, y < 0 ? 0 : y);
  if (k.Kind == IkNeuro) return InterpolateNeuro(NeuroInputs(p, s.Ix, s.Fx, s.Iy, s.Fy));
  float W, V;
  return PointSums(p, k, s, W, V) && W > 0.3f ? V / W : BlankPixel;
}

float SamplePointBuffered(const TPlaneView& p, const TSamplingKind& k, float x, float y, float& weight) {
  weight = 0;
  if (p.Empty() || !(x >= 0) || !(y >= 0) || !(x < PositionLimit) || !(y < PositionLimit)) return BlankPixel;
  const TSplitPosition s = SplitPosition(x, y);
  float W, V;
  if (!PointSums(p, k, s, W, V)) return BlankPixel;
  weight = W;
  if (!(W > 0.1f)) return BlankPixel;
  if (k.Kind != IkNeuro) return V;
  // The network's value in the weight of the cubic window; a blank value stays
  // blank rather than becoming a small "valid" product.
  const float value = InterpolateNeuro(NeuroInputs(p, s.Ix, s.Fx, s.Iy, s.Fy));
  return value > BlankLimit ? value * W : BlankPixel;
}

void sampler_detail::SamplePointRgbGeneral(const std::array<TPlaneView, 3>& p, const TSamplingKind& k, float x,
                                           float y, std::array<float, 3>& out) {
  out.fill(BlankPixel);
  for (const TPlaneView& v : p)
    if (v.Empty() || v.Width != p[0].Width || v.Height != p[0].Height) return;
  if (k.Kind == IkNeuro) {
    for (size_t q = 0; q < 3; ++q) out[q] = SamplePoint(p[q], k, x, y);
    return;
  }
  if (!(x < PositionLimit && x > -PositionLimit && y < PositionLimit && y > -PositionLimit)) return;
  const TSplitPosition s = SplitPosition(x, y);
  float W[3], V[3];
  WindowSums<3>(p.data(), KernelRow(k.Kind), k.Lo, k.Hi, s.Ix, s.Fx, s.Iy, s.Fy, W, V);
  WeightedValues3(W, V, out);
}

int32_t LineTaps(float pos, int32_t n, const TSamplingKind& k, int32_t& first, float* weights) {
  if (!(pos < PositionLimit) || n < 1) return 0;
  if (pos < 0) pos = 0;
  const int32_t i = int32_t(pos);
  int32_t firstTap = 0;
  const int32_t count = ClippedWeights(KernelRow(k.Kind), k.Lo, k.Hi, i, pos - float(i), n, firstTap, weights);
  first = i + firstTap;
  return count;
}

float WeightedMean(const float* line, ptrdiff_t stride, int32_t first, int32_t count, const float* weights,
                   double minWeight) {
  double W = 0, V = 0;
  const float* s = line + ptrdiff_t(first) * stride;
  for (int32_t t = 0; t < count; ++t, s += stride) {
    const float v = *s;
    if (v > BlankLimit) {
      W += weights[t];
      V += double(weights[t]) * v;
    }
  }
  return W > minWeight ? float(V / W) : BlankPixel;
}

float SampleLine(const float* line, ptrdiff_t stride, int32_t n, const TSamplingKind& k, float pos) {
  float w[MaxLineTaps];
  int32_t first = 0;
  const int32_t count = LineTaps(pos, n, k, first, w);
  return WeightedMean(line, stride, first, count, w, 0.3);
}

float InterpolatePixelBuffered(int slot, int plane, float& weight, float x, float y) {
  return SamplePointBuffered(PlaneView(slot, plane), CurrentSamplingKind(), x, y, weight);
}

float SampleAlongRow(int slot, int plane, int32_t row, float x) {
  const TPlaneView p = PlaneView(slot, plane);
  if (p.Empty() || row < 0 || row >= p.Height) return BlankPixel;
  return SampleLine(p.Data + size_t(row) * size_t(p.Width), 1, p.Width, CurrentSamplingKind(), x);
}

float SampleAlongColumn(int slot, int plane, int32_t column, float y) {
  const TPlaneView p = PlaneView(slot, plane);
  if (p.Empty() || column < 0 || column >= p.Width) return BlankPixel;
  return SampleLine(p.Data + column, p.Width, p.Height, CurrentSamplingKind(), y);
}

float SampleAlongRowLinear(int slot, int plane, int32_t row, float x) {
  const TPlaneView p = PlaneView(slot, plane);
  if (p.Empty() || row < 0 || row >= p.Height || !(x < PositionLimit && x > -PositionLimit)) return BlankPixel;
  const float* line = p.Data + size_t(row) * size_t(p.Width);
  const int32_t ix = int32_t(x);
  const float fx = x - float(ix);
  float W = 0, V = 0;
  if (ix >= 0 && ix < p.Width && line[ix] > BlankLimit) {
    W += 1 - fx;
    V += (1 - fx) * line[ix];
  }
  if (ix > -2 && ix < p.Width - 1 && line[ix + 1] > BlankLimit) {
    W += fx;
    V += fx * line[ix + 1];
  }
  return W > 0.3f ? V / W : BlankPixel;
}

}  // namespace astrelon
