#pragma once
// Pixels that hold no star light (hot, warm and cold pixels, cosmic-ray tracks,
// warm columns, clumps, non-finite values), told from a star's however narrow;
// a connected set as one (each track pixel alone looks like star light).
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "kernels/alignment/float_point.h"

namespace astrelon {

// Pixels that hold no star light, each with its stand-in (blank: left out).
struct TForeignPixels {
  std::vector<TPixelXY> At;
  std::vector<float> StandIn;
  // The stand-in of pixel (x, y) when it is one of them.
  std::optional<float> Of(int32_t x, int32_t y) const {
    const auto k = std::find(At.begin(), At.end(), TPixelXY{x, y});
    return k == At.end() ? std::nullopt : std::optional(StandIn[size_t(k - At.begin())]);
  }
};

// Whether (x, y) may be the brightest pixel of a set of hit pixels, at a
// glance: a set's top when no neighbour is brighter and three of them, two
// side by side, stand four noise levels below it and within a quarter of its
// height above the lowest (a star's peak has light all around it; also at the
// image's edges); a lone hit when it stands four noise levels above all eight.
enum class THitTop { None, Pixel, Set };
THitTop HitTop(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y, double noise);
inline THitTop MayBeHit(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y,
                        double noise) {
  // A brighter neighbour, at a glance (the common case).
  if (x > 0 && y > 0 && x + 1 < width && y + 1 < height) {
    const float* p = plane.data() + size_t(y) * size_t(width) + size_t(x);
    if (p[-1] > *p || p[1] > *p || p[-width] > *p || p[width] > *p) return THitTop::None;
  }
  return HitTop(plane, width, height, x, y, noise);
}

// The set of hit pixels whose brightest is (x, y), with stand-ins; empty for
// star light. A run of five or more along a row or column is tried as one;
// else the set grown from (x, y) by the brightest pixel touching it, up to 16,
// at each size where it stands four noise levels above all pixels touching
// it. Each pixel must rise above what the pixels across it make of it by half
// its height (three quarters on a mosaic). On flat surroundings the mean of
// its neighbours stands in (a set within 2 x 2 pixels only beside a wider
// star); else the star fitted without it, which must fall short of it by 0.28
// of its height (0.12 for a line beside it) and of the pixels around by less.
TForeignPixels HitPixels(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y,
                         double noise, bool mosaic);

// The pixels around a star's peak pixel (x, y) that are no star light:
// non-finite values, cold pixels (ten noise levels below their neighbours:
// star light has no pit; left out), the `known` hit pixels, and sets that the
// star fitted without them and the `others` (other stars' light) falls short
// of as HitPixels tells. Around a saturated star's clipped top only
// non-finite values. The star fitted without them stands in.
TForeignPixels ForeignPixels(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y,
                             double noise, float top, bool mosaic, const TForeignPixels& known = {},
                             std::span<const TPixelXY> others = {});

}  // namespace astrelon
