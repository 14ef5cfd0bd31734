#include "pixelops/sun_surface.h"

#include <cmath>
#include <numbers>
#include <vector>

#include "common/pascal_format.h"
#include "pixelops/pixel_access.h"
#include "pixelops/rect_runs.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int Limb = 199;        // profile index of the disc's edge
constexpr double Fade = 204.0;   // relative radius where the sky outside has faded to 0

struct TSemiAxes {
  double X, Y;
};
// A semi-axis below one pixel is taken as one (the profile divides by it).
TSemiAxes SemiAxes(const TBrightDisc& disc) {
  const double ax = disc.RightEdge - double(disc.CentreX);
  const double ay = disc.BottomEdge - double(disc.CentreY);
  return {ax >= 1.0 ? ax : 1.0, ay >= 1.0 ? ay : 1.0};
}

}  // namespace

std::optional<std::array<double, 206>> SunSurfaceProfile(int slot, const TBrightDisc& disc) {
  if (!SlotInUse(slot)) return std::nullopt;
  const int plane = GetRgbCode(slot);
  const TSemiAxes axes = SemiAxes(disc);
  std::array<double, 206> raw{};
  std::array<bool, Limb + 1> measured{};
  std::vector<float> samples;
  for (int k = 1; k <= Limb; ++k) {
    const int n = std::min(k * k + 30, 300);
    samples.clear();
    for (int j = 0; j <= n; ++j) {
      const double a = 2.0 * j * std::numbers::pi / n;
      const double x = std::sin(a) * k * axes.X / Limb + disc.CentreX;
      const double y = std::cos(a) * k * axes.Y / Limb + disc.CentreY;
      const float v = GetPixelValue(slot, plane, Round32(x), Round32(y));
      if (IsValidPixel(v)) samples.push_back(v);
    }
    if (!samples.empty()) {
      raw[size_t(k)] = Percentile(samples, 0.6);
      measured[size_t(k)] = true;
    }
  }
  int first = 0;
  for (int k = 1; k <= Limb && first == 0; ++k)
    if (measured[size_t(k)]) first = k;
  if (first == 0) return std::nullopt;
  int inner = 0;
  for (int k = 1; k <= Limb; ++k) {
    if (measured[size_t(k)]) inner = k;
    else raw[size_t(k)] = raw[size_t(inner > 0 ? inner : first)];
  }

  raw[0] = raw[1];
  for (int k = Limb + 1; k <= 205; ++k) raw[size_t(k)] = raw[Limb];
  std::array<double, 206> s = raw;
  for (int k = 201; k <= 205; ++k) s[size_t(k)] = s[200];
  for (int g = 1; g <= 4; ++g) {
    const double w = 1.0 / (g + 4);
    for (int i = 1; i <= 200 - g; ++i) s[size_t(i)] = (raw[size_t(i + g)] * w + s[size_t(i)]) / (w + 1.0);
    for (int i = g; i <= Limb; ++i) s[size_t(i)] = (raw[size_t(i - g)] / 7.0 + s[size_t(i)]) / 1.1428571428571428;
  }
  return s;
}

bool FlattenSunSurface(int slot, const TBrightDisc& disc) {
  const auto profile = SunSurfaceProfile(slot, disc);
  if (!profile) return false;
  const std::array<double, 206>& s = *profile;
  TImageSlot& im = Store.Image[size_t(slot)];
  std::vector<int32_t> planes;
  for (int32_t p : SelectedChannels(slot).Planes())
    if (im.Planes[size_t(p)].size() >= im.PixelCount()) planes.push_back(p);
  if (planes.empty() || im.Width < 1 || im.Height < 1) return true;

  const TSemiAxes axes = SemiAxes(disc);
  // Squared relative distances along a row and down a column.
  std::vector<double> columnTerm(size_t(im.Width));
  for (int32_t x = 0; x < im.Width; ++x) {
    const double d = (x - double(disc.CentreX)) * Limb / axes.X;
    columnTerm[size_t(x)] = d * d;
  }
  const double centre = s[0];
  const double limbDivisor = std::max(s[Limb], 0.001);

  const TClippedRect whole{0, im.Width - 1, 0, im.Height - 1};
  const int threads = RectRunThreads(whole, int(planes.size()));
  ForEachBand(im.Height, threads, [&](int64_t firstRow, int64_t lastRow) {
    std::vector<double> factor(size_t(im.Width));
    for (int64_t y = firstRow; y < lastRow; ++y) {
      const double dy = (double(y) - double(disc.CentreY)) * Limb / axes.Y;
      const double rowTerm = dy * dy;
      for (int32_t x = 0; x < im.Width; ++x) {
        const double r = std::sqrt(columnTerm[size_t(x)] + rowTerm);
        if (r < Limb) {
          const int k = int(r);
          const double frac = r - k;
          double f = s[size_t(k)] * (1.0 - frac) + s[size_t(k) + 1] * frac;
          if (f < 0.001) f = 0.001;
          factor[size_t(x)] = centre / f;
        } else {
          const double w = std::max((Fade - r) * 0.2, 0.0);
          factor[size_t(x)] = centre / limbDivisor * w;
        }
      }
      for (int32_t p : planes) {
        std::span<float> row = im.Row(p, int(y));
        for (int32_t x = 0; x < im.Width; ++x)
          if (IsValidPixel(row[size_t(x)])) row[size_t(x)] = float(double(row[size_t(x)]) * factor[size_t(x)]);
      }
    }
  });
  return true;
}

}  // namespace astrelon
