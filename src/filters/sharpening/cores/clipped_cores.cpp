#include "filters/sharpening/cores/clipped_cores.h"

#include <algorithm>
#include <cmath>

#include "filters/sharpening/cores/clipping_level.h"
#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

// Seen marks: 0 not yet, 1 in a top looked at, 2 in a core.
constexpr uint8_t Looked = 1, InCore = 2;
// Tops below this many noise levels are no star's.
constexpr float LeastTop = 5.0f;

struct TPlaneGrid {
  std::span<const float> V;
  int32_t W = 0, H = 0;
  bool Valid(int64_t i) const { return IsValidPixel(V[size_t(i)]); }
};

// Whether pixel (x, y) stands at least as high as its valid eight neighbours.
bool LocalTop(const TPlaneGrid& g, int32_t x, int32_t y) {
  const float v = g.V[size_t(int64_t(y) * g.W + x)];
  for (int32_t j = std::max(y - 1, 0); j <= std::min(y + 1, g.H - 1); ++j)
    for (int32_t i = std::max(x - 1, 0); i <= std::min(x + 1, g.W - 1); ++i) {
      const float u = g.V[size_t(int64_t(j) * g.W + i)];
      if (IsValidPixel(u) && u > v) return false;
    }
  return true;
}

// The 4-connected pixels from `seed` that `step(from, to)` lets the region
// grow to from a pixel of it, not yet in a core; `taken` (one byte per pixel,
// all 0) marks them while they are gathered.
template <class Step>
std::vector<int64_t> Region(const TPlaneGrid& g, int64_t seed, const std::vector<uint8_t>& seen,
                            std::vector<uint8_t>& taken, Step step) {
  std::vector<int64_t> region{seed}, stack{seed};
  taken[size_t(seed)] = 1;
  while (!stack.empty()) {
    const int64_t i = stack.back();
    stack.pop_back();
    const int32_t x = int32_t(i % g.W), y = int32_t(i / g.W);
    const int64_t next[4] = {x > 0 ? i - 1 : -1, x + 1 < g.W ? i + 1 : -1, y > 0 ? i - g.W : -1,
                             y + 1 < g.H ? i + g.W : -1};
    for (int64_t k : next) {
      if (k < 0 || taken[size_t(k)] || seen[size_t(k)] == InCore || !g.Valid(k) ||
          !step(g.V[size_t(i)], g.V[size_t(k)]))
        continue;
      taken[size_t(k)] = 1;
      region.push_back(k);
      stack.push_back(k);
    }
  }
  for (int64_t i : region) taken[size_t(i)] = 0;
  return region;
}

}  // namespace

std::vector<TClippedCore> FindClippedCores(std::span<const float> plane, int32_t w, int32_t h, float background,
                                           float noise, float clip) {
  std::vector<TClippedCore> cores;
  const TPlaneGrid g{plane, w, h};
  if (w < 1 || h < 1 || plane.size() < size_t(w) * size_t(h)) return cores;
  std::vector<uint8_t> seen(size_t(w) * size_t(h), 0), taken(seen.size(), 0);
  // The local tops high enough above the background, highest first.
  const float least = background + std::max(LeastTop * noise, 0.0f);
  std::vector<int64_t> tops;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int64_t i = int64_t(y) * w + x;
      if (g.Valid(i) && plane[size_t(i)] > least && LocalTop(g, x, y)) tops.push_back(i);
    }
  std::stable_sort(tops.begin(), tops.end(), [&](int64_t a, int64_t b) { return plane[size_t(a)] > plane[size_t(b)]; });
  for (int64_t seed : tops) {
    if (seen[size_t(seed)] != 0) continue;
    const float top = plane[size_t(seed)], height = top - background;
    const float tolerance = CoreFlatness * height, span = CoreSpan * height;
    // Where the noise could reach across the tolerance, any top may look flat.
    if (tolerance < CoreNoiseRoom * noise) continue;
    std::vector<int64_t> flat = Region(g, seed, seen, taken, [&](float from, float v) {
      return std::fabs(v - from) <= tolerance && v >= top - span;
    });
    for (int64_t i : flat) seen[size_t(i)] = std::max(seen[size_t(i)], Looked);
    if (int64_t(flat.size()) < ClippedPixelsAtLeast) continue;
    if (std::any_of(flat.begin(), flat.end(), [&](int64_t i) { return plane[size_t(i)] > top; })) continue;
    // The wall: the pixels two beyond the top (eight-neighbourhood steps).
    int32_t x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (int64_t i : flat) {
      x0 = std::min(x0, int32_t(i % w));
      x1 = std::max(x1, int32_t(i % w));
      y0 = std::min(y0, int32_t(i / w));
      y1 = std::max(y1, int32_t(i / w));
    }
    const int32_t bw = x1 - x0 + 5, bh = y1 - y0 + 5;
    std::vector<uint8_t> step(size_t(bw) * size_t(bh), 0);  // 1 the top, 2 one beyond, 3 two beyond
    for (int64_t i : flat) step[size_t((i / w - y0 + 2) * bw + (i % w - x0 + 2))] = 1;
    for (uint8_t from = 1; from <= 2; ++from)
      for (int32_t y = 0; y < bh; ++y)
        for (int32_t x = 0; x < bw; ++x) {
          if (step[size_t(y * bw + x)] != from) continue;
          for (int32_t j = std::max(y - 1, 0); j <= std::min(y + 1, bh - 1); ++j)
            for (int32_t i = std::max(x - 1, 0); i <= std::min(x + 1, bw - 1); ++i)
              if (step[size_t(j * bw + i)] == 0) step[size_t(j * bw + i)] = uint8_t(from + 1);
        }
    // No pixel beside the top stands above it, and those two beyond it lie a
    // wall's fall lower.
    std::vector<double> wall;
    bool beneath = true;
    for (int32_t y = 0; y < bh && beneath; ++y)
      for (int32_t x = 0; x < bw; ++x) {
        const int32_t ix = x + x0 - 2, iy = y + y0 - 2;
        const uint8_t at = step[size_t(y * bw + x)];
        if (at < 2 || ix < 0 || iy < 0 || ix >= w || iy >= h) continue;
        const int64_t i = int64_t(iy) * w + ix;
        if (!g.Valid(i)) continue;
        if (at == 2 && plane[size_t(i)] > top) {
          beneath = false;
          break;
        }
        if (at == 3) wall.push_back(plane[size_t(i)]);
      }
    if (!beneath || wall.empty() || !(Median(wall) <= top - CoreWallFall * height)) continue;
    for (int64_t i : flat) seen[size_t(i)] = InCore;
    cores.push_back({std::move(flat), top});
  }
  // The pixels at the clipping level that no top took: cores of their own
  // (when it stands clear of the noise).
  if (std::isfinite(clip) && clip > least)
    for (int64_t i = 0; i < int64_t(seen.size()); ++i) {
      if (seen[size_t(i)] == InCore || !g.Valid(i) || !IsClipped(plane[size_t(i)], clip)) continue;
      std::vector<int64_t> at = Region(g, i, seen, taken, [&](float, float v) { return IsClipped(v, clip); });
      for (int64_t k : at) seen[size_t(k)] = InCore;
      cores.push_back({std::move(at), clip});
    }
  return cores;
}

}  // namespace astrelon
