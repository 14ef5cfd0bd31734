#include "pixelops/interpolate_blank_pixels.h"

#include <algorithm>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

void InterpolateBlankPixels(int a, int b, bool allBlanks, bool progress) {
  if (!SlotInUse(a) || !SlotInUse(b)) return;
  const TImageSlot& ref = Store.Image[a];
  TImageSlot& im = Store.Image[b];
  const int32_t w = ref.Width, h = ref.Height;
  if (w < 1 || h < 1 || im.Width != w || im.Height != h) return;
  const size_t n = size_t(w) * size_t(h);
  const int planes = std::min(ref.PlaneCount, im.PlaneCount);
  for (int p = 1; p <= planes; ++p) {
    if (im.Planes[p].size() < n || ref.Planes[p].size() < n) continue;
    float* v = im.Planes[p].data();
    const float* r = ref.Planes[p].data();
    auto toFill = [&](size_t i) { return !IsValidPixel(v[i]) && (allBlanks || IsValidPixel(r[i])); };
    std::vector<size_t> ring;
    for (size_t i = 0; i < n; ++i)
      if (toFill(i)) ring.push_back(i);
    if (ring.empty()) continue;
    if (ring.size() == n && allBlanks) {
      std::fill(v, v + n, 0.0f);
      continue;
    }
    // Pixels still open: the ones of `ring`; each round fills those next to a value.
    std::vector<std::pair<size_t, float>> filled;
    while (!ring.empty()) {
      filled.clear();
      std::vector<size_t> rest;
      for (const size_t i : ring) {
        const int32_t x = int32_t(i % size_t(w)), y = int32_t(i / size_t(w));
        double sum = 0;
        int count = 0;
        auto take = [&](size_t j) {
          if (IsValidPixel(v[j])) sum += v[j], ++count;
        };
        if (x > 0) take(i - 1);
        if (x + 1 < w) take(i + 1);
        if (y > 0) take(i - size_t(w));
        if (y + 1 < h) take(i + size_t(w));
        if (count > 0)
          filled.emplace_back(i, float(sum / count));
        else
          rest.push_back(i);
      }
      if (filled.empty()) break;  // pixels out of reach of any value stay blank
      for (const auto& [i, value] : filled) v[i] = value;
      ring.swap(rest);
    }
  }
}

}  // namespace astrelon
