#include "frequency/speckle/speckle_amplitudes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "common/pascal_format.h"
#include "frequency/speckle/speckle_phasor_rows.h"
#include "platform/parallel_bands.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

struct TVectorNoise {
  double Noise = 0, Signal = 0;
};

// One accumulator to amplitude and phase over the bins it was summed on, and
// its noise from the bins outside the ellipse (counted from |dy| + 1 and
// dx + 1). The sums run in the shared lane order (column i of a row to lane
// i mod 16).
TVectorNoise ConvertAccumulator(TPlane& x, int32_t width, int32_t height, int32_t dx, int32_t dy, TSpeckleLanes lanes) {
  const int32_t half = width / 2, columns = half - dx, rows = height - std::abs(dy);
  if (columns <= 0 || rows <= 0) return {};
  const int32_t first = std::max(0, -dy);
  TSumLanes sum{}, outerSum{};
  int64_t outer = 0;
  const double hx = half, hy = height / 2;
  for (int32_t r = 0; r < rows; ++r) {
    float* re = x.data() + size_t(first + r) * size_t(width);
    const double dyr = (std::abs(dy) + 1 + r - hy) / hy;
    // The ellipse test grows with the column: the first column outside it.
    auto outside = [&](int32_t c) {
      const double dxc = (dx + 1 + c) / hx;
      return dxc * dxc + dyr * dyr > 1;
    };
    int32_t from = 0, to = columns;
    while (from < to) {
      const int32_t c = from + (to - from) / 2;
      if (outside(c))
        to = c;
      else
        from = c + 1;
    }
    outer += columns - from;
    SpeckleCartesianToPolar(lanes, columns, re, re + half, from, sum, outerSum);
  }
  TVectorNoise n;
  n.Noise = outer > 0 ? ReduceSumLanes(outerSum) / double(outer) : 0.0;
  n.Signal = ReduceSumLanes(sum) / (double(rows) * double(columns)) - n.Noise;
  return n;
}

// Every amplitude of an accumulator times its radial factor w, those of the
// bins it was summed on first lowered by half the noise (0 at least): one
// pass for both steps, with the roundings of two.
void CutAndWeigh(TPlane& x, int32_t width, int32_t height, int32_t dx, int32_t dy, double noise, float w,
                 TSpeckleLanes lanes) {
  const int32_t half = width / 2, columns = std::max(half - dx, 0), rows = height - std::abs(dy);
  const int32_t first = std::max(0, -dy);
  const float cut = float(0.5 * noise);
  for (int32_t r = 0; r < height; ++r)
    SpeckleCutAndWeigh(lanes, half, r >= first && r < first + rows ? columns : 0, x.data() + size_t(r) * size_t(width),
                       cut, w);
}

}  // namespace

void SpeckleRadialWeights(const TShiftVectors& v, int32_t count, TSpeckleLayerNoise& noise) {
  count = std::clamp(count, 0, v.Total);
  std::vector<int32_t> index(size_t(count) + 1, 0);
  int32_t indices = 0;
  for (int32_t u = 1; u <= count; ++u) {
    const double length = std::hypot(double(v.Dx[size_t(u)]), double(v.Dy[size_t(u)]));
    index[size_t(u)] = std::max<int32_t>(Round32(length) - 1, 0);
    indices = std::max(indices, index[size_t(u)] + 1);
  }
  std::vector<double> sum(size_t(indices), 0.0);
  std::vector<int32_t> n(size_t(indices), 0);
  for (int32_t u = 1; u <= count; ++u) {
    sum[size_t(index[size_t(u)])] += noise.Signal[size_t(u)];
    ++n[size_t(index[size_t(u)])];
  }
  std::vector<float> mean(size_t(indices), 0.0f);
  for (size_t i = 0; i < mean.size(); ++i) mean[i] = n[i] > 0 ? float(sum[i] / n[i]) : 0.0f;
  const double m0 = mean.empty() ? 0.0 : mean[0];
  const std::vector<float> base(mean.size(), float(m0));
  double a0 = 0, a1 = 0, a2 = 0;
  FitQuadraticToRowDifference(mean, base, a0, a1, a2);
  for (int32_t u = 1; u <= count; ++u) {
    const double t = std::max(std::hypot(double(v.Dx[size_t(u)]), double(v.Dy[size_t(u)])) - 1.0, 0.0);
    noise.Weight[size_t(u)] = m0 > 0 ? (m0 + a0 + (a2 * t + a1) * t) / m0 : 1.0;
  }
}

void ConvertSpeckleLayer(TSpeckleAccumulators& acc, int layer, const TShiftVectors& v, TSpeckleLayerNoise& noise,
                         int threads) {
  const int32_t count = std::min(acc.Vectors, v.Total);
  std::vector<TPlane>& x = acc.X[size_t(layer)];
  const TSpeckleLanes lanes = SpeckleLanes(true);
  std::atomic<int32_t> next{1};
  ForEachBand(threads, std::max(threads, 1), [&](int64_t, int64_t) {
    for (int32_t u; (u = next.fetch_add(1)) <= count;) {
      const TVectorNoise n =
          ConvertAccumulator(x[size_t(u)], acc.Width, acc.Height, v.Dx[size_t(u)], v.Dy[size_t(u)], lanes);
      noise.Noise[size_t(u)] = n.Noise;
      noise.Eps[size_t(u)] = 0.1 * n.Noise;
      noise.Signal[size_t(u)] = n.Signal;
    }
  });
  noise.Smallest = count > 0 ? noise.Noise[1] : 0.0;
  for (int32_t u = 2; u <= count; ++u) noise.Smallest = std::min(noise.Smallest, noise.Noise[size_t(u)]);
  SpeckleRadialWeights(v, count, noise);
  // The noise cut and the radial factor apply to every amplitude of their vector.
  std::atomic<int32_t> again{1};
  ForEachBand(threads, std::max(threads, 1), [&](int64_t, int64_t) {
    for (int32_t u; (u = again.fetch_add(1)) <= count;)
      CutAndWeigh(x[size_t(u)], acc.Width, acc.Height, v.Dx[size_t(u)], v.Dy[size_t(u)], noise.Noise[size_t(u)],
                  float(noise.Weight[size_t(u)]), lanes);
  });
  noise.Converted = true;
}

}  // namespace astrelon
