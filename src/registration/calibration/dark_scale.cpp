#include "registration/calibration/dark_scale.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

constexpr double NoCost = 1e18;  // the cost without any pair

// Plane 2 of a colour image, else plane 1.
int MeasuringPlane(const TImageSlot& im) { return im.IsColor && im.PlaneCount >= 2 ? 2 : 1; }

bool HasPlane(const TImageSlot& im, int p) {
  return p >= 1 && p <= im.PlaneCount && im.PixelCount() > 0 && im.Planes[size_t(p)].size() >= im.PixelCount();
}

}  // namespace

double TDarkCostSums::Cost(double k, double sigma) const {
  if (Count == 0) return NoCost;
  const double mean = (Sxx - 2.0 * k * Sxd + k * k * Sdd) / double(Count);
  const double sk = sigma * k;
  return std::max(mean - sk * sk, 0.0);
}

TDarkCostSums MeasureDarkCostSums(std::span<const float> image, int32_t imageWidth, std::span<const float> dark,
                                  int32_t darkWidth, int32_t rows, int32_t columns, double cutoff, int threads) {
  if (rows <= 0 || columns <= 0) return {};
  std::vector<TDarkCostSums> rowSums(static_cast<size_t>(rows));
  const int32_t samples = columns / 2;
  ForEachBand(rows, threads, [&](int64_t first, int64_t last) {
    for (int64_t y = first; y < last; ++y) {
      const float* x = image.data() + size_t(y) * size_t(imageWidth);
      const float* d = dark.data() + size_t(y) * size_t(darkWidth);
      TDarkCostSums s;
      bool chained = false;
      double px = 0, pd = 0;
      for (int32_t j = 0; j < samples; ++j) {
        const float xv = x[2 * j], dv = d[2 * j];
        if (!IsValidPixel(xv) || !IsValidPixel(dv) || double(dv) >= cutoff) {
          chained = false;
          continue;
        }
        if (chained) {
          const double dx = double(xv) - px, dd = double(dv) - pd;
          s.Sxx += dx * dx;
          s.Sxd += dx * dd;
          s.Sdd += dd * dd;
          ++s.Count;
        }
        px = xv;
        pd = dv;
        chained = true;
      }
      rowSums[size_t(y)] = s;
    }
  });
  TDarkCostSums total;
  for (const TDarkCostSums& s : rowSums) {
    total.Sxx += s.Sxx;
    total.Sxd += s.Sxd;
    total.Sdd += s.Sdd;
    total.Count += s.Count;
  }
  return total;
}

double SearchDarkScale(const std::function<double(double k)>& cost) {
  std::array<double, 3> k{0.8, 1.0, 1.2}, c{};
  std::array<bool, 3> fresh{true, true, true};
  double h = 0.2;
  constexpr int Passes = 13;
  for (int pass = 0; pass < Passes; ++pass) {
    for (size_t i = 0; i < 3; ++i)
      if (fresh[i]) c[i] = cost(k[i]);
    fresh = {false, false, false};
    if (pass == Passes - 1) break;
    if (c[0] < c[1]) {  // the triple moves down
      for (double& f : k) f -= h;
      c[2] = c[1];
      c[1] = c[0];
      fresh[0] = true;
    } else if (c[2] < c[1]) {  // the triple moves up
      for (double& f : k) f += h;
      c[0] = c[1];
      c[1] = c[2];
      fresh[2] = true;
    } else if (c[0] < c[2]) {  // the least cost lies in the lower half
      k[2] = k[1];
      c[2] = c[1];
      h /= 2;
      k[1] -= h;
      fresh[1] = true;
    } else if (c[2] < c[0]) {  // … in the upper half
      k[0] = k[1];
      c[0] = c[1];
      h /= 2;
      k[1] += h;
      fresh[1] = true;
    } else {
      break;
    }
  }
  size_t best = 0;
  for (size_t i = 1; i < 3; ++i)
    if (c[i] < c[best]) best = i;
  return k[best];
}

int DarkScalePlane(int slot) { return MeasuringPlane(Store.Image[size_t(slot)]); }

bool DarkScaleUsable(int imageSlot, int darkSlot) {
  if (!SlotInUse(imageSlot) || !SlotInUse(darkSlot)) return false;
  const TImageSlot& im = Store.Image[size_t(imageSlot)];
  const TImageSlot& dk = Store.Image[size_t(darkSlot)];
  return HasPlane(im, MeasuringPlane(im)) && HasPlane(dk, MeasuringPlane(dk));
}

TDarkCostSums DarkScaleSums(int imageSlot, int darkSlot, double cutoff) {
  const TImageSlot& im = Store.Image[size_t(imageSlot)];
  const TImageSlot& dk = Store.Image[size_t(darkSlot)];
  const int32_t rows = std::min(im.Height, dk.Height);
  const int32_t columns = std::min(im.Width, dk.Width);
  const int threads = BandThreads(int64_t(rows) * columns / 2, 1 << 16, Options.Multicore != 0);
  return MeasureDarkCostSums(im.Plane(MeasuringPlane(im)), im.Width, dk.Plane(MeasuringPlane(dk)), dk.Width, rows,
                             columns, cutoff, threads);
}

double ComputeDarkScale(int imageSlot, int darkSlot, bool keepHotDarkPixels) {
  if (!DarkScaleUsable(imageSlot, darkSlot)) return 1.0;
  const TImageSlot& dk = Store.Image[size_t(darkSlot)];
  const int pd = MeasuringPlane(dk);
  const double sigma = dk.DarkRms > 0 ? dk.DarkRms : double(EstimateNoise(darkSlot, pd));
  double cutoff = NoDarkCutoff;
  if (!keepHotDarkPixels) {
    TPercentileLevels levels;
    GetPercentileLevels(darkSlot, pd, 0, dk.Width - 1, 0, dk.Height - 1, 95.0, 95.0, levels);
    cutoff = DarkScaleCutoff(levels.LevelA, sigma);
  }
  return DarkScaleFromSums(DarkScaleSums(imageSlot, darkSlot, cutoff), sigma);
}

}  // namespace astrelon
