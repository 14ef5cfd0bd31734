// The display stretch written into the data, with finer tables than the screen
// uses: 100,001 histogram bins over black..white and 400,001 table entries.
#include "shell/display/display_stretch.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "shell/display/display_lut.h"
#include "store/display/display_histogram.h"
#include "store/display/histogram_range.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int StretchBins = 100000;   // bins 0..100000
constexpr int StretchSteps = 400000;  // entries 0..400000

// Table position of a value, clamped in floating point; NaN gives 0.
inline size_t StretchIndex(double v, double black, double factor, int steps) {
  const double t = (v - black) * factor;
  if (!(t > 0)) return 0;
  return size_t(std::nearbyint(std::min(t, double(steps))));
}

TEqualisationInput StretchEqualisation(const TImageSlot& im, double black, double range) {
  TEqualisationInput eq;
  eq.Counts.assign(StretchBins + 1, 0.0);
  const bool rgb = im.IsColor && im.ColorModel == CmRgb && im.PlaneCount >= 3;
  const double weights[4] = {0, rgb ? 0.3 : 1.0, 0.59, 0.11};
  const int planes = rgb ? 3 : 1;
  const double factor = StretchBins / range;
  for (int p = 1; p <= planes; ++p) {
    for (float v : im.Plane(p)) {
      if (!IsValidPixel(v)) continue;
      const double t = (double(v) - black) * factor;
      if (!(t >= -0.5 && t <= StretchBins + 0.5)) continue;
      eq.Counts[size_t(std::nearbyint(t))] += weights[p];
    }
  }
  // Each bin spans four table entries (the first bin only entry 0).
  eq.Ends.resize(eq.Counts.size());
  for (int k = 0; k <= StretchBins; ++k) eq.Ends[size_t(k)] = double(k) * (StretchSteps / StretchBins);
  return eq;
}

}  // namespace

void ApplyDisplayStretch(int slot, double targetMax) {
  if (slot < 1 || slot > MaxImageSlots || !Store.InUse[slot]) return;
  TImageSlot& im = Store.Image[slot];
  const size_t count = im.PixelCount();
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  for (int p = 1; p <= planes; ++p)
    if (im.Planes[size_t(p)].size() < count) return;
  TDisplayRecord& d = Store.Display[slot];
  ClampDisplayRange(slot, false);
  if (d.Gamma > 0 && d.Gamma < 0.2f) d.Gamma = 0.2f;
  const double black = d.Black;
  const double range = std::max(double(d.White) - double(d.Black), 0.001);

  const bool equalise = !(d.Gamma > 0) && d.Gamma != CurveModeGamma;
  TEqualisationInput eq;
  if (equalise) eq = StretchEqualisation(im, black, range);
  TTransferTable transfer = BuildTransfer(slot, StretchSteps, 65535.0, equalise ? &eq : nullptr);
  // The polygon curve gives whole levels, as on the screen.
  if (transfer.Truncate)
    for (double& v : transfer.Values) v = std::trunc(v);
  const std::vector<float> table = MakeFloatLut(transfer, 65535.0);
  const double factor = StretchSteps / range;
  const double out = targetMax / 65535.0;
  const bool colour = im.IsColor && planes == 3;

  if (colour && (im.ColorModel == CmYuv || d.LumaOnly)) {
    std::span<float> p1 = im.Plane(1), p2 = im.Plane(2), p3 = im.Plane(3);
    const double gainToLevels = 65535.0 / range;
    for (size_t i = 0; i < count; ++i) {
      if (im.ColorModel == CmYuv) {
        if (!IsValidPixel(p1[i])) {  // no luma: no colour either
          if (IsValidPixel(p2[i])) p2[i] = 0;
          if (IsValidPixel(p3[i])) p3[i] = 0;
          continue;
        }
        const double y = std::max(double(p1[i]) - black, 0.0);
        const double yOut = table[StretchIndex(y, 0.0, factor, StretchSteps)];
        const double q = yOut / gainToLevels / (y + 0.01 * range);
        p1[i] = float(yOut * out);
        if (IsValidPixel(p2[i])) p2[i] = float(std::clamp(p2[i] * q * gainToLevels, -65535.0, 65535.0) * out);
        if (IsValidPixel(p3[i])) p3[i] = float(std::clamp(p3[i] * q * gainToLevels, -65535.0, 65535.0) * out);
        continue;
      }
      auto positive = [&](float v) { return IsValidPixel(v) ? std::max(double(v) - black, 0.0) : 0.0; };
      const double r = positive(p1[i]), g = positive(p2[i]), b = positive(p3[i]);
      const double l = 0.299 * r + 0.587 * g + 0.114 * b;
      const double lOut = table[StretchIndex(l, 0.0, factor, StretchSteps)] / gainToLevels;
      const double q = lOut / (l + 0.01 * range);
      auto channel = [&](float& v, double c) {
        if (!IsValidPixel(v)) return;
        const double level = ((c - l) * q + lOut) * gainToLevels;
        v = float(std::clamp(level, 0.0, 65535.0) * out);
      };
      channel(p1[i], r);
      channel(p2[i], g);
      channel(p3[i], b);
    }
  } else {
    for (int p = 1; p <= planes; ++p)
      for (float& v : im.Plane(p))
        if (IsValidPixel(v)) v = float(table[StretchIndex(v, black, factor, StretchSteps)] * out);
  }

  d.Black = 0;
  d.White = 65535;
  d.Gamma = 1;
  UpdateMinMax(slot);
  FitHistogramRange(slot, 65535.0f);
  ResetCurvePoints(slot);
  d.Changed = 1;
  AddHistoryCard(slot, "Bild nach Histogramm skaliert", 0);
}

}  // namespace astrelon
