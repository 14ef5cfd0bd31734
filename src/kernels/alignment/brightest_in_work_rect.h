#pragma once
// The brightest pixel (or brightest small box) of the working rectangle.
#include <cstdint>

namespace astrelon {

struct TBrightestInRect {
  int32_t BrightestX = 0, BrightestY = 0;  // image coordinates
  double BrightestValue = 0;               // mean of the box's valid pixels; -1e9 without any
};

struct TImageSlot;

// Clips the working rectangle to the slot's image in place (x1, y1 not below 0,
// x2, y2 not beyond the last column and row).
void ClipWorkRect(const TImageSlot& im);

// Clips the working rectangle to the slot's image in place (x1, y1 not below 0,
// x2, y2 not beyond the last column and row) and finds the (2 radius + 1)-square
// box of the plane with the brightest mean inside it (FindBrightestPixel, whole
// rectangle searched). A rectangle without pixels of the plane gives its corner
// (inside the image) and -1e9.
TBrightestInRect FindBrightestInWorkRect(int slot, int plane, int32_t radius);

}  // namespace astrelon
