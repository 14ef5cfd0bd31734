#include "registration/shift_test/shift_finding_sweeps.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "kernels/alignment/shift_by_correlation.h"
#include "kernels/gauss/gauss_table.h"
#include "kernels/sampling/pixel_access.h"
#include "shell/slots/slot_utilities.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int32_t NoisyPixels = 12000;
constexpr int32_t Steps = 21;
// Where the stars are measured: the star search's rectangle and the block
// matched against the reference star at (51.5, 18.5).
constexpr TWorkRect StarWindow{36, 66, 4, 34};
constexpr TWorkRect ReferenceBlock{41, 61, 8, 28};

// Draws a star at (x, y) (pixel k covering k .. k + 1) into the cleared plane
// and adds noise to its first pixels.
void DrawNoisyStar(int slot, double x, double y, const TShiftSweepSettings& s, const TGaussTable& table,
                   TNoiseRandom& random) {
  ZeroAllPlanes(slot);
  FillGaussianPsf(slot, x, y, s.StarRadius);
  auto& plane = Store.Image[size_t(slot)].Planes[1];
  const size_t n = std::min(plane.size(), size_t(NoisyPixels));
  for (size_t k = 0; k < n; ++k) plane[k] += float(table[random.Below(GaussTableSize)] * 100 * s.Noise);
}

}  // namespace

double RunShiftFindingSweeps(int testSlot, int resultSlot, const TShiftSweepSettings& s, uint64_t seed) {
  if (!SlotInUse(testSlot) || !SlotInUse(resultSlot)) return 0;
  TNoiseRandom random(seed);
  TGaussTable table;
  FillGaussTable(table, random);
  const bool correlation = Settings.ShiftMode != 0;
  TStarSearchOptions options;
  options.IsMosaic = s.IsMosaic;

  // The reference star, measured once.
  ZeroAllPlanes(resultSlot);
  FillGaussianPsf(resultSlot, 51.5, 18.5, s.StarRadius);
  UpdateMinMax(resultSlot);
  FindStarCentroid(resultSlot, StarWindow, -1, 1, options);
  const TFloatPoint reference = StarPosition;
  const double blockCx = (ReferenceBlock.x1 + ReferenceBlock.x2) * 0.5;
  const double blockCy = (ReferenceBlock.y1 + ReferenceBlock.y2) * 0.5;

  auto measure = [&](double x, double y) -> TFloatPoint {
    DrawNoisyStar(testSlot, x, y, s, table, random);
    UpdateMinMax(testSlot);
    if (correlation) {
      const TShiftResult found = FindShiftByCorrelation(resultSlot, 1, testSlot, 1, ReferenceBlock, ReferenceBlock,
                                                        100, s.IsMosaic, 1.0);
      return {float(reference.X + found.Position.X - blockCx), float(reference.Y + found.Position.Y - blockCy)};
    }
    FindStarCentroid(testSlot, StarWindow, -1, 1, options);
    return StarPosition;
  };

  double error = 0;
  std::vector<double> dx(Steps), dy(Steps);
  const double sub = s.SubPixel;
  for (int32_t i = 500; i <= 520; ++i) {
    const TFloatPoint p = measure(0.1 * i, 18 + sub);
    dx[size_t(i - 500)] = p.X - 0.1 * i + 0.5;
    error += dx[size_t(i - 500)] * dx[size_t(i - 500)] + (p.Y - 17.5 - sub) * (p.Y - 17.5 - sub);
  }
  for (int32_t j = 70; j <= 90; ++j) {
    const TFloatPoint p = measure(50 + sub, 0.1 * j + 10);
    dy[size_t(j - 70)] = p.Y - 0.1 * j - 9.5;
    error += (p.X - 49.5 - sub) * (p.X - 49.5 - sub) + dy[size_t(j - 70)] * dy[size_t(j - 70)];
  }

  // The picture of the errors: x errors of the row sweep about row 50, y
  // errors of the column sweep about row 95.
  ZeroAllPlanes(resultSlot);
  auto marks = [&](const std::vector<double>& errors, int32_t row) {
    for (int32_t n = 0; n < Steps; ++n) {
      const int32_t x = 5 + 9 * n;
      const double moved = std::clamp(std::nearbyint(20 * errors[size_t(n)]), -20.0, 20.0);
      SetPixelValue(resultSlot, 1, x, row, 6000);
      SetPixelValue(resultSlot, 1, x, row - int32_t(moved), 10000);
    }
  };
  marks(dx, 50);
  marks(dy, 95);
  UpdateMinMax(resultSlot);
  return error;
}

}  // namespace astrelon
