#include "filters/sharpening/cores/clipped_cores.h"

#include <algorithm>
#include <cmath>

#include "filters/sharpening/cores/clipping_level.h"
#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

// Seen marks: 0 not yet, 2 in a core.
constexpr uint8_t InCore = 2;
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

// The flat tops of a plane (grid G) whose pixels Seen does not mark as a
// core's yet, highest first: regions of at least `least` pixels (see the
// header), each with its wall, marked in Seen. With `steps` false a top is all
// the pixels less than a wall's fall below it (4-connected), however they
// step, and `aside` (not null) takes the tops unmarked instead.
struct TFlatTops {
  const TPlaneGrid& G;
  float Background = 0, Noise = 0;
  std::vector<uint8_t>& Seen;
  std::vector<uint8_t> Taken;

  std::vector<TClippedCore> Find(int64_t least, bool steps, std::vector<TClippedCore>* aside = nullptr) {
    std::vector<TClippedCore> cores;
    const int32_t w = G.W, h = G.H;
    const std::span<const float> plane = G.V;
    Taken.assign(Seen.size(), 0);
    std::vector<uint8_t> looked(Seen.size(), 0);
    // The local tops high enough above the background, highest first.
    const float lowest = Background + std::max(LeastTop * Noise, 0.0f);
    std::vector<int64_t> tops;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const int64_t i = int64_t(y) * w + x;
        if (G.Valid(i) && plane[size_t(i)] > lowest && Seen[size_t(i)] != InCore && LocalTop(G, x, y))
          tops.push_back(i);
      }
    std::stable_sort(tops.begin(), tops.end(),
                     [&](int64_t a, int64_t b) { return plane[size_t(a)] > plane[size_t(b)]; });
    for (int64_t seed : tops) {
      if (looked[size_t(seed)] != 0 || Seen[size_t(seed)] == InCore) continue;
      const float top = plane[size_t(seed)], height = top - Background;
      const float tolerance = CoreFlatness * height, span = (steps ? CoreSpan : CoreWallFall) * height;
      // Where the noise could reach across the tolerance, any top may look flat.
      if (tolerance < CoreNoiseRoom * Noise) continue;
      std::vector<int64_t> flat = Region(G, seed, Seen, Taken, [&](float from, float v) {
        return (!steps || std::fabs(v - from) <= tolerance) && v >= top - span;
      });
      for (int64_t i : flat) looked[size_t(i)] = 1;
      if (int64_t(flat.size()) < least) continue;
      if (std::any_of(flat.begin(), flat.end(), [&](int64_t i) { return plane[size_t(i)] > top; })) continue;
      if (!Walled(flat, top, height)) continue;
      TClippedCore core{std::move(flat), top};
      if (aside) {
        aside->push_back(std::move(core));
        continue;
      }
      for (int64_t i : core.Pixels) Seen[size_t(i)] = InCore;
      cores.push_back(std::move(core));
    }
    return cores;
  }

  // No pixel beside the top stands above it, and those two beyond it lie a
  // wall's fall lower (their median; eight-neighbourhood steps).
  bool Walled(const std::vector<int64_t>& flat, float top, float height) const {
    const int32_t w = G.W, h = G.H;
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
    std::vector<double> wall;
    for (int32_t y = 0; y < bh; ++y)
      for (int32_t x = 0; x < bw; ++x) {
        const int32_t ix = x + x0 - 2, iy = y + y0 - 2;
        const uint8_t at = step[size_t(y * bw + x)];
        if (at < 2 || ix < 0 || iy < 0 || ix >= w || iy >= h) continue;
        const int64_t i = int64_t(iy) * w + ix;
        if (!G.Valid(i)) continue;
        if (at == 2 && G.V[size_t(i)] > top) return false;
        if (at == 3) wall.push_back(G.V[size_t(i)]);
      }
    return !wall.empty() && Median(wall) <= top - CoreWallFall * height;
  }
};

// Whether a top holds a pixel that, along its row or its column, pixels of
// the top standing more than `dip` above it flank on both sides (each reached
// through pixels of the top): an interior lower than its rim, which no
// unclipped star, disc or galaxy top holds (their sections rise to one peak).
bool Dipped(const TPlaneGrid& g, const std::vector<int64_t>& top, float dip) {
  std::vector<int64_t> sorted = top;
  std::sort(sorted.begin(), sorted.end());
  auto in = [&](int64_t i) { return std::binary_search(sorted.begin(), sorted.end(), i); };
  // Whether, stepping by `step` from i while `inside` holds, a pixel of the
  // top stands above v.
  auto higher = [&](int64_t i, int64_t step, int32_t count, float v) {
    for (int32_t k = 0; k < count; ++k) {
      i += step;
      if (!in(i)) return false;
      if (g.V[size_t(i)] > v) return true;
    }
    return false;
  };
  for (int64_t i : top) {
    const int32_t x = int32_t(i % g.W), y = int32_t(i / g.W);
    const float v = g.V[size_t(i)] + dip;
    if ((higher(i, -1, x, v) && higher(i, 1, g.W - 1 - x, v)) ||
        (higher(i, -g.W, y, v) && higher(i, g.W, g.H - 1 - y, v)))
      return true;
  }
  return false;
}

