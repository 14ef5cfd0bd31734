#pragma once
// Edges and centre of a bright round body (sun, moon, planet) inside the
// working rectangle.
#include <cstdint>

namespace astrelon {

struct TBrightDisc {
  // First column or row outside the disc on each side, after the sub-pixel shift.
  double LeftEdge = 0, RightEdge = 0, TopEdge = 0, BottomEdge = 0;
  // Midpoints of the edges, after the sub-pixel shift.
  float CentreX = 0, CentreY = 0;
  // The brightest 3 x 3 box of the rectangle, where the searches start.
  int32_t BrightestX = 0, BrightestY = 0;
  // 99, or 0 when a search ran into the rectangle's border (no disc there).
  double Quality = 99.0;
};

// The box radius of the brightest-pixel search that starts the disc search: a
// single hot pixel outside the disc does not win against the disc.
constexpr int32_t DiscStartBoxRadius = 1;

// Measures the disc on the slot's measuring plane (green of an RGB image, else
// plane 1) inside the working rectangle, which is clipped to the image. A line
// belongs to the disc when enough of its pixels reach the threshold: 30 % of
// the way from the background (5 % level) to the image maximum, or the batch's
// disc threshold (percent) while a batch runs with one. Lowers MatchQuality to
// the disc's quality.
TBrightDisc FindBrightDisc(int slot);

}  // namespace astrelon
