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
// neighbours k (left, right, above, below) with a valid guide, u = 1 / (|G -
// G_k| + n). The weights u are taken as products of the other neighbours'
// distances (the common factor cancels), so one division serves. NaN when A
// is not above 0.
inline double FillShortfall(const float* guide, const float* S, const float* W, size_t i, size_t w, float g,
                            double noise, double ownS, double shortfall, double expected) {
  const size_t l = i - 1, r = i + 1, u = i - w, d = i + w;
  const float gl = guide[l], gr = guide[r], gu = guide[u], gd = guide[d];
  const double dl = std::fabs(double(g) - gl) + noise, dr = std::fabs(double(g) - gr) + noise;
  const double du = std::fabs(double(g) - gu) + noise, dd = std::fabs(double(g) - gd) + noise;
  double A = 0, B = 0;
  const bool all = IsValidPixel(gl) && IsValidPixel(gr) && IsValidPixel(gu) && IsValidPixel(gd);
  if (all) {
    const double plr = dl * dr, pud = du * dd;
    const double cl = dr * pud, cr = dl * pud, cu = plr * dd, cd = plr * du;
    A = cl * W[l] + cr * W[r] + cu * W[u] + cd * W[d];
    B = cl * S[l] + cr * S[r] + cu * S[u] + cd * S[d];
  }
  if (!all || !std::isfinite(A) || !std::isfinite(B)) {
    A = B = 0;
    const size_t k4[4] = {l, r, u, d};
    const double dk[4] = {dl, dr, du, dd};
    for (int k = 0; k < 4; ++k) {
      if (!IsValidPixel(guide[k4[k]])) continue;
      A += W[k4[k]] / dk[k];
      B += S[k4[k]] / dk[k];
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
    const float* Sp = S.data();
    const float* Wp = W.data();
    const float* Gp = guide.data();
    float* Op = out.data();
    const size_t ws = size_t(w);
    ForEachBand(h, threads, [&](int64_t r0, int64_t r1) {
      for (int64_t y = r0; y < r1; ++y) {
        const size_t row = size_t(y) * ws;
        const bool borderRow = y == 0 || y == h - 1;
        for (int32_t x = 0; x < w; ++x) {
          const size_t i = row + size_t(x);
          const double ownW = Wp[i], ownS = Sp[i];
          double value = std::numeric_limits<double>::quiet_NaN();
          if (!borderRow && x > 0 && x < w - 1) {
            const double around = double(Wp[i - 1]) + Wp[i + 1] + Wp[i - ws] + Wp[i + ws];
            double expected = 0.35 * around;
            if (diagonal) {
              const double corners = double(Wp[i - ws - 1]) + Wp[i - ws + 1] + Wp[i + ws - 1] + Wp[i + ws + 1];
              expected = 0.25 * around + 0.15 * corners;
            }
            const double shortfall = expected - ownW;
            const float g = Gp[i];
            if (shortfall > 0 && IsValidPixel(g))
              value = FillShortfall(Gp, Sp, Wp, i, ws, g, noise, ownS, shortfall, expected);
          }
          // Not filled: the sum over its weight, or the sum as it is.
          if (value != value) value = ownW > 0 ? ownS / ownW : ownS;
          Op[i] = float(value * scale);
        }
      }
    });
    im.Planes[size_t(p)].swap(out);
  }
  t.ReleaseWeights();
  UpdateMinMax(t.Slot);
}

}  // namespace astrelon
