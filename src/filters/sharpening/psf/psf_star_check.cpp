#include "filters/sharpening/psf/psf_star_check.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int Frame = 4, Centre = 15;
constexpr int MiddleFrom = 8, MiddleTo = 23;

bool InFrame(int x, int y) {
  return x < Frame || y < Frame || x >= StarCutoutSize - Frame || y >= StarCutoutSize - Frame;
}

}  // namespace

TPsfPeak MeasurePsfPeak(const TStarCutout& cutout, int plane) {
  auto valid = [&](int x, int y) {
    return x < StarCutoutSize && y < StarCutoutSize && InFrame(x, y) && IsValidPixel(cutout.At(plane, x, y));
  };
  // The differences of neighbours within the frame, along its rows and down its columns.
  std::vector<double> across, down;
  for (int y = 0; y < StarCutoutSize; ++y)
    for (int x = 0; x < StarCutoutSize; ++x) {
      if (!valid(x, y)) continue;
      const double v = cutout.At(plane, x, y);
      if (valid(x + 1, y)) across.push_back(cutout.At(plane, x + 1, y) - v);
      if (valid(x, y + 1)) down.push_back(cutout.At(plane, x, y + 1) - v);
    }
  TPsfPeak m;
  if (across.empty() || down.empty()) return m;
  // The gradient: the median differences; the noise: the root mean square of
  // the differences about them, three rounds clipped at three times itself.
  std::vector<double> deviations;
  const double gx = Median(across), gy = Median(down);
  for (double d : across) deviations.push_back(d - gx);
  for (double d : down) deviations.push_back(d - gy);
  double rms = HUGE_VAL;
  for (int round = 0; round < 4; ++round) {
    double sum = 0;
    size_t n = 0;
    for (double d : deviations)
      if (std::fabs(d) <= 3 * rms) {
        sum += d * d;
        ++n;
      }
    if (n == 0) break;
    rms = std::sqrt(sum / double(n));
  }
  m.Noise = std::isfinite(rms) ? float(rms / std::sqrt(2.0)) : 0.0f;
  // The level at the centre: the median of the frame with the gradient taken off.
  auto flat = [&](int x, int y) { return double(cutout.At(plane, x, y)) - gx * (x - Centre) - gy * (y - Centre); };
  std::vector<double> frame;
  for (int y = 0; y < StarCutoutSize; ++y)
    for (int x = 0; x < StarCutoutSize; ++x)
      if (valid(x, y)) frame.push_back(flat(x, y));
  m.Level = float(Median(frame));
  double peak = -HUGE_VAL;
  for (int y = MiddleFrom; y <= MiddleTo; ++y)
    for (int x = MiddleFrom; x <= MiddleTo; ++x)
      if (IsValidPixel(cutout.At(plane, x, y))) peak = std::max(peak, flat(x, y));
  m.Peak = float(peak - m.Level);
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
