#include "registration/calibration/dark_subtraction.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "registration/calibration/dark_hot_pixels.h"
#include "registration/calibration/dark_scale.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

bool HasPlane(const TImageSlot& im, int p) {
  return p >= 1 && p <= im.PlaneCount && im.PixelCount() > 0 && im.Planes[size_t(p)].size() >= im.PixelCount();
}

// The dark plane that serves image plane p: plane 1 of a one-plane dark, else plane p.
int DarkPlaneFor(const TImageSlot& dark, int p) { return dark.PlaneCount == 1 ? 1 : p; }

}  // namespace

bool BatchBayerMode() { return BatchRunning != 0 && BatchAddToTarget != 0 && BatchMarkCount >= 1; }

void SubtractDarkRow(std::span<float> image, std::span<const float> dark, bool compensate, double scale,
                     double level) {
  const size_t n = std::min(image.size(), dark.size());
  float* x = image.data();
  const float* d = dark.data();
  if (!compensate) {
    for (size_t i = 0; i < n; ++i) {
      const float xv = x[i], dv = d[i];
      x[i] = !IsValidPixel(xv) ? xv : (IsValidPixel(dv) ? xv - dv : BlankPixel);
    }
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    const float xv = x[i], dv = d[i];
    if (!IsValidPixel(xv)) continue;
    x[i] = IsValidPixel(dv) ? float(double(xv) - (double(dv) - level) * scale - level) : BlankPixel;
  }
}

std::string DarkSizeDiffersText(int32_t width, int32_t height, int32_t darkWidth, int32_t darkHeight) {
  return "Das Dunkelbild (" + std::to_string(darkWidth) + " x " + std::to_string(darkHeight) +
         ") hat nicht die Größe des Bildes (" + std::to_string(width) + " x " + std::to_string(height) +
         "); es wird nicht abgezogen.";
}

bool DarkSizeFits(int imageSlot, int darkSlot) {
  const TImageSlot& im = Store.Image[size_t(imageSlot)];
  const TImageSlot& dk = Store.Image[size_t(darkSlot)];
  if (im.Width == dk.Width && im.Height == dk.Height) return true;
  EngineUi().ShowMessage(DarkSizeDiffersText(im.Width, im.Height, dk.Width, dk.Height));
  return false;
}

bool SubtractDarkFrame(int imageSlot, int darkSlot, bool temperatureCompensation, bool hotPixelRepair) {
  if (darkSlot < 1 || !SlotInUse(imageSlot) || !SlotInUse(darkSlot)) return false;
  // A dark of another size would calibrate only the overlap.
  if (!DarkSizeFits(imageSlot, darkSlot)) return false;
  TImageSlot& im = Store.Image[size_t(imageSlot)];
  // A slot subtracted from itself reads the dark from a copy taken before.
  std::optional<TImageSlot> ownCopy;
  if (imageSlot == darkSlot) ownCopy = im;
  const TImageSlot& dk = ownCopy ? *ownCopy : Store.Image[size_t(darkSlot)];

  const double k = temperatureCompensation ? ComputeDarkScale(imageSlot, darkSlot, !hotPixelRepair) : 1.0;

  // The planes to work on; per dark plane used its 30 % level and the
  // threshold offset of its hot pixels (measured before any pixel changes).
  std::vector<int> planes, darkPlanes;
  for (int p = 1; p <= std::min(im.PlaneCount, 3); ++p) {
    const int q = DarkPlaneFor(dk, p);
    if (!HasPlane(im, p) || !HasPlane(dk, q)) continue;
    planes.push_back(p);
    if (std::find(darkPlanes.begin(), darkPlanes.end(), q) == darkPlanes.end()) darkPlanes.push_back(q);
  }
  if (planes.empty()) return true;
  // The dark planes are measured side by side.
  std::array<double, 4> level{};
  std::array<float, 4> offset{};
  const int64_t measured = int64_t(darkPlanes.size());
  ForEachBand(measured, Options.Multicore != 0 ? int(measured) : 1, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const int q = darkPlanes[size_t(i)];
      if (temperatureCompensation) {
        TPercentileLevels levels;
        GetPercentileLevels(darkSlot, q, 0, dk.Width - 1, 0, dk.Height - 1, 30.0, 30.0, levels);
        level[size_t(q)] = levels.LevelA;
      }
      if (hotPixelRepair)
        offset[size_t(q)] = float(double(EstimateNoise(darkSlot, q)) * 1.5 * Settings.HotPixelSigma);
    }
  });

  const int32_t rows = std::min(im.Height, dk.Height);
  const int32_t columns = std::min(im.Width, dk.Width);
  const bool multicore = Options.Multicore != 0;
  const int64_t pairs = int64_t(rows) * int64_t(planes.size());
  ForEachBand(pairs, BandThreads(pairs * columns, 1 << 16, multicore), [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const int p = planes[size_t(i / rows)];
      const int32_t y = int32_t(i % rows);
      const int q = DarkPlaneFor(dk, p);
      SubtractDarkRow(im.Row(p, y).first(size_t(columns)), dk.Row(q, y).first(size_t(columns)),
                      temperatureCompensation, k, level[size_t(q)]);
    }
  });
  if (!hotPixelRepair) return true;

  const bool bayer = BatchBayerMode();
  const int phase = im.PlaneCount == 1 && !bayer ? DetectMosaicPhase(imageSlot) : -1;
  const int32_t y2 = std::min(im.Height, dk.Height) - 3, x2 = std::min(im.Width, dk.Width) - 3;
  if (y2 < 2 || x2 < 2) return true;
  // The hot pixels depend on the dark alone: found once per dark plane.
  std::array<std::vector<THotDarkPixel>, 4> hot;
  std::array<bool, 4> found{};
  for (const int p : planes) {
    const int q = DarkPlaneFor(dk, p);
    if (found[size_t(q)]) continue;
    hot[size_t(q)] = FindHotDarkPixels(dk.Plane(q), dk.Width, 2, y2, 2, x2, offset[size_t(q)], Sse2Enabled,
                                       BandThreads(int64_t(y2 - 1) * (x2 - 1), 1 << 16, multicore));
    found[size_t(q)] = true;
  }
  // Each plane is repaired in scan order; planes are independent of each other.
  const int64_t n = int64_t(planes.size());
  ForEachBand(n, multicore ? int(n) : 1, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const int p = planes[size_t(i)];
      const int q = DarkPlaneFor(dk, p);
      RepairHotPixels(im.Plane(p).first(im.PixelCount()), im.Width, dk.Plane(q).first(dk.PixelCount()), dk.Width,
                      hot[size_t(q)], phase, bayer);
    }
  });
  return true;
}

}  // namespace astrelon
