#include "filters/sharpening/psf/psf_star_check.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int Centre = 15, Last = StarCutoutSize - 1;
// The outer columns and rows the gradient comes from, and the smoothed frame.
constexpr int Strip = 4, Frame = 5;
constexpr int MiddleFrom = 8, MiddleTo = 23;

// The root mean square of the values about `level`, three rounds clipped at
// three times the one before (0 for none).
double ClippedRms(const std::vector<double>& values, double level) {
  double rms = HUGE_VAL;
  for (int round = 0; round < 4; ++round) {
    double sum = 0;
    size_t n = 0;
    for (double v : values)
      if (std::fabs(v - level) <= 3 * rms) {
        sum += (v - level) * (v - level);
        ++n;
      }
    if (n == 0) break;
    rms = std::sqrt(sum / double(n));
  }
  return std::isfinite(rms) ? rms : 0.0;
}

}  // namespace

TPsfFrame PsfFrameOf(const TStarCutout& cutout, int plane) {
  // The medians of the outer strips on either side, 28 pixels apart.
  std::array<std::vector<double>, 4> strips;  // left, right, top, bottom
  std::vector<double> outer;
  for (int y = 0; y <= Last; ++y)
    for (int x = 0; x <= Last; ++x) {
      const float v = cutout.At(plane, x, y);
      if (!IsValidPixel(v)) continue;
      if (x < Strip) strips[0].push_back(v);
      if (x > Last - Strip) strips[1].push_back(v);
      if (y < Strip) strips[2].push_back(v);
      if (y > Last - Strip) strips[3].push_back(v);
    }
  TPsfFrame f;
  constexpr double apart = StarCutoutSize - Strip;
  auto slope = [&](size_t from, size_t to) {
    return strips[from].empty() || strips[to].empty() ? 0.0 : (Median(strips[to]) - Median(strips[from])) / apart;
  };
  f.Gx = slope(0, 1);
  f.Gy = slope(2, 3);
  for (int y = 0; y <= Last; ++y)
    for (int x = 0; x <= Last; ++x) {
      const float v = cutout.At(plane, x, y);
      if (IsValidPixel(v) && (x < Strip || y < Strip || x > Last - Strip || y > Last - Strip))
        outer.push_back(v - f.Gx * (x - Centre) - f.Gy * (y - Centre));
    }
  if (outer.empty()) return f;
  f.Level = Median(outer);
  f.Noise = ClippedRms(outer, f.Level);
  return f;
}

TPsfPeak MeasurePsfPeak(const TStarCutout& cutout, int plane) {
  auto valid = [&](int x, int y) { return IsValidPixel(cutout.At(plane, x, y)); };
  const TPsfFrame sky = PsfFrameOf(cutout, plane);
  const double gx = sky.Gx, gy = sky.Gy;
  // The 3 x 3 means of the values less the gradient (NaN where one is blank).
  std::array<double, StarCutoutSize * StarCutoutSize> mean;
  mean.fill(std::nan(""));
  for (int y = 1; y < Last; ++y)
    for (int x = 1; x < Last; ++x) {
      double sum = 0;
      bool all = true;
      for (int j = y - 1; j <= y + 1 && all; ++j)
        for (int i = x - 1; i <= x + 1 && all; ++i) {
          all = valid(i, j);
          sum += double(cutout.At(plane, i, j)) - gx * (i - Centre) - gy * (j - Centre);
        }
      if (all) mean[size_t(y * StarCutoutSize + x)] = sum / 9;
    }
  std::vector<double> frame;
  for (int y = 1; y < Last; ++y)
    for (int x = 1; x < Last; ++x) {
      const double v = mean[size_t(y * StarCutoutSize + x)];
      if (v == v && (x < Frame || y < Frame || x > Last - Frame || y > Last - Frame)) frame.push_back(v);
    }
  TPsfPeak m;
  if (frame.empty()) return m;
  const double level = Median(frame);
  const double rms = ClippedRms(frame, level);
  double peak = -HUGE_VAL;
  for (int y = MiddleFrom; y <= MiddleTo; ++y)
    for (int x = MiddleFrom; x <= MiddleTo; ++x) {
      const double v = mean[size_t(y * StarCutoutSize + x)];
      if (v == v) peak = std::max(peak, v);
    }
  m.Level = float(level);
  m.Noise = float(rms);
  m.Peak = std::isfinite(peak) ? float(peak - level) : 0.0f;
  return m;
}

bool PsfHoldsStar(const TStarCutout& cutout, int plane) {
  const TPsfPeak m = MeasurePsfPeak(cutout, plane);
  return m.Peak > 0 && m.Peak > PsfPeakOverNoise * m.Noise;
}

std::array<int, 4> PsfPlanesFor(const TStarCutout& cutout, const std::array<bool, 4>& sharpened) {
  const int planes = std::clamp(cutout.PlaneCount, 1, 3);
  auto own = [planes](int p) { return planes == 1 ? 1 : p; };
  // Each cutout plane of a sharpened image plane: its peak over its noise
  // when it holds a star, else -1.
  std::array<double, 4> rating{-1, -1, -1, -1};
  for (int p = 1; p <= 3; ++p) {
    const int q = own(p);
    if (!sharpened[size_t(p)] || rating[size_t(q)] >= 0) continue;
    const TPsfPeak m = MeasurePsfPeak(cutout, q);
    if (m.Peak > 0 && m.Peak > PsfPeakOverNoise * m.Noise)
      rating[size_t(q)] = m.Noise > 0 ? double(m.Peak) / m.Noise : HUGE_VAL;
  }
  int best = 0;
  for (int q = 1; q <= planes; ++q)
    if (rating[size_t(q)] >= 0 && (best == 0 || rating[size_t(q)] > rating[size_t(best)])) best = q;
  std::array<int, 4> chosen{};
  if (best == 0) return chosen;
  for (int p = 1; p <= 3; ++p)
    if (sharpened[size_t(p)]) chosen[size_t(p)] = rating[size_t(own(p))] >= 0 ? own(p) : best;
  return chosen;
}

float PsfTapThreshold(const TStarCutout& psf, int plane) {
  const float largest = std::max(std::fabs(psf.PlaneMax[size_t(plane)]), 0.1f);
  return std::max(largest / 75, float(PsfTapNoise * PsfFrameOf(psf, plane).Noise));
}

std::string NoStarInPsfText() {
  return "Die PSF enthält keinen Stern: ihr Maximum hebt sich nicht aus dem Rauschen. Bitte einen Stern als PSF "
         "markieren!";
}

}  // namespace astrelon
