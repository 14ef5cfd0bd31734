#include "pixelops/flattening/gradient_flattening.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "kernels/regions/rect_runs.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

// A search that never settles (it cannot with finite values, but guards the
// loops against values that are not finite) ends after this many trials.
constexpr int64_t MaxTrials = 1000000;

// The valid pixels of every k-th row and column, with their place in the
// linear model (0.5 - x / w, 0.5 - y / h) and their coordinates.
struct TSamples {
  std::vector<float> Value;
  std::vector<double> U, V;
  std::vector<float> X, Y;
};

TSamples Sample(const TImageSlot& im, int plane, int32_t k, bool coordinates) {
  TSamples s;
  const int32_t w = im.Width, h = im.Height;
  const float* data = im.Planes[size_t(plane)].data();
  for (int32_t y = 0; y < h; y += k)
    for (int32_t x = 0; x < w; x += k) {
      const float v = data[size_t(y) * size_t(w) + size_t(x)];
      if (!IsValidPixel(v)) continue;
      s.Value.push_back(v);
      s.U.push_back(0.5 - double(x) / w);
      s.V.push_back(0.5 - double(y) / h);
      if (coordinates) {
        s.X.push_back(float(x));
        s.Y.push_back(float(y));
      }
    }
  return s;
}

bool PlaneUsable(int slot, int plane) {
  if (!SlotInUse(slot) || plane < 1 || plane > 3) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  return im.Width > 0 && im.Height > 0 && im.Planes[size_t(plane)].size() >= im.PixelCount();
}

// The histogram peak of the radial search: the highest bin's count, refined
// at 20 places within half a bin of it by the bicubic kernel over the four
// nearest bins.
double PeakScore(const std::vector<int32_t>& hist) {
  const int32_t nb = int32_t(hist.size());
  int32_t b = -1;
  int32_t best = 0;
  for (int32_t i = 1; i < nb; ++i)
    if (hist[size_t(i)] > best) {
      best = hist[size_t(i)];
      b = i;
    }
  double score = best;
  if (b > 1 && b < nb - 2) {
    const auto& row = KernelRow(IkBicubic);
    // Offsets in hundredths of a bin: -50, -45, ..., -5 and 5, ..., 50.
    for (int32_t k = -10; k <= 10; ++k) {
      if (k == 0) continue;
      const int32_t first = k < 0 ? -2 : -1;
      double sum = 0, weights = 0;
      for (int32_t j = first; j < first + 4; ++j) {
        const int32_t hundredths = std::abs(5 * k - 100 * j);
        const double wgt = KernelEntry(row, KernelTableCentre + hundredths);
        sum += wgt * hist[size_t(b + j)];
        weights += wgt;
      }
      if (weights != 0) score = std::max(score, sum / weights);
    }
  }
  return score;
}

}  // namespace

TLinearGradient FitLinearGradient(int slot, int plane) {
  AbortRequested = 0;
  TLinearGradient g;
  if (!PlaneUsable(slot, plane)) return g;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t k = int32_t(std::nearbyint(std::sqrt(double(im.Width) * double(im.Height)))) / 400 + 1;
  const double tol = 0.05 * std::max(0.01, double(EstimateNoise(slot, plane)));
  const double range = double(im.PlaneMax[size_t(plane)]) - double(im.PlaneMin[size_t(plane)]);
  if (!std::isfinite(range)) return g;
  const TSamples s = Sample(im, plane, k, false);
  const size_t n = s.Value.size();
  double m = 0;
  for (float v : s.Value) m += v;
  if (n > 1) m /= double(n);

  // Sum of squared deviations without the largest one.
  const auto cost = [&](double gx, double gy) {
    double sum = 0, largest = 0;
    for (size_t i = 0; i < n; ++i) {
      const double d = s.Value[i] + gx * s.U[i] + gy * s.V[i] - m;
      const double q = d * d;
      sum += q;
      largest = std::max(largest, q);
    }
    return sum - largest;
  };

  std::array<double, 2> best{0, 0};
  std::array<double, 2> step{0.05 * range, 0.05 * range};
  std::array<bool, 2> early{true, true};
  double bestCost = 1e60;
  int axis = 0;
  for (int64_t trial = 0; (std::abs(step[0]) >= tol || std::abs(step[1]) >= tol) && trial < MaxTrials; ++trial) {
    if (AbortRequested) break;
    std::array<double, 2> t = best;
    t[size_t(axis)] += step[size_t(axis)];
    const double c = cost(t[0], t[1]);
    double& st = step[size_t(axis)];
    if (!(c < bestCost)) {
      if (st <= 0) {
        early[size_t(axis)] = false;
        st = -0.5 * st;
        axis ^= 1;
      } else {
        st = -st;
      }
    } else {
      best = t;
      bestCost = c;
      if (!early[size_t(axis)]) st *= 0.7;
    }
  }
  g.gx = best[0];
  g.gy = best[1];
  return g;
}

