#include "pixelops/pixels/multiply_by_image.h"

#include <algorithm>
#include <cstdint>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The smallest mean the scale divides by.
constexpr float MinimumMean = 0.1f;

}  // namespace

void MultiplyRun(std::span<float> a, std::span<const float> b, double s) {
  const size_t n = std::min(a.size(), b.size());
  float* out = a.data();
  const float* in = b.data();
  for (size_t i = 0; i < n; ++i) {
    const float x = out[i], y = in[i];
    if (IsValidPixel(x) && IsValidPixel(y)) out[i] = float(double(x) * double(y) * s);
  }
}

void MultiplyByImage(int destination, int second, bool scaleByMean) {
  if (!SlotInUse(destination) || !SlotInUse(second)) return;
  TImageSlot& im = Store.Image[size_t(destination)];
  const TImageSlot& other = Store.Image[size_t(second)];
  const int32_t width = std::min(im.Width, other.Width), rows = std::min(im.Height, other.Height);
  if (width < 1 || rows < 1) return;
  const int threads = BandThreads(int64_t(width) * rows, int64_t(1) << 18, Options.Multicore != 0);
  for (int p = 1; p <= std::min(im.PlaneCount, 3); ++p) {
    const int q = other.IsColor ? p : 1;
    if (im.Planes[size_t(p)].size() < im.PixelCount() || other.Planes[size_t(q)].size() < other.PixelCount()) continue;
    const double s = scaleByMean ? 1.0 / double(std::max(GetPlaneMean(second, q), MinimumMean)) : 1.0;
    ForEachBand(rows, threads, [&](int64_t first, int64_t last) {
      for (int32_t y = int32_t(first); y < int32_t(last); ++y)
        MultiplyRun(im.Row(p, y).first(size_t(width)), other.Row(q, y).first(size_t(width)), s);
    });
  }
}

}  // namespace astrelon