// Adds to a core (its pixels marked in `seen`) the pixels beside it (eight
// neighbours) standing at least `floor`, marking them.
void Widen(const TPlaneGrid& g, std::vector<int64_t>& core, std::vector<uint8_t>& seen, float floor) {
  for (size_t k = 0, n = core.size(); k < n; ++k) {
    const int32_t x = int32_t(core[k] % g.W), y = int32_t(core[k] / g.W);
    for (int32_t j = std::max(y - 1, 0); j <= std::min(y + 1, g.H - 1); ++j)
      for (int32_t i = std::max(x - 1, 0); i <= std::min(x + 1, g.W - 1); ++i) {
        const int64_t at = int64_t(j) * g.W + i;
        if (seen[size_t(at)] == InCore || !g.Valid(at) || g.V[size_t(at)] < floor) continue;
        seen[size_t(at)] = InCore;
        core.push_back(at);
      }
  }
}

// Whether every valid value of the plane is a whole number within 0..255.
bool EightBit(std::span<const float> plane) {
  for (float v : plane)
    if (IsValidPixel(v) && !(v >= 0 && v <= 255 && v == std::nearbyint(v))) return false;
  return true;
}

}  // namespace

std::vector<TClippedCore> FindClippedCores(std::span<const float> plane, int32_t w, int32_t h, float background,
                                           float noise, float clip) {
  std::vector<TClippedCore> cores;
  const TPlaneGrid g{plane, w, h};
  if (w < 1 || h < 1 || plane.size() < size_t(w) * size_t(h)) return cores;
  std::vector<uint8_t> seen(size_t(w) * size_t(h), 0), taken(seen.size(), 0);
  const float least = background + std::max(LeastTop * noise, 0.0f);
  auto add = [&](std::vector<TClippedCore> found) {
    for (TClippedCore& c : found) {
      for (int64_t i : c.Pixels) seen[size_t(i)] = InCore;
      cores.push_back(std::move(c));
    }
  };
  TFlatTops tops{g, background, noise, seen, {}};
  add(tops.Find(ClippedPixelsAtLeast, true));
  // Tops that an alignment's resampling left with a rim a few percent above
  // their interior, and a wall: each with the pixels beside it that stand less
  // than a wall's fall below its level.
  std::vector<TClippedCore> rimmed, small;
  tops.Find(SmallCorePixels, false, &rimmed);
  auto free = [&](const TClippedCore& core) {
    return std::none_of(core.Pixels.begin(), core.Pixels.end(), [&](int64_t i) { return seen[size_t(i)] == InCore; });
  };
  for (TClippedCore& core : rimmed) {
    const float height = core.Level - background;
    if (!free(core)) continue;
    if (!Dipped(g, core.Pixels, std::max(CoreFlatness * height, CoreNoiseRoom * noise))) {
      small.push_back(std::move(core));
      continue;
    }
    for (int64_t i : core.Pixels) seen[size_t(i)] = InCore;
    Widen(g, core.Pixels, seen, core.Level - CoreWallFall * height);
    cores.push_back(std::move(core));
  }
  // Where no value holds the plane's clipping level exactly (a stack), the
  // cores found show where it lies: small tops (fewer pixels, no dip) reaching
  // up to within CoreSpan of the lowest of their levels are cores too.
  if (!std::isfinite(clip) && !cores.empty()) {
    float lowest = HUGE_VALF;
    for (const TClippedCore& core : cores) lowest = std::min(lowest, core.Level - CoreSpan * (core.Level - background));
    for (TClippedCore& core : small) {
      if (core.Level < lowest || !free(core)) continue;
      const float floor = core.Level - CoreSpan * (core.Level - background);
      std::erase_if(core.Pixels, [&](int64_t i) { return plane[size_t(i)] < floor; });
      for (int64_t i : core.Pixels) seen[size_t(i)] = InCore;
      cores.push_back(std::move(core));
    }
  }
  // The pixels at the clipping level that no top took: cores of their own
  // (when it stands clear of the noise). On an 8-bit plane reaching within
  // EightBitRoom levels of 255, the band within EightBitRoom of its maximum,
  // and the pixels beside it standing less than a wall's fall below it (a
  // JPEG's compression leaves a clipped core a few levels below 255,
  // unevenly, and softens its edge).
  float from = clip;
  bool band = false;
  if (EightBit(plane)) {
    float top = -HUGE_VALF;
    for (float v : plane)
      if (IsValidPixel(v)) top = std::max(top, v);
    band = top >= 255 - EightBitRoom;
    if (band) from = std::min(from, top - EightBitRoom);
  }
  if (std::isfinite(from) && from > least)
    for (int64_t i = 0; i < int64_t(seen.size()); ++i) {
      if (seen[size_t(i)] == InCore || !g.Valid(i) || !IsClipped(plane[size_t(i)], from)) continue;
      std::vector<int64_t> at = Region(g, i, seen, taken, [&](float, float v) { return IsClipped(v, from); });
      float level = from;
      for (int64_t k : at) {
        seen[size_t(k)] = InCore;
        level = std::max(level, plane[size_t(k)]);
      }
      if (band) Widen(g, at, seen, level - CoreWallFall * (level - background));
      cores.push_back({std::move(at), level});
    }
  return cores;
}

}  // namespace astrelon
