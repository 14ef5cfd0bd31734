#include "frequency/speckle/speckle_accumulation.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

// The eight-lane loop body is always inlined into its AVX2 function.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace simd;

// One row of the cross spectrum: a = F at x, b = F at x + dx one row further
// by dy; V is a float or a vector of floats, with the same operations in the
// same order either way.
template <class V>
[[gnu::always_inline]] inline int32_t AccumulateLanes(float* xr, float* xi, const float* ar, const float* ai,
                                                      const float* br, const float* bi, int32_t count, float pRe,
                                                      float pIm) {
  constexpr int32_t L = LaneCount<V>;
  const V pr = Splat<V>(pRe), pi = Splat<V>(pIm);
  int32_t x = 0;
  for (; x + L <= count; x += L) {
    const V aRe = LoadLanes<V>(ar + x), aIm = LoadLanes<V>(ai + x);
    const V bRe = LoadLanes<V>(br + x), bIm = LoadLanes<V>(bi + x);
    const V r = aRe * bRe + aIm * bIm;
    const V i = aIm * bRe - aRe * bIm;
    StoreLanes(xr + x, LoadLanes<V>(xr + x) + (r * pr - i * pi));
    StoreLanes(xi + x, LoadLanes<V>(xi + x) + (r * pi + i * pr));
  }
  return x;
}

struct TRowPointers {
  float *xr, *xi;
  const float *ar, *ai, *br, *bi;
};

void RowScalar(const TRowPointers& p, int32_t count, float pRe, float pIm) {
  AccumulateLanes<float>(p.xr, p.xi, p.ar, p.ai, p.br, p.bi, count, pRe, pIm);
}

void RowVector4(const TRowPointers& p, int32_t count, float pRe, float pIm) {
  const int32_t done = AccumulateLanes<TVec4f>(p.xr, p.xi, p.ar, p.ai, p.br, p.bi, count, pRe, pIm);
  AccumulateLanes<float>(p.xr + done, p.xi + done, p.ar + done, p.ai + done, p.br + done, p.bi + done,
                         count - done, pRe, pIm);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void RowVector8(const TRowPointers& p, int32_t count, float pRe, float pIm) {
  const int32_t done = AccumulateLanes<TVec8f>(p.xr, p.xi, p.ar, p.ai, p.br, p.bi, count, pRe, pIm);
  AccumulateLanes<float>(p.xr + done, p.xi + done, p.ar + done, p.ai + done, p.br + done, p.bi + done,
                         count - done, pRe, pIm);
}
#endif

// The zero frequency (column 0 of the middle row) divided by D; the first frame
// sets D from the smallest amplitude m of bins 1..4 of that row so that F(0)
// becomes m. D stays 1 when F(0)/m is not a finite non-zero number.
void NormaliseZeroFrequency(std::span<float> f, int32_t width, int32_t height, TSpeckleLayerSums& s) {
  const int32_t half = width / 2;
  float* row = f.data() + size_t(height / 2) * size_t(width);
  if (s.DSet) {
    row[0] = float(row[0] / s.D);
    return;
  }
  double m = -1;
  for (int32_t c = 1; c <= std::min(4, half - 1); ++c) {
    const double a = std::hypot(double(row[c]), double(row[half + c]));
    if (m < 0 || a < m) m = a;
  }
  const double d = m > 0 ? row[0] / m : 0;
  s.DSet = true;
  ++s.ZeroCount;
  if (std::isfinite(d) && d != 0) {
    s.D = d;
    row[0] = float(m);
  } else {
    s.D = 1;
  }
}

// F(u) for vector (dx, dy); 0 for a vector that reaches beyond the spectrum.
std::pair<float, float> Phasor(std::span<const float> f, int32_t width, int32_t height, int32_t dx, int32_t dy) {
  const int32_t half = width / 2, row = height / 2 + dy;
  if (dx < 0 || dx >= half || row < 0 || row >= height) return {0.0f, 0.0f};
  const size_t at = size_t(row) * size_t(width) + size_t(dx);
  return {f[at], f[at + size_t(half)]};
}

}  // namespace