TRadialGradient FitRadialGradient(int slot, int plane) {
  TRadialGradient g;
  if (!PlaneUsable(slot, plane)) return g;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t w = im.Width, h = im.Height;
  g.x0 = w / 2.0;
  g.y0 = h / 2.0;
  const double lo = im.MinValue;
  const double range = double(im.MaxValue) - lo;
  // A flat image has nothing to fit (and its tolerance would be 0).
  if (!(range > 0) || !std::isfinite(range)) return g;
  const int32_t k = 2 * (w / 768 + 1);
  const double noise = std::max(0.01, double(EstimateNoise(slot, plane)));
  const int32_t nb = int32_t(std::min(8192.0, std::nearbyint(range / noise)));
  const double binScale = nb / (0.01 + range);
  const TSamples s = Sample(im, plane, k, true);
  const size_t n = s.Value.size();

  std::vector<int32_t> hist(size_t(std::max(nb, 1)));
  const auto score = [&](const std::array<double, 5>& p) {
    std::fill(hist.begin(), hist.end(), 0);
    for (size_t i = 0; i < n; ++i) {
      const double dx = s.X[i] - p[3], dy = s.Y[i] - p[4];
      const double v = s.Value[i] + p[0] * s.U[i] + p[1] * s.V[i] + p[2] * (dx * dx + dy * dy);
      const double q = (v - lo) * binScale;
      if (!(q >= 1.0 && q < double(nb))) continue;  // index strictly between 0 and nb
      ++hist[size_t(int32_t(q))];
    }
    return PeakScore(hist);
  };

  std::array<double, 5> best{0, 0, 0, g.x0, g.y0};
  // The radial term a multiplies squared distances: its first step moves the
  // corners by 5 % of the range (a step of 2 % of the range in a itself would
  // move them by thousands of ranges, and no step of a would ever gain).
  const double corner = (w / 2.0) * (w / 2.0) + (h / 2.0) * (h / 2.0);
  std::array<double, 5> step{0.02 * range, 0.02 * range, 0.05 * range / corner, 0.05 * w / 2.0, 0.05 * h / 2.0};
  std::array<bool, 5> early{true, true, true, true, true};
  double bestScore = 0;
  double t = 0.005 * step[0];
  int64_t trials = 0;
  for (int phase : {0, 2}) {
    int p = 0;
    while (std::abs(step[0]) >= t && trials < MaxTrials && !AbortRequested) {
      ++trials;
      std::array<double, 5> moved = best;
      moved[size_t(p)] += step[size_t(p)];
      const double sc = score(moved);
      double& st = step[size_t(p)];
      if (!(sc > bestScore)) {
        if (st <= 0) {
          // Halved and turned back: the next visit tries the other sign first,
          // so a parameter can still cross zero (a darkening vignetting needs a > 0).
          st *= -0.5;
          early[size_t(p)] = false;
          // After gy the phase's parameter: gx in the first phase, a in the second.
          p = p == 1 ? phase : (p + 1) % 5;
        } else {
          st = -st;
        }
      } else {
        best = moved;
        bestScore = sc;
        if (!early[size_t(p)]) {
          st *= 0.5;
          p = (p + 1) % 5;
        }
      }
    }
    t *= 0.001;
  }
  g = {best[0], best[1], best[2], best[3], best[4]};
  return g;
}

void FlattenGradient(int slot, int mode) {
  if (!SlotInUse(slot) || (mode != 1 && mode != 2)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t w = im.Width, h = im.Height;
  const TPlaneList planes = SelectedChannels(slot);
  for (int32_t p : planes.Planes()) {
    if (!PlaneUsable(slot, p)) continue;
    TRadialGradient g;
    if (mode == 1) {
      const TLinearGradient l = FitLinearGradient(slot, p);
      g.gx = l.gx;
      g.gy = l.gy;
    } else {
      g = FitRadialGradient(slot, p);
    }
    float* data = im.Planes[size_t(p)].data();
    const int threads = BandThreads(h, std::max<int64_t>(1, 65536 / std::max(w, 1)), Options.Multicore != 0);
    ForEachBand(h, threads, [&](int64_t first, int64_t last) {
      for (int64_t y = first; y < last; ++y) {
        float* row = data + size_t(y) * size_t(w);
        const double dy = double(y) - g.y0;
        for (int32_t x = 0; x < w; ++x) {
          if (!IsValidPixel(row[x])) continue;
          double c = LinearCorrection(g.gx, g.gy, x, int32_t(y), w, h);
          if (mode == 2) {
            const double dx = double(x) - g.x0;
            c += g.a * (dx * dx + dy * dy);
          }
          row[x] = float(row[x] + c);
        }
      }
    });
  }
}

}  // namespace astrelon
