#include "registration/calibration/flat_response_fit.h"

#include <algorithm>
#include <cmath>

#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

double& Coordinate(TFlatResponse& r, int i) {
  switch (i) {
    case 0: return r.C0;
    case 1: return r.C1;
    case 2: return r.C2;
    case 3: return r.Gx;
    default: return r.Gy;
  }
}

// The histogram at a real position from its four neighbouring bins.
double InterpolateBins(std::span<const int32_t> h, double pos) {
  const auto& kernel = KernelTables()[IkBicubic];
  const int64_t base = int64_t(std::floor(pos));
  double v = 0;
  for (int64_t i = base - 1; i <= base + 2; ++i) {
    const double e = std::nearbyint((pos - double(i)) * KernelTableStepsPerPixel) + KernelTableCentre;
    if (i < 0 || i >= int64_t(h.size()) || e < 0 || e >= KernelTableSize) continue;
    v += double(h[size_t(i)]) * double(kernel[size_t(e)]);
  }
  return v;
}

// A search that keeps improving on a first visit ends when the peak can grow
// no more; this bounds it all the same.
constexpr int MaxTries = 4000;

}  // namespace

double HistogramPeak(std::span<const int32_t> histogram) {
  if (histogram.empty()) return 0;
  const auto top = std::max_element(histogram.begin(), histogram.end());
  const int64_t b = top - histogram.begin();
  double peak = *top;
  if (b > 1 && b < int64_t(histogram.size()) - 2)
    for (int j = -10; j <= 10; ++j) peak = std::max(peak, InterpolateBins(histogram, double(b) + 0.05 * j));
  return peak;
}

double FlatHistogramPeak(std::span<const TFlatSample> samples, const TFlatResponse& r, const TFlatFrame& frame,
                         std::vector<int32_t>& histogram) {
  const int32_t bins = std::max(frame.Bins, 0);
  histogram.assign(size_t(bins), 0);
  if (bins == 0) return 0;
  const double toBins = double(bins) * (r.C0 + r.C1 + r.C2) / (0.01 + frame.ValueRange);
  const double gy = -frame.Unit * r.Gy / frame.Height, gx = -frame.Unit * r.Gx / frame.Width;
  const double hh = frame.Height / 2, hw = frame.Width / 2;
  for (const TFlatSample& s : samples) {
    const double g = r.Gain(s.Flat);
    if (!(g > 0.1)) continue;
    const double value = (double(s.Source) / g + (hh - s.Y) * gy + (hw - s.X) * gx) * toBins;
    if (value > 0 && value < double(bins)) ++histogram[size_t(value)];
  }
  return HistogramPeak(histogram);
}

TFlatResponse SearchFlatResponse(const std::function<double(const TFlatResponse&)>& peak) {
  TFlatResponse r;
  std::array<double, 5> step{0.1, 0.1, 0.1, 1.0, 1.0};
  std::array<bool, 5> visited{};  // the first visit is completed
  constexpr std::array<int, 5> Order{3, 4, 0, 1, 2};
  double best = peak(r);
  size_t turn = 0;
  for (int tries = 0; std::fabs(step[0]) >= 0.01 && tries < MaxTries; ++tries) {
    const int i = Order[turn];
    double& c = Coordinate(r, i);
    const double kept = c;
    c += step[size_t(i)];
    const double v = peak(r);
    if (v > best) {
      best = v;
      if (!visited[size_t(i)]) continue;  // the same direction again
      step[size_t(i)] /= 2;
    } else {
      c = kept;
      if (step[size_t(i)] > 0) {
        step[size_t(i)] = -step[size_t(i)];
        continue;
      }
      step[size_t(i)] /= 2;
      visited[size_t(i)] = true;
    }
    turn = (turn + 1) % Order.size();
  }
  return r;
}

TFlatResponse FitFlatResponse(std::span<const TFlatSample> samples, const TFlatFrame& frame) {
  std::vector<int32_t> histogram;
  return SearchFlatResponse(
      [&](const TFlatResponse& r) { return FlatHistogramPeak(samples, r, frame, histogram); });
}

}  // namespace astrelon
