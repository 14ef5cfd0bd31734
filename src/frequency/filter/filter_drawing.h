#pragma once
// The frequency filter's graph scale and the edits of the response curve drawn
// on it with the mouse. Values are shown in dB below the graph's reference
// (its top line, 3 pixels from the top): a height stands for a level in
// decades below the reference, and a level for a curve value.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace astrelon {

struct TGraphScale {
  int32_t Height = 300;      // graph height in pixels
  int32_t RangeFactor = 1;   // 1: "Amplitude 0 -> 120 dB", 2: "Amplitude 0 -> 240 dB"
  double Max = 1.0;          // the value on the top line

  // Pixels per decade: (height − 6)/(6·range factor).
  double Scale() const;
  // The height of a value: 3 − round(log10(|v|/Max + 1e-25)·scale).
  int32_t PlotY(double v) const;
  // The level (decades below Max) of a value and of a height, and the value of a level:
  // (10^L − 1e-25)·Max, at least 1e-25.
  double LevelOf(double v) const;
  double LevelAt(double y) const;
  double ValueOfLevel(double level) const;
  // The height of the grid line j (0 .. 5): 20·j·f dB below the top.
  double GridY(int j) const { return 3.0 + j * (Height - 6) / 6.0; }
};

// The dotted grid of a graph `width` pixels wide: 9 vertical lines at tenths
// of the width labelled with the fraction ("0.1" .. "0.9"), and the 6
// horizontal lines j = 0 .. 5 at GridY(j) labelled −20·j·f followed by " dB".
struct TGraphGrid {
  std::array<int32_t, 9> X{};
  std::array<std::string, 9> XLabel;
  std::array<int32_t, 6> Y{};
  std::array<std::string, 6> YLabel;
};
TGraphGrid GraphGrid(const TGraphScale& g, int32_t width);

// A straight line drawn from graph point (x0, y0) to (x1, y1), q bins per pixel:
// the bins round(x0·q) (at least 0) to round(x1·q) (at most K − 1), or those
// within ±0.51 pixels of x0 when x0 = x1, take the line's level at their
// position. With keepShape the bins between follow the shape of `base` (the
// curve when drawing began): level(b) = line(b) + base(b) − the straight line
// between base's levels at the first and the last bin.
void DrawCurveLine(std::vector<double>& curve, std::span<const double> base, const TGraphScale& g, double q, double x0,
                   double y0, double x1, double y1, bool keepShape);

// The brush of "Punkt" (2D mode, track-bar position p > 0) at graph point (x, y):
// with w = 1 − p/35 and the bin b0 = x·q (nothing when b0 <= 0 or b0 >= K − 1),
// the bins round(b0·w + 0.5) .. round(b0/w − 0.5) get the weight
// t = 0.6·cos(log10(b/b0)·1.6π/(1 − w)) + 0.4; where t > 0 the level becomes
// t·L(y) + (1 − t)·(current level), with keepShape t·(L(y) − base level at b0
// + base level at b) + (1 − t)·(current level).
void ApplyCurveBrush(std::vector<double>& curve, std::span<const double> base, const TGraphScale& g, double q, double x,
                     double y, int32_t p, bool keepShape);

}  // namespace astrelon