void TSpeckleAccumulators::Reset(int32_t width, int32_t height, int32_t layers, int32_t vectors) {
  Free();
  try {
    for (int32_t l = 1; l <= layers; ++l) {
      X[size_t(l)].resize(size_t(vectors) + 1);
      for (int32_t u = 1; u <= vectors; ++u) X[size_t(l)][size_t(u)].assign(size_t(width) * size_t(height), 0.0f);
    }
  } catch (...) {
    Free();
    throw;
  }
  Width = width;
  Height = height;
  Layers = layers;
  Vectors = vectors;
}

void TSpeckleAccumulators::Free() {
  for (auto& layer : X) std::vector<TPlane>().swap(layer);
  Sums = {};
  Width = Height = Layers = Vectors = 0;
}

void AccumulateShiftVector(std::span<float> x, std::span<const float> f, int32_t width, int32_t height, int32_t dx,
                           int32_t dy, float pRe, float pIm, bool vector) {
  const int32_t half = width / 2, count = half - dx;
  if (dx < 0 || count <= 0 || std::abs(dy) >= height) return;
  auto row = RowScalar;
  if (vector && Sse2Enabled) row = RowVector4;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) row = RowVector8;
#endif
  const size_t w = size_t(width);
  for (int32_t y = std::max(0, -dy); y < height - std::max(0, dy); ++y) {
    const size_t a = size_t(y) * w, b = size_t(y + dy) * w + size_t(dx);
    row({x.data() + a, x.data() + a + half, f.data() + a, f.data() + a + half, f.data() + b, f.data() + b + half},
        count, pRe, pIm);
  }
}

int SpeckleThreads(int32_t vectors) {
  if (!Options.Multicore || vectors < 6) return 1;
  return BandThreads(vectors, 3, true);
}

void SpeckleAkkumulation(TSpeckleAccumulators& acc, const TShiftVectors& vectors, const TSpeckleJob& job, bool kt,
                         int threads, const std::function<void()>& poll) {
  const int32_t n = std::min(acc.Vectors, vectors.Total);
  if (acc.Empty() || n < 1) return;
  struct TItem {
    int32_t Layer, U;
    float Re, Im;
  };
  std::vector<TItem> items;
  items.reserve(size_t(acc.Layers) * size_t(n));
  for (int32_t l = 1; l <= acc.Layers; ++l) {
    std::span<float> f = job.Planes[size_t(l)];
    if (f.size() < acc.PlaneValues()) continue;
    TSpeckleLayerSums& s = acc.Sums[size_t(l)];
    NormaliseZeroFrequency(f, acc.Width, acc.Height, s);
    for (int32_t u = 1; u <= n; ++u) {
      auto [re, im] = kt ? std::pair{1.0f, 0.0f} : Phasor(f, acc.Width, acc.Height, vectors.Dx[size_t(u)], vectors.Dy[size_t(u)]);
      if (u <= 3) {
        s.SumCos[size_t(u)] += re;
        s.SumSin[size_t(u)] += im;
      }
      const double length = std::hypot(double(re), double(im));
      if (length > 0) {
        re = float(re / length);
        im = float(im / length);
      }
      items.push_back({l, u, re, im});
    }
  }
  const bool vector = Sse2Enabled;
  std::atomic<size_t> next{0};
  ForEachBand(threads, std::max(threads, 1), [&](int64_t first, int64_t) {
    for (;;) {
      if (first == 0 && poll) poll();
      const size_t k = next.fetch_add(1);
      if (k >= items.size()) return;
      const TItem& it = items[k];
      AccumulateShiftVector(acc.X[size_t(it.Layer)][size_t(it.U)], job.Planes[size_t(it.Layer)], acc.Width,
                            acc.Height, vectors.Dx[size_t(it.U)], vectors.Dy[size_t(it.U)], it.Re, it.Im, vector);
    }
  });
}

}  // namespace astrelon
