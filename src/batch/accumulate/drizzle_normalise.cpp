#include "batch/accumulate/drizzle_normalise.h"

#include <algorithm>
#include <cmath>

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
    ForEachBand(h, threads, [&](int64_t r0, int64_t r1) {
      for (int64_t y = r0; y < r1; ++y)
        for (int32_t x = 0; x < w; ++x) {
          const size_t i = size_t(y) * size_t(w) + size_t(x);
          const double ownW = W[i], ownS = S[i];
          double value = ownW > 0 ? ownS / ownW : ownS;
          if (y > 0 && y < h - 1 && x > 0 && x < w - 1) {
            const size_t k4[4] = {i - 1, i + 1, i - size_t(w), i + size_t(w)};
            double around = 0;
            for (const size_t k : k4) around += W[k];
            double expected = 0.35 * around;
            if (diagonal) {
              double corners = 0;
              for (const size_t k : {i - size_t(w) - 1, i - size_t(w) + 1, i + size_t(w) - 1, i + size_t(w) + 1})
                corners += W[k];
              expected = 0.25 * around + 0.15 * corners;
            }
            const double shortfall = expected - ownW;
            const float g = guide[i];
            bool filled = false;
            if (shortfall > 0 && IsValidPixel(g)) {
              double A = 0, B = 0;
              for (const size_t k : k4) {
                if (!IsValidPixel(guide[k])) continue;
                const double u = 1.0 / (std::fabs(double(g) - guide[k]) + noise);
                A += u * W[k];
                B += u * S[k];
              }
              if (A > 0) {
                value = (ownS + shortfall * B / A) / expected;
                filled = true;
              }
            }
            if (!filled && !(ownW > 0)) value = ownS;
          }
          out[i] = float(t.Bayer ? value * m : value);
        }
    });
    im.Planes[size_t(p)].swap(out);
  }
  t.ReleaseWeights();
  UpdateMinMax(t.Slot);
}

}  // namespace astrelon
