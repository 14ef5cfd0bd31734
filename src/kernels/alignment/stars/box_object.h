#pragma once
// The object a box holds: the one whose light makes the box's brightest place.
// From that place the search goes uphill to the object's own peak, which may
// lie a pixel or a few beyond the box's edge when a star sits just outside a
// loosely drawn box or moved since the last image; another object of the
// surroundings whose light does not make the box's brightest place is never
// reached. A rectangle of a pixel or two across is a point, around which the
// star is searched.
#include <cstdint>
#include <optional>
#include <span>

#include "store/image_store.h"

namespace astrelon {

// At least 3 x 3 pixels: a box.
constexpr bool ConfiningBox(const TWorkRect& r) { return r.x2 - r.x1 >= 2 && r.y2 - r.y1 >= 2; }

constexpr bool InBox(const TWorkRect& r, int32_t x, int32_t y) {
  return x >= r.x1 && x <= r.x2 && y >= r.y1 && y <= r.y2;
}

// How the climb smooths the pixels it steps on: the plain mean of the 3 x 3
// window (small, so that two stars a few pixels apart stay two hills), or on
// an undebayered colour mosaic the 3 x 3 window weighted 1-2-1 along both
// axes, which gives each site of a 2 x 2 pattern a quarter of the weight
// wherever it is centred, so that no white balance makes a site a peak.
enum class TClimbWindow { Mean, MosaicSites };

struct TClimbedPeak {
  int32_t X = 0, Y = 0;
  double Value = 0;  // the window's value there
};

// From (x, y) to the neighbouring window (of the eight) with the largest value
// while that value is larger, on the valid pixels of the image. nullopt when
// the climb would leave `reach` pixels around the start (an object that large
// is not one the box holds) or the start has no valid pixel.
std::optional<TClimbedPeak> ClimbToPeak(std::span<const float> plane, int32_t width, int32_t height, int32_t x,
                                        int32_t y, TClimbWindow window, int32_t reach);

// The peak of the object a box holds, climbing from the box's brightest place
// (x, y). When no object stands there (the window there less than `least`
// above `background`: noise), an object whose light reaches the box from just
// outside makes the brightest window centred on the box's outer pixels
// (reading the pixels just beyond); when that one stands out it is climbed
// from there. Otherwise the climb from (x, y), whatever it found, or nullopt
// as for ClimbToPeak.
std::optional<TClimbedPeak> BoxObjectPeak(std::span<const float> plane, int32_t width, int32_t height,
                                          const TWorkRect& box, int32_t x, int32_t y, TClimbWindow window,
                                          double background, double least, int32_t reach);

// The brightest pixel of the object's top around a climbed window (x, y):
// the brightest valid pixel of the 3 x 3 window, then uphill pixel by pixel
// to where no neighbour is brighter (at most `reach` steps).
void ClimbToPeakPixel(std::span<const float> plane, int32_t width, int32_t height, int32_t reach, int32_t& x,
                      int32_t& y);

// The mean of the valid pixels of the square window of `radius` around
// (x, y), cut to the image (the box search's measure of a place); a blank
// value when it holds none.
double WindowMean(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y, int32_t radius);

}  // namespace astrelon
