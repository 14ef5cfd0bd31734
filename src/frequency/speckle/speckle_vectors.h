#pragma once
// The frequency shift vectors of the speckle accumulation: a half plane of
// vectors inside an ellipse whose half axes follow the seeing, at most 249 of
// them, the three unit vectors first and the short vectors (2, 0), (0, ±2),
// (1, ±1) always among them.
#include <array>
#include <cstdint>

namespace astrelon {

struct TShiftVectors {
  static constexpr int32_t Capacity = 249;
  // Vector u = 1 .. Total in Dx[u], Dy[u] (index 0 unused); the regular
  // vectors come first, the added short vectors after them.
  std::array<int16_t, Capacity + 1> Dx{}, Dy{};
  int32_t Regular = 0;
  int32_t Total = 0;
  // The half axes the list was built from (raised to 1, scaled down when the
  // ellipse holds too many vectors).
  float Rx = 1, Ry = 1;
};

// Half axes of the vector ellipse for a region of w × h pixels and the seeing
// value s: the region's even transform lengths plus one, divided by max(s, 2).
struct THalfAxes {
  float Rx = 1, Ry = 1;
};
THalfAxes SpeckleHalfAxes(int32_t w, int32_t h, double seeing);

// The vector list of the ellipse with half axes rx, ry.
TShiftVectors BuildShiftVectors(float rx, float ry);

// Vectors 4 .. Total sorted by (dx/Rx)² + (dy/Ry)², smallest first; equal keys
// keep their order; vectors 1..3 stay.
void SortShiftVectors(TShiftVectors& v);

}  // namespace astrelon
