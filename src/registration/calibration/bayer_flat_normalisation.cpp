#include "registration/calibration/bayer_flat_normalisation.h"

#include <array>

#include "store/image_store.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

int MosaicClass(int32_t x, int32_t y, int phase) {
  if ((x + y) % 2 == phase) return 0;
  return y % 2 == 1 ? 1 : 2;
}

uint32_t NormalizeBayerFlat(int source, int result) {
  if (!SlotInUse(source) || !SlotInUse(result)) return 0;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& r = Store.Image[size_t(result)];
  if (s.PlaneCount != 1 || r.Width != s.Width || r.Height != s.Height) return 0;
  const int phase = DecideMosaicPhase(source);
  std::array<double, 3> sum{};
  std::array<int64_t, 3> count{};
  for (int32_t y = 0; y < s.Height; ++y)
    for (int32_t x = 0; x < s.Width; ++x)
      if (const float v = s.At(1, x, y); IsValidPixel(v)) {
        const int c = MosaicClass(x, y, phase);
        sum[size_t(c)] += v;
        ++count[size_t(c)];
      }
  std::array<double, 3> mean{1.0, 1.0, 1.0};
  double reference = 1.0, nonEmptySum = 0;
  int nonEmpty = 0;
  for (size_t c = 0; c < 3; ++c)
    if (count[c] > 0) {
      mean[c] = sum[c] / double(count[c]);
      nonEmptySum += mean[c];
      ++nonEmpty;
    }
  if (count[0] > 0) reference = mean[0];
  else if (nonEmpty > 0) reference = nonEmptySum / nonEmpty;
  std::array<double, 3> factor{1.0, 1.0, 1.0};
  uint32_t unusable = 0;
  for (size_t c = 0; c < 3; ++c) {
    if (mean[c] > 0) factor[c] = reference / mean[c];
    else unusable |= 1u << c;
  }
  for (int32_t y = 0; y < r.Height; ++y)
    for (int32_t x = 0; x < r.Width; ++x)
      if (float& v = r.At(1, x, y); IsValidPixel(v)) v = float(v * factor[size_t(MosaicClass(x, y, phase))]);
  for (int i = 0; i < 3; ++i) r.RawMultipliers[i] = 1.0f;
  return unusable;
}

}  // namespace astrelon
