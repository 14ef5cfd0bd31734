#include "registration/calibration/dark_measures.h"

#include <algorithm>

#include "core/settings.h"
#include "registration/calibration/dark_scale.h"
#include "registration/calibration/side_by_side.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

float HotOffset(float noise) { return float(double(noise) * 1.5 * Settings.HotPixelSigma); }

}  // namespace

TDarkMeasures MeasureDark(int imageSlot, int darkSlot, std::span<const int> darkPlanes, bool temperatureCompensation,
                          bool hotPixelRepair) {
  TDarkMeasures r;
  const bool multicore = Options.Multicore != 0;
  const TImageSlot& dk = Store.Image[size_t(darkSlot)];
  const auto levels = [&](int q, double pctA, double pctB) {
    TPercentileLevels l;
    GetPercentileLevels(darkSlot, q, 0, dk.Width - 1, 0, dk.Height - 1, pctA, pctB, l);
    return l;
  };
  // The scale is measured on plane m of the dark (0: no scale). Plane m is read
  // by the scale before and after its levels clamp it; the other planes are
  // measured as the old order did, each in a job of its own.
  const bool scaled = temperatureCompensation && DarkScaleUsable(imageSlot, darkSlot);
  const int m = scaled ? DarkScalePlane(darkSlot) : 0;
  const bool mUsed = std::find(darkPlanes.begin(), darkPlanes.end(), m) != darkPlanes.end();
  TCalibrationJobs first, second;
  for (const int q : darkPlanes)
    if (q != m)
      first.push_back([&, q] {
        if (temperatureCompensation) r.Level[size_t(q)] = levels(q, 30.0, 30.0).LevelA;
        if (hotPixelRepair) r.HotOffset[size_t(q)] = HotOffset(EstimateNoise(darkSlot, q));
      });
  if (!scaled) {
    RunSideBySide(first, multicore);
    return r;
  }

  const bool ownSigma = !(dk.DarkRms > 0);
  float noise = 0;  // plane m's noise before its levels
  double sigma = dk.DarkRms;
  TDarkCostSums sums;
  // Read by the second round of jobs, so they live until it has run.
  TPercentileLevels l;
  bool clamped = false;
  if (hotPixelRepair) {
    // The 95 % level clamps plane m after its noise; the sums, the 30 % level
    // and the hot-pixel offset read it clamped (and change it no more).
    first.push_back([&] {
      if (ownSigma) sigma = noise = EstimateNoise(darkSlot, m);
      l = levels(m, 95.0, 95.0);
    });
    RunSideBySide(first, multicore);
    clamped = !(l.RectMax < 1e18f);
    second.push_back([&] { sums = DarkScaleSums(imageSlot, darkSlot, DarkScaleCutoff(l.LevelA, sigma)); });
    if (mUsed) {
      second.push_back([&] { r.Level[size_t(m)] = levels(m, 30.0, 30.0).LevelA; });
      second.push_back([&] {
        r.HotOffset[size_t(m)] = HotOffset(ownSigma && !clamped ? noise : EstimateNoise(darkSlot, m));
      });
    }
  } else {
    // Noise and sums read plane m before its 30 % level clamps it.
    if (ownSigma) first.push_back([&] { sigma = EstimateNoise(darkSlot, m); });
    first.push_back([&] { sums = DarkScaleSums(imageSlot, darkSlot, NoDarkCutoff); });
    RunSideBySide(first, multicore);
    if (mUsed) second.push_back([&] { r.Level[size_t(m)] = levels(m, 30.0, 30.0).LevelA; });
  }
  RunSideBySide(second, multicore);
  r.Scale = DarkScaleFromSums(sums, sigma);
  return r;
}

}  // namespace astrelon
