#pragma once
// Edge-preserving noise filter ("Rauschfilter"): every pixel becomes a weighted
// mean of its neighbours within a round window of up to 15 pixels, weighted by
// distance and by how close a neighbour's value on a guide plane is to the
// centre's. Both weight profiles mix a Gaussian and a Cauchy curve.
#include <array>
#include <cstdint>
#include <span>

#include "kernels/gauss/filter_poll.h"
#include "store/image_store.h"

namespace astrelon {

// The weights of one run.
struct TNoiseFilterTables {
  // Range weights by scaled difference i: (1 - c) e^(-(0.04 i)^2) + c / (1 + (i/16)^2).
  std::array<float, 256> Range{};
  // Spatial weights by distance j in tenths of a pixel:
  // (1 - c) e^(-(j/(10 r))^2) + c / (1 + (j/(6.4 r))^2), 0 beyond 100 r.
  std::array<float, 256> Spatial{};
  int32_t Cutoff = 150;      // the first j with a spatial weight below 0.05, at most 150
  int32_t Reach = 15;        // the window's half width in pixels: Cutoff div 10
  float RangeScale = 0;      // k = 7 / (threshold + 0.001): difference to range index
  float MaxDifference = 0;   // differences below this take part: Cutoff * threshold / 7, rounded
};

// The weights for a threshold (image units), a radius (pixels) and a Cauchy
// fraction c (0..1, clamped).
TNoiseFilterTables NoiseFilterTables(float threshold, float radius, float cauchy);

// Distance of an offset in tenths of a pixel, rounded.
int32_t NoiseFilterDistance(int32_t dx, int32_t dy);

struct TNoiseFilterPlanes {
  std::span<const float> Guide;                   // similarity is measured here
  std::array<std::span<const float>, 3> Source;   // the filtered planes (Count of them)
  std::array<std::span<float>, 3> Destination;    // the same sizes, not the sources
  int32_t Count = 1;
  int32_t Width = 0, Height = 0;
  TWorkRect Rect;                                 // inclusive, inside the planes
};

// Filters the rectangle: a pixel whose guide value g0 is valid takes, in each
// plane, sum(w v) / sum(w) over the neighbours within the cut-off distance
// whose guide value g is valid with |g - g0| below the largest difference and
// whose value v in that plane is valid, w = range weight of |g - g0| k times
// spatial weight; the source value when no weight is left. Pixels whose guide
// value is blank are not written. `vector` takes the SSE2 or AVX2 loops, which
// give the bits of the scalar ones. False when the poll stopped the run.
bool NoiseFilterPlanes(const TNoiseFilterPlanes& planes, const TNoiseFilterTables& tables, bool vector,
                       TFilterPoll* poll);

// The noise filter of `source` into `destination` (a copy of it) inside
// `rect`: a one-plane image filters its plane on itself; a colour image filters
// the destination's selected channels, guided by plane 1 of FilterBlurSlot when
// that slot holds an image of the same size, else by the green plane (RGB) or
// plane 1 (YUV). `threshold` is in image units, `radius` in pixels, `cauchy`
// 0..1. Clears FilterAborted, and sets it and returns false when the abort flag
// stopped the run.
bool ApplyNoiseFilter(int source, int destination, float threshold, float radius, float cauchy,
                      const TWorkRect& rect, TFilterPoll& poll);

}  // namespace astrelon
