#include "frequency/filter/filter_drawing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/pascal_format.h"

namespace astrelon {

namespace {

constexpr double Tiny = 1e-25;

int64_t RoundHalfEven(double v) { return int64_t(std::nearbyint(std::clamp(v, -1e15, 1e15))); }

}  // namespace

double TGraphScale::Scale() const { return (Height - 6) / (6.0 * std::max(RangeFactor, 1)); }

double TGraphScale::LevelOf(double v) const { return std::log10(std::fabs(v) / Max + Tiny); }

int32_t TGraphScale::PlotY(double v) const {
  return int32_t(std::clamp<int64_t>(3 - RoundHalfEven(LevelOf(v) * Scale()), -1000000, 1000000));
}

double TGraphScale::LevelAt(double y) const { return (3.0 - y) / Scale(); }

double TGraphScale::ValueOfLevel(double level) const {
  return std::max((std::pow(10.0, level) - Tiny) * Max, Tiny);
}

TGraphGrid GraphGrid(const TGraphScale& g, int32_t width) {
  TGraphGrid grid;
  for (int j = 1; j <= 9; ++j) {
    grid.X[size_t(j - 1)] = int32_t(RoundHalfEven(j * width / 10.0));
    grid.XLabel[size_t(j - 1)] = FloatToStr(j / 10.0);
  }
  for (int j = 0; j < 6; ++j) {
    grid.Y[size_t(j)] = int32_t(RoundHalfEven(g.GridY(j)));
    grid.YLabel[size_t(j)] = IntToStr(-20 * j * std::max(g.RangeFactor, 1)) + " dB";
  }
  return grid;
}

void DrawCurveLine(std::vector<double>& curve, std::span<const double> base, const TGraphScale& g, double q, double x0,
                   double y0, double x1, double y1, bool keepShape) {
  const int64_t K = int64_t(std::min(curve.size(), base.size()));
  if (K < 1) return;
  if (x1 < x0) std::swap(x0, x1), std::swap(y0, y1);
  const bool point = x0 == x1;
  const int64_t first = std::max<int64_t>(RoundHalfEven((point ? x0 - 0.51 : x0) * q), 0);
  const int64_t last = std::min<int64_t>(RoundHalfEven((point ? x0 + 0.51 : x1) * q), K - 1);
  if (first > last) return;
  const double baseFirst = g.LevelOf(base[size_t(first)]), baseLast = g.LevelOf(base[size_t(last)]);
  for (int64_t b = first; b <= last; ++b) {
    const double t = point ? 0.5 : std::clamp((double(b) / q - x0) / (x1 - x0), 0.0, 1.0);
    double level = g.LevelAt(y0 + (y1 - y0) * t);
    if (keepShape) {
      const double u = last > first ? double(b - first) / double(last - first) : 0.0;
      level += g.LevelOf(base[size_t(b)]) - (baseFirst + (baseLast - baseFirst) * u);
    }
    curve[size_t(b)] = g.ValueOfLevel(level);
  }
}

void ApplyCurveBrush(std::vector<double>& curve, std::span<const double> base, const TGraphScale& g, double q, double x,
                     double y, int32_t p, bool keepShape) {
  const int64_t K = int64_t(std::min(curve.size(), base.size()));
  const double w = 1.0 - p / 35.0;
  const double b0 = x * q;
  if (p <= 0 || w <= 0 || b0 <= 0 || b0 >= double(K - 1)) return;
  const int64_t first = std::max<int64_t>(RoundHalfEven(b0 * w + 0.5), 1);
  const int64_t last = std::min<int64_t>(RoundHalfEven(b0 / w - 0.5), K - 1);
  const double L = g.LevelAt(y);
  const double baseAtPointer = g.LevelOf(base[size_t(std::min<int64_t>(RoundHalfEven(b0), K - 1))]);
  for (int64_t b = first; b <= last; ++b) {
    const double t = 0.6 * std::cos(std::log10(double(b) / b0) * 1.6 * std::numbers::pi / (1.0 - w)) + 0.4;
    if (!(t > 0)) continue;
    const double target = keepShape ? L - baseAtPointer + g.LevelOf(base[size_t(b)]) : L;
    curve[size_t(b)] = g.ValueOfLevel(t * target + (1.0 - t) * g.LevelOf(curve[size_t(b)]));
  }
}

}  // namespace astrelon
