#pragma once
// Numbers of the histogram window that need no window: the slider's positions
// in the gamma and equalisation modes, the value labels, where bins and bars
// go in the histogram picture and the scroll offset of the zoomed curve.
#include <string>

namespace astrelon {

constexpr int HistogramMargin = 8;  // left margin of the histogram picture

// Gamma mode: P = round(log10(gamma) x L / 1.4) + L div 2; back: the gamma
// 10^(1.4 x (P - L div 2) / L), kept within 0.2 .. 5.
int GammaToSliderPosition(float gamma, int L);
float SliderPositionToGamma(int P, int L);
// Equalisation mode: P = round(-gamma x L), kept within 0 .. L; back: -P / L.
int ShareToSliderPosition(float gamma, int L);
float SliderPositionToShare(int P, int L);

// A value next to a marker or at an end of the axis: 5 significant digits from
// 1e7 on, then "0", "0.#", "0.##" and below 0.01 "0.###".
std::string FormatValueLabel(double v);
// The slider's value: the gamma with 2 decimals (never below 0.2), the
// equalisation share in percent, or in curve mode the zoom factor.
std::string SliderValueText(float gamma, int zoom);

// Column of bin i (0..500) in a histogram picture W wide: round(i x W x 0.002) + 2.
int BinColumn(int bin, int W);
// Bar height of a count: round(sqrt(count / max(peak, 1)) x H).
int BarHeight(double count, int peak, int H);

// Scroll offset of the zoomed curve picture: W x P x (Z - 1) div L.
int CurveScrollOffset(int W, int P, int Z, int L);

}  // namespace astrelon
