#include "filters/sharpening/psf_star_check.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "store/image_slot.h"

namespace astrelon {

namespace {

constexpr int Frame = 4;
constexpr int MiddleFrom = 8, MiddleTo = 23;

bool InFrame(int x, int y) {
  return x < Frame || y < Frame || x >= StarCutoutSize - Frame || y >= StarCutoutSize - Frame;
}

}  // namespace

TPsfPeak MeasurePsfPeak(const TStarCutout& cutout, int plane) {
  std::vector<float> frame;
  std::vector<double> differences;
  for (int y = 0; y < StarCutoutSize; ++y)
    for (int x = 0; x < StarCutoutSize; ++x) {
      if (!InFrame(x, y)) continue;
      const float v = cutout.At(plane, x, y);
      if (!IsValidPixel(v)) continue;
      frame.push_back(v);
      if (x + 1 < StarCutoutSize && InFrame(x + 1, y) && IsValidPixel(cutout.At(plane, x + 1, y)))
        differences.push_back(double(cutout.At(plane, x + 1, y)) - v);
    }
  TPsfPeak m;
  if (frame.empty()) return m;
  const auto middle = frame.begin() + std::ptrdiff_t(frame.size() / 2);
  std::nth_element(frame.begin(), middle, frame.end());
  m.Level = *middle;
  // The root mean square, three rounds clipped at three times itself.
  double rms = HUGE_VAL;
  for (int round = 0; round < 4; ++round) {
    double sum = 0;
    size_t n = 0;
    for (double d : differences)
      if (std::fabs(d) <= 3 * rms) {
        sum += d * d;
        ++n;
      }
    if (n == 0) break;
    rms = std::sqrt(sum / double(n));
  }
  m.Noise = std::isfinite(rms) ? float(rms / std::sqrt(2.0)) : 0.0f;
  float peak = -HUGE_VALF;
  for (int y = MiddleFrom; y <= MiddleTo; ++y)
    for (int x = MiddleFrom; x <= MiddleTo; ++x)
      if (IsValidPixel(cutout.At(plane, x, y))) peak = std::max(peak, cutout.At(plane, x, y));
  m.Peak = peak - m.Level;
  return m;
}

bool PsfHoldsStar(const TStarCutout& cutout, int plane) {
  const TPsfPeak m = MeasurePsfPeak(cutout, plane);
  return m.Peak > 0 && m.Peak > PsfPeakOverNoise * m.Noise;
}

std::string NoStarInPsfText() {
  return "Die PSF enthält keinen Stern: ihr Maximum hebt sich nicht aus dem Rauschen. Bitte einen Stern als PSF "
         "markieren!";
}

}  // namespace astrelon
