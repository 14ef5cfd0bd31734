#include "filters/experimental/magnitude_test.h"

#include <algorithm>
#include <cmath>

#include "kernels/sampling/low_pass2.h"
#include "shell/slots/fresh_image.h"
#include "shell/slots/slot_utilities.h"
#include "shell/stars/star_pick.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int32_t StarSide = 64;
constexpr int32_t Centre = StarSide / 2;
constexpr int32_t PlotTop = 62, PlotBottom = MagnitudeTestHeight - 1;

// The star of brightness factor f: the Gaussian star drawn anew, scaled, and
// low-passed along rows and columns when asked.
void DrawStar(int slot, const TMagnitudeTestSettings& s, double f) {
  TImageSlot& im = Store.Image[size_t(slot)];
  std::fill(im.Planes[1].begin(), im.Planes[1].end(), 0.0f);
  const double frac = s.Subpixel - std::floor(s.Subpixel);
  FillGaussianPsf(slot, Centre + frac, Centre + frac, s.StarRadius);
  for (float& v : im.Planes[1]) v = float(v * f);
  if (s.LowPass) {
    ApplyLowPass2(slot, true, 0.0, 2.0, s.Frequency);
    ApplyLowPass2(slot, false, 0.0, 2.0, s.Frequency);
  }
  UpdateMinMax(slot);
}

double Magnitude(double flux) { return flux > 0 ? -2.5 * std::log10(flux) : 0.0; }

}  // namespace

bool MakeMagnitudeTest(int plotSlot, const TMagnitudeTestSettings& settings, std::vector<TMagnitudePoint>* points) {
  if (!(settings.StarRadius > 0) || !std::isfinite(settings.StarRadius) || !std::isfinite(settings.Subpixel) ||
      !std::isfinite(settings.Frequency))
    return false;
  if (!MakeFreshImage(plotSlot, MagnitudeTestWidth, MagnitudeTestHeight, 1, 0.0f)) return false;
  MakeDefaultHeader(plotSlot);
  const int starSlot = FindFreeSlot();
  if (starSlot < 1 || !MakeFreshImage(starSlot, StarSide, StarSide, 1, 0.0f)) {
    FreeSlot(plotSlot);
    return false;
  }
  MakeDefaultHeader(starSlot);
  TImageSlot& plot = Store.Image[size_t(plotSlot)];
  std::vector<TMagnitudePoint> result;
  for (int32_t k = 2; k <= 40; ++k) {
    const double f = std::pow(10.0, 0.1 * k);
    DrawStar(starSlot, settings, f);
    const TImageSlot& star = Store.Image[size_t(starSlot)];
    double flux = 0;
    for (const float v : star.Planes[1]) flux += v;
    TStarCutout cutout;
    PickStar(starSlot, Centre, Centre, 1, cutout, TStarMode::Photometry, true, false);
    result.push_back({k, Magnitude(flux), Magnitude(cutout.Flux)});
    // The star's profile down its centre column in the upper 60 rows.
    for (int32_t y = 0; y < 60; ++y) plot.At(1, k, y) = star.At(1, Centre, Centre - 30 + y);
  }
  // Magnitudes mapped onto rows 62..119, the faintest true magnitude at the bottom.
  const double bright = result.back().True, faint = result.front().True;
  const double scale = (PlotBottom - PlotTop) / std::max(faint - bright, 1e-6);
  auto row = [&](double m) {
    return int32_t(std::clamp(std::nearbyint(PlotTop + (m - bright) * scale), double(PlotTop), double(PlotBottom)));
  };
  for (const TMagnitudePoint& p : result) {
    if (p.Measured != 0) plot.At(1, p.K, row(p.Measured)) = -10000.0f;
    plot.At(1, p.K, row(p.True)) = 20000.0f;
  }
  FreeSlot(starSlot);
  Store.FileName[size_t(plotSlot)] = "Mag-Test.png";
  UpdateMinMax(plotSlot);
  ResetDisplayRangeMeasured(plotSlot, 20000.0f);
  TDisplayRecord& d = Store.Display[size_t(plotSlot)];
  d.Black = d.RangeLow = -10000.0f;
  d.White = d.RangeHigh = 20000.0f;
  ComputeHistogram(plotSlot, false, false);
  if (points) *points = std::move(result);
  return true;
}

}  // namespace astrelon
