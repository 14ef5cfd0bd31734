#pragma once
// The Laplacian pyramid of the wavelet noise filter. Built from a rectangle of
// an image's planes, levels 0 .. L-1 hold detail layers (level 0 the finest, at
// full resolution) and level L the residual, the rectangle reduced L times; a
// level is (w+1)/2 x (h+1)/2 of the one before. Rebuilding adds each detail
// layer, times its gain, to the expanded coarser image, into the destination.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "frequency/wavelet/wavelet_resample.h"
#include "store/image_store.h"

namespace astrelon {

inline constexpr int PyramidMaxLevels = 4;  // detail layers; levels 0..4
inline constexpr int PyramidSetCount = 1;

struct TPyramidLevel {
  int32_t Width = 0;
  int32_t Height = 0;
  float Min = 0;
  float Max = 0;
  std::vector<float> Data;  // row-major
  TPlaneView View() { return {Data.data(), Width, Height, Width}; }
};

struct TPyramidSet {
  int32_t Width = 0;       // of the rectangle it was built from
  int32_t Height = 0;
  int32_t PlaneCount = 0;  // of the source slot
  int32_t LevelCount = 0;
  TRectI Rect;             // the rectangle it was built from
  // The planes that were built (the source's channel selection then).
  std::array<bool, 4> Built{};
  // Levels[plane][level], planes 1..3.
  std::array<std::array<TPyramidLevel, PyramidMaxLevels + 1>, 4> Levels;
  // The rebuilt coarser images of a rebuild, kept for the next one (the larger
  // a quarter of the rectangle).
  std::array<TPlane, 2> Rebuilt;
};

// The sets; the dialog and the batch use set 0.
extern std::array<TPyramidSet, PyramidSetCount> PyramidSets;

// Builds the set from the rectangle (inclusive, inside the image) of every
// selected plane of the source with `levels` (1..4) reductions. False (the set
// emptied) for a bad slot, set, level count or rectangle.
bool BuildPyramid(int source, int set, int levels, const TRectI& rect);

// Rebuilds one plane of the destination inside the rectangle from the set's
// levels: for l = L down to 1, level l (the residual, then the image rebuilt in
// the step before) is expanded to level l-1's size and added to detail layer l-1
// times gains[l-1]; the last step writes the rectangle. A plane that was not
// built, or a rectangle of another size than the set's, changes nothing.
void CollapsePyramid(int set, int destination, int plane, int levels, std::span<const float> gains,
                     const TRectI& rect);

// Empties every level of planes 1 to 3.
void FreePyramid(int set);

// The minimum and maximum of a level's valid values; 0 and 1 when it has none.
void UpdateLevelRange(int set, int plane, int level);

// Threads for a level of this many pixels (one without "Multicores").
int PyramidThreads(int64_t pixels);

}  // namespace astrelon
