#include "shell/pixel_menu/pixel_fills.h"

#include <algorithm>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int MosaicPasses = 500;

int PlaneCountOf(const TImageSlot& im) {
  int n = 0;
  while (n < std::clamp(im.PlaneCount, 0, 3) && im.Planes[size_t(n + 1)].size() >= im.PixelCount()) ++n;
  return n;
}

// Calls fn(first, last) for bands of the pixel indices of a plane, over the cores.
template <typename F>
void ForEachPixelBand(const TImageSlot& im, F&& fn) {
  const int64_t n = int64_t(im.PixelCount());
  ForEachBand(n, BandThreads(n, int64_t(1) << 16, Options.Multicore != 0), fn);
}

}  // namespace

void MakeValueTransparent(int slot, const std::array<float, 3>& values) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int planes = PlaneCountOf(im);
  if (planes < 1) return;
  const bool colour = im.IsColor && planes == 3;
  ForEachPixelBand(im, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      bool match = im.Planes[1][size_t(i)] == values[0];
      if (colour) match = match && im.Planes[2][size_t(i)] == values[1] && im.Planes[3][size_t(i)] == values[2];
      if (!match) continue;
      for (int p = 1; p <= planes; ++p) im.Planes[size_t(p)][size_t(i)] = BlankPixel;
    }
  });
}

void FillTransparentPixels(int slot, const std::array<float, 3>& values) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int planes = PlaneCountOf(im);
  if (planes < 1) return;
  const int filled = im.IsColor ? planes : 1;
  ForEachPixelBand(im, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      if (IsValidPixel(im.Planes[1][size_t(i)])) continue;
      for (int p = 1; p <= filled; ++p) im.Planes[size_t(p)][size_t(i)] = values[size_t(p - 1)];
    }
  });
}

void FillBlankMosaicPixels(int slot) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t w = im.Width, h = im.Height;
  for (int p = 1; p <= PlaneCountOf(im); ++p) {
    TPlane& plane = im.Planes[size_t(p)];
    // Only the blank pixels are visited, not the whole plane in every pass.
    std::vector<int64_t> blank;
    for (size_t i = 0; i < im.PixelCount(); ++i)
      if (!IsValidPixel(plane[i])) blank.push_back(int64_t(i));
    std::vector<float> found(blank.size());
    for (int pass = 0; pass < MosaicPasses && !blank.empty(); ++pass) {
      // Values of this pass come from the plane as it was before it.
      std::vector<uint8_t> has(blank.size(), 0);
      for (size_t k = 0; k < blank.size(); ++k) {
        const int32_t x = int32_t(blank[k] % w), y = int32_t(blank[k] / w);
        std::array<float, 9> values{};
        size_t n = 0;
        for (int32_t dy = -2; dy <= 2; dy += 2)
          for (int32_t dx = -2; dx <= 2; dx += 2) {
            const int32_t u = x + dx, v = y + dy;
            if (u < 0 || v < 0 || u >= w || v >= h) continue;
            const float value = plane[size_t(v) * size_t(w) + size_t(u)];
            if (IsValidPixel(value)) values[n++] = value;
          }
        if (n == 0) continue;
        found[k] = Percentile(std::span<float>(values.data(), n), 0.5);
        has[k] = 1;
      }
      size_t kept = 0;
      for (size_t k = 0; k < blank.size(); ++k) {
        if (has[k]) {
          plane[size_t(blank[k])] = found[k];
        } else {
          blank[kept++] = blank[k];
        }
      }
      // A pass that filled nothing would be followed by identical ones.
      if (kept == blank.size()) break;
      blank.resize(kept);
    }
  }
}

void FillWorkRectWithValue(int slot, float value) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t x1 = std::max(WorkRect.x1, 0), x2 = std::min(WorkRect.x2, im.Width - 1);
  const int32_t y1 = std::max(WorkRect.y1, 0), y2 = std::min(WorkRect.y2, im.Height - 1);
  if (x2 < x1 || y2 < y1) return;
  for (int p = 1; p <= PlaneCountOf(im); ++p)
    for (int32_t y = y1; y <= y2; ++y) {
      const auto row = im.Row(p, y);
      std::fill(row.begin() + x1, row.begin() + x2 + 1, value);
    }
}

}  // namespace astrelon
