#include "shell/ui/histogram/histogram_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/pascal_format.h"
#include "store/display/display_record.h"

namespace astrelon {

int GammaToSliderPosition(float gamma, int L) {
  if (!(gamma > 0)) return L / 2;
  return Round32(std::log10(double(gamma)) * L / 1.4) + L / 2;
}

float SliderPositionToGamma(int P, int L) {
  if (L <= 0) return 1.0f;
  const double g = std::pow(10.0, 1.4 * double(P - L / 2) / L);
  return float(std::clamp(g, 0.2, 5.0));
}

int ShareToSliderPosition(float gamma, int L) { return std::clamp(Round32(-double(gamma) * L), 0, L); }

float SliderPositionToShare(int P, int L) { return L > 0 ? -float(P) / float(L) : 0.0f; }

std::string FormatValueLabel(double v) {
  const double a = std::fabs(v);
  if (a >= 1e7) return FloatToStrF(v, TFloatFormat::General, 5, 0);
  if (a >= 1e6) return FormatFloat("0", v);
  if (a >= 1e5) return FormatFloat("0.#", v);
  if (a >= 0.01) return FormatFloat("0.##", v);
  return FormatFloat("0.###", v);
}

std::string SliderValueText(float gamma, int zoom) {
  if (gamma == CurveModeGamma) return IntToStr(zoom);
  if (gamma > 0) return FormatFixed(std::max(double(gamma), 0.2), 2);
  return IntToStr(Round(-double(gamma) * 100)) + "%";
}

int BinColumn(int bin, int W) { return Round32(double(bin) * W * 0.002) + 2; }

int BarHeight(double count, int peak, int H) {
  const double k = 1.0 / std::max(peak, 1);
  return Round32(std::sqrt(std::max(0.0, count * k)) * H);
}

int CurveScrollOffset(int W, int P, int Z, int L) {
  if (L <= 0) return 0;
  return int(int64_t(W) * P * (Z - 1) / L);
}

}  // namespace astrelon
