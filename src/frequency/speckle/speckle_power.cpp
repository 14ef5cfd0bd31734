#include "frequency/speckle/speckle_power.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <utility>

#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

TSpecklePowerSetUp SpecklePowerTriples(const TShiftVectors& v, double maxRadius) {
  TSpecklePowerSetUp s;
  const int32_t n = std::min(v.Regular, v.Total);
  for (int32_t u = 1; u <= n; ++u) {
    s.Mx = std::max<int32_t>(s.Mx, v.Dx[size_t(u)]);
    s.My = std::max<int32_t>(s.My, v.Dy[size_t(u)]);
  }
  const double limit = 7.0 * std::min(s.Mx, s.My);
  s.Radius = std::isfinite(maxRadius) && maxRadius < limit ? std::max(maxRadius, 2.0) : limit;
  const double k = std::sqrt(double(s.Mx) * s.My);
  auto inside = [&](int32_t dx, int32_t dy) {
    const double ex = dx * k / (s.Mx * s.Radius), ey = dy * k / (s.My * s.Radius);
    return ex * ex + ey * ey <= 1;
  };
  s.Inside = v.Total;
  for (int32_t u = 1; u <= v.Total; ++u)
    if (!inside(v.Dx[size_t(u)], v.Dy[size_t(u)])) {
      s.Inside = u - 1;
      break;
    }
  std::map<std::pair<int32_t, int32_t>, int32_t> index;
  for (int32_t c = s.Inside; c >= 1; --c) index[{v.Dx[size_t(c)], v.Dy[size_t(c)]}] = c;
  for (int32_t a = 1; a <= s.Inside; ++a)
    for (int32_t b = 1; b <= s.Inside; ++b) {
      if (!(v.Dy[size_t(b)] >= 0 || v.Dx[size_t(b)] > 0)) continue;
      const int32_t dx = v.Dx[size_t(a)] + v.Dx[size_t(b)], dy = v.Dy[size_t(a)] + v.Dy[size_t(b)];
      if (!inside(dx, dy)) continue;
      const auto c = index.find({dx, dy});
      if (c == index.end()) continue;
      s.Triples.push_back({uint8_t(a), uint8_t(c->second), uint8_t(b)});
      if (s.Triples.size() >= MaxSpeckleTriples) return s;
    }
  return s;
}

void GatherPowerSamples(const TSpeckleAccumulators& acc, int layer, const TShiftVectors& v,
                        std::span<const TSpeckleTriple> triples, std::span<const double> eps, int32_t y,
                        std::vector<float>& samples, std::vector<int32_t>& counts) {
  const int32_t half = acc.Half(), H = acc.Height;
  const size_t T = triples.size(), W = size_t(acc.Width);
  samples.resize(size_t(half) * T);
  counts.assign(size_t(half), 0);
  const std::vector<TPlane>& X = acc.X[size_t(layer)];
  for (const TSpeckleTriple& t : triples) {
    const int32_t dxa = v.Dx[t.A], dya = v.Dy[t.A], dxb = v.Dx[t.B], dyb = v.Dy[t.B];
    if (y + std::min(dya, dyb) < 0 || y + std::max(dya, dyb) >= H) continue;
    const float* a = X[t.A].data() + size_t(y) * W;
    const float* c = X[t.C].data() + size_t(y) * W;
    const float* b = X[t.B].data() + size_t(y + dya) * W + size_t(dxa);
    const double e = eps[t.B];
    const int32_t end = half - std::max(dxa, dxb);
    for (int32_t x = 0; x < end; ++x) {
      if (!(b[x] > 0)) continue;
      samples[size_t(x) * T + size_t(counts[size_t(x)]++)] = float(double(a[x]) * c[x] / (b[x] + e));
    }
  }
}

bool SpecklePowerPass(const TSpeckleAccumulators& acc, int layer, const TShiftVectors& v,
                      std::span<const TSpeckleTriple> triples, std::span<const double> eps, bool noiseCorrection,
                      std::span<float> result, int threads, const std::function<void(int32_t)>& rowDone) {
  const int32_t half = acc.Half(), H = acc.Height;
  const size_t T = triples.size();
  std::atomic<int32_t> next{0}, done{0};
  std::atomic<bool> aborted{false};
  ForEachBand(threads, std::max(threads, 1), [&](int64_t first, int64_t) {
    std::vector<float> samples;
    std::vector<int32_t> counts;
    for (int32_t y; !aborted && (y = next.fetch_add(1)) < H;) {
      GatherPowerSamples(acc, layer, v, triples, eps, y, samples, counts);
      float* out = result.data() + size_t(y) * size_t(acc.Width);
      for (int32_t x = 0; x < half; ++x) {
        const int32_t n = counts[size_t(x)];
        if (n == 0) {
          out[x] = 0;
          continue;
        }
        double variance = 0;
        double m = RobustMean(std::span<const float>(samples).subspan(size_t(x) * T, size_t(n)), &variance);
        // A mean of one or two samples has no variance of its own.
        if (noiseCorrection && n >= 3 && m > 1e-15) {
          double g = 1 - 3.6597923663 * variance / (m * m);
          g = g <= 1e-4 ? 0.01 : std::sqrt(g);
          m *= g;
        }
        out[x] = m > 0 ? float(std::sqrt(m)) : 0.0f;
      }
      const int32_t finished = done.fetch_add(1) + 1;
      if (AbortRequested) aborted = true;
      if (first == 0 && rowDone) rowDone(finished);
    }
  });
  // The other threads may have taken every row: the end is shown in any case.
  if (!aborted && rowDone) rowDone(H);
  return !aborted;
}

}  // namespace astrelon
