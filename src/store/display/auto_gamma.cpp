// The automatic gamma: chosen from the display histogram so that the bright end
// and the median of the pixels between black and white land at useful levels.
#include <algorithm>
#include <cmath>

#include "store/display/display_histogram.h"
#include "store/display/histogram_value_mapping.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Bin index from a relative position 0..1 (outside values and NaN are clamped).
int BinOfPosition(double r, int nanBin) {
  if (std::isnan(r)) return nanBin;
  return int(std::nearbyint(std::clamp(r * 500.0, 0.0, 500.0)));
}

// ln(p) / ln(base) for a position strictly inside (0, ..); NaN otherwise.
double GammaForPosition(double p, double base) {
  if (!(p > 0)) return std::nan("");
  return std::log(p) / std::log(base);
}

}  // namespace

float EstimateAutoGamma(int slot, float oldWhite, float oldBlack) {
  if (slot < 1 || slot > MaxImageSlots) return 1.0f;
  const TDisplayRecord& d = Store.Display[slot];
  const auto& h = d.Histogram[size_t(GetRgbCode(slot) - 1)];
  auto bin = [&](int k) -> double { return h[size_t(k) + 1]; };  // bins 0..500
  const bool sqrtScale = d.SqrtHistogram != 0;
  const bool span = d.SpanBlackWhite != 0;
  const double low = d.RangeLow;

  double rb, rw;
  if (span) {
    if (sqrtScale) {
      auto s = [&](double v) { return std::sqrt(v - low); };
      const double den = s(oldWhite) - s(oldBlack);
      rb = (s(d.Black) - s(oldBlack)) / den;
      rw = (s(d.White) - s(oldBlack)) / den;
    } else {
      rb = (double(d.Black) - oldBlack) / (double(oldWhite) - oldBlack);
      rw = (double(d.White) - oldBlack) / (double(oldWhite) - oldBlack);
    }
  } else {
    const double den = double(d.RangeHigh) - d.RangeLow;
    rb = (double(d.Black) - d.RangeLow) / den;
    rw = (double(d.White) - d.RangeLow) / den;
    if (sqrtScale) {
      rb = std::sqrt(rb);
      rw = std::sqrt(rw);
    }
  }
  int i0 = std::max(BinOfPosition(rb, 0), 3);
  int i1 = std::min(BinOfPosition(rw, 500), 500);
  if (i0 + 10 > i1) {
    if (i1 < 490 && i0 > 13) {
      i0 -= 5;
      i1 += 5;
    } else if (i1 > 200) {
      i0 = i1 - 10;
    } else {
      i1 = i0 + 10;
    }
  }
  double total = 0;
  for (int k = i0; k <= i1; ++k) total += bin(k);
  const double tenth = std::floor(total / 10);
  const double half = std::floor(total / 2);

  const TFrozenHistogramAxis frozen{oldBlack, oldWhite, d.RangeLow, d.RangeHigh};
  auto position = [&](int k) -> double {
    if (span) {
      const double v = FrozenHistogramXToValue(slot, frozen, float(k * 290 * 0.002));
      return (v - d.Black) / (double(d.White) - d.Black);
    }
    if (sqrtScale) {
      auto sq = [](int j) { return (j * 0.002) * (j * 0.002); };
      return (sq(k) - sq(i0)) / (sq(i1) - sq(i0));
    }
    return double(k - i0) / double(i1 - i0);
  };

  // Bright point: a tenth of the counts lie above it.
  int k = 501;
  double sum = 0;
  do {
    --k;
    sum += bin(k);
  } while (!(sum >= tenth || k <= i0 + 5));
  double g1 = GammaForPosition(position(k), 0.5);

  // Median point.
  k = i0 - 1;
  sum = 0;
  do {
    ++k;
    sum += bin(k);
  } while (!(sum >= half || k >= i1));
  if (k == i0) k = i0 + 1;
  if (sqrtScale) k = std::max(k, i0 + 2);
  double g2 = GammaForPosition(position(k), 0.1);

  if (std::isnan(g1) || std::isnan(g2)) return 1.0f;
  g1 = std::clamp(g1, 0.5, 5.0);
  g2 = std::clamp(g2, 0.5, 5.0);
  double g = (g1 < 1 && g2 < 1) ? (g1 + g2) / 2 : 1.0 / (0.5 / g1 + 0.5 / g2);
  return float(std::clamp(g, 1.0, 5.0));
}

}  // namespace astrelon
