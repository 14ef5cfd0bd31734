#include "batch/accumulate/drizzle_normalise.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "batch/accumulate/weighted_target.h"
#include "batch/run/batch_run_view.h"
#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Sum / weight where the weight is above 0, else blank.
TPlane Normalised(const TPlane& sum, const std::vector<float>& weight) {
  TPlane out(sum.size());
  for (size_t i = 0; i < sum.size(); ++i) out[i] = weight[i] > 0 ? float(double(sum[i]) / weight[i]) : BlankPixel;
  return out;
}

// The noise of values in the target slot's plane p (the plane swapped in for
// the estimate and back).
float NoiseOf(int slot, int p, TPlane& values) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Planes[size_t(p)].swap(values);
  const float noise = EstimateNoise(slot, p);
  im.Planes[size_t(p)].swap(values);
  return noise;
}

// (S + D B / A) / expected with A = sum u W_k and B = sum u S_k over the four
// neighbours with a valid guide, u = 1 / (|G - G_k| + n). The weights u are
// taken as products of the other neighbours' distances (the common factor
// cancels), so one division serves. NaN when A is not above 0.
double FillShortfall(const float* guide, const float* S, const float* W, const size_t (&k4)[4], float g, double noise,
                     double ownS, double shortfall, double expected) {
  double d[4];
  bool all = true;
  for (int k = 0; k < 4; ++k) {
    const float gk = guide[k4[k]];
    all = all && IsValidPixel(gk);
    d[k] = std::fabs(double(g) - gk) + noise;
  }
  double A = 0, B = 0;
  if (all) {
    const double p01 = d[0] * d[1], p23 = d[2] * d[3];
    const double c[4] = {d[1] * p23, d[0] * p23, p01 * d[3], p01 * d[2]};
    for (int k = 0; k < 4; ++k) {
      A += c[k] * W[k4[k]];
      B += c[k] * S[k4[k]];
    }
    if (!std::isfinite(A) || !std::isfinite(B)) all = false;
  }
  if (!all) {
    A = B = 0;
    for (int k = 0; k < 4; ++k) {
      if (!IsValidPixel(guide[k4[k]])) continue;
      const double u = 1.0 / d[k];
      A += u * W[k4[k]];
      B += u * S[k4[k]];
    }
  }
  if (!(A > 0)) return std::numeric_limits<double>::quiet_NaN();
  return (ownS * A + shortfall * B) / (A * expected);
}

}  // namespace

void DrizzleNormieren(TWeightedTarget& t) {
  StatusFunction("norm Drizzle");
  EngineUi().ProcessMessages();
  if (!t.Exists()) {
    t.ReleaseWeights();
    return;
  }
  TImageSlot& im = Store.Image[size_t(t.Slot)];
  const int32_t w = im.Width, h = im.Height;
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  const size_t n = im.PixelCount();
  for (int p = 1; p <= planes; ++p)
    if (t.Weights[size_t(p - 1)].size() < n || im.Planes[size_t(p)].size() < n) {
      t.ReleaseWeights();
      return;
    }
  const int guidePlane = planes >= 2 ? 2 : 1;
  const TPlane guide = Normalised(im.Planes[size_t(guidePlane)], t.Weights[size_t(guidePlane - 1)]);
  float m = 1;
  if (t.Bayer && planes >= 2)
    for (const float v : t.Weights[1]) m = std::max(m, v);
  const int threads = BandThreads(h, 32, Options.Multicore != 0);
  for (int p = 1; p <= planes; ++p) {
    const TPlane& S = im.Planes[size_t(p)];
    const std::vector<float>& W = t.Weights[size_t(p - 1)];
    TPlane normal = Normalised(S, W);
    // A plane without noise would weigh equal neighbours infinitely.
    const double noise = std::max(2.5 * double(NoiseOf(t.Slot, p, normal)), 1e-6);
    const bool diagonal = t.Bayer && (p == 1 || p == 3);
    TPlane out(n);
    const float scale = t.Bayer ? m : 1.0f;
    ForEachBand(h, threads, [&](int64_t r0, int64_t r1) {
      for (int64_t y = r0; y < r1; ++y) {
        const size_t row = size_t(y) * size_t(w);
        const bool borderRow = y == 0 || y == h - 1;
        for (int32_t x = 0; x < w; ++x) {
          const size_t i = row + size_t(x);
          const double ownW = W[i], ownS = S[i];
          double value = ownW > 0 ? ownS / ownW : ownS;
          if (!borderRow && x > 0 && x < w - 1) {
            const size_t k4[4] = {i - 1, i + 1, i - size_t(w), i + size_t(w)};
            const double around = double(W[k4[0]]) + W[k4[1]] + W[k4[2]] + W[k4[3]];
            double expected = 0.35 * around;
            if (diagonal) {
              const size_t up = i - size_t(w), down = i + size_t(w);
              const double corners = double(W[up - 1]) + W[up + 1] + W[down - 1] + W[down + 1];
              expected = 0.25 * around + 0.15 * corners;
            }
            const double shortfall = expected - ownW;
            const float g = guide[i];
            if (shortfall > 0 && IsValidPixel(g)) {
              const double filled = FillShortfall(guide.data(), S.data(), W.data(), k4, g, noise, ownS, shortfall,
                                                  expected);
              if (filled == filled) value = filled;
            }
            if (value != value) value = ownS;
          }
          out[i] = float(value * scale);
        }
      }
    });
    im.Planes[size_t(p)].swap(out);
  }
  t.ReleaseWeights();
  UpdateMinMax(t.Slot);
}

}  // namespace astrelon
