#include "shell/statistics/block_statistics.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

TQualityRange JpegQualityRange;

namespace {

int32_t LastStrength = 101;

}  // namespace

TBlockStatistics ComputeBlockStatistics(int slot) {
  TBlockStatistics result;
  if (!SlotInUse(slot)) return result;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Height < 9 || im.Width < 1) {
    result.Strength = LastStrength;
    return result;
  }
  const int pairs = 8 * ((im.Height - 1) / 8);  // row pairs r, r+1 for r = 0..pairs-1
  std::vector<double> rowDiff(size_t(pairs), 0.0);
  for (int p = 1; p <= im.PlaneCount; ++p) {
    if (im.Planes[size_t(p)].size() < im.PixelCount()) continue;
    for (int r = 0; r < pairs; ++r) {
      const auto a = im.Row(p, r);
      const auto b = im.Row(p, r + 1);
      double sum = 0;
      int64_t n = 0;
      for (int x = 0; x < im.Width; ++x)
        if (IsValidPixel(a[size_t(x)]) && IsValidPixel(b[size_t(x)])) {
          sum += std::fabs(double(a[size_t(x)]) - b[size_t(x)]);
          ++n;
        }
      if (n > 0) rowDiff[size_t(r)] += sum / double(n);
      EngineUi().ProcessMessages();
      if (AbortRequested) return result;
    }
  }
  std::array<double, 8> phase{};
  for (int k = 0; k < 8; ++k) {
    std::vector<float> values;
    for (int r = k; r < pairs; r += 8) values.push_back(float(rowDiff[size_t(r)]));
    phase[size_t(k)] = Percentile(values, 0.7);
  }
  const int best = int(std::max_element(phase.begin(), phase.end()) - phase.begin());
  if (best == 7) result.Flag = 0;
  double others = 0;
  for (int k = 0; k < 8; ++k)
    if (k != best) others += phase[size_t(k)];
  const double excess = phase[size_t(best)] - others / 7 + 0.3;
  if (excess > 0) result.Strength = int32_t(std::min<int64_t>(result.Strength, Round(100 / excess)));

  TQualityRange& range = JpegQualityRange;
  if (result.Strength < range.Low - 40) {
    range.Low = range.High = result.Strength;
    im.JpegFileSize = 0;
  } else {
    result.Strength = std::clamp(result.Strength, range.Low, std::max(range.Low, range.High));
  }
  LastStrength = result.Strength;
  return result;
}

}  // namespace astrelon
