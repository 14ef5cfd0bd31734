#pragma once
// Median filter ("Medianfilter") over nine round footprints of 5 to 69 pixels,
// with a centre weighting that pulls the result towards the centre value as if
// the centre were counted several times. Blank pixels take no part and stay.
#include <array>
#include <cstdint>
#include <span>

#include "kernels/gauss/filter_poll.h"
#include "store/image_store.h"

namespace astrelon {

// A round footprint: its pixel count, the vertical half height and, per row
// distance |dy| = 0..4 from the centre, the horizontal half width.
struct TMedianFootprint {
  int32_t Pixels = 0;
  int32_t HalfHeight = 0;
  std::array<int32_t, 5> HalfWidth{};
};

// Footprint 1..9 (any other index is clamped into that range).
const TMedianFootprint& MedianFootprint(int32_t index);
// The footprint index for a requested pixel count (5, 9, 13, 21, 29, 37, 45,
// 57, 69 give 1..9; other counts the nearest below, clamped to 1..9).
int32_t MedianFootprintIndex(int32_t pixelCount);

struct TMedianPlane {
  std::span<const float> Source;  // Width x Height values
  std::span<float> Destination;   // the same size, not the source
  int32_t Width = 0, Height = 0;
  TWorkRect Rect;                 // inclusive, inside the plane
};

// Filters the rectangle of one plane: every pixel whose source value c is
// valid gets the median of the valid source pixels of the footprint around it
// (clipped at the image edges), moved towards c by a centre weight above 1.
// `vector` takes the SSE2 or AVX2 sorting networks, which give the bits of the
// scalar path. False when the poll stopped the run.
bool MedianFilterPlane(const TMedianPlane& plane, int32_t footprint, int32_t centreWeight, bool vector,
                       TFilterPoll* poll, int planeIndex);

// Median filter of `source` into `destination` (a copy of it) inside `rect`, on
// the destination's selected channels. Clears FilterAborted, and sets it and
// returns false when the abort flag stopped the run.
bool ApplyMedianFilter(int source, int destination, int32_t pixelCount, int32_t centreWeight, const TWorkRect& rect,
                       TFilterPoll& poll);

}  // namespace astrelon
