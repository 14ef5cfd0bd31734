#pragma once
// The non-local-means computation of one plane over a band of columns. Every
// output pixel is a weighted mean of the pixels in a search window around it;
// a neighbour's weight falls with the distance between the patch around it and
// the patch around the output pixel, taken on the plane's 16-bit copy.
//
// For a pixel (x, y) with patch half sizes rx = min(r, x, W-1-x) and
// ry = min(r, y, H-1-y), c = (2rx+1)(2ry+1) patch pixels, and every offset
// (dx, dy) != (0, 0) within the search radius whose shifted patch lies inside
// the image:
//   D  = sum over the patch of the squared differences of the 16-bit copies
//        (an exact integer),
//   e  = D f k(dx, dy), f = 81.915 / (c scale^2 h), k = 1 or, with spatial
//        weighting, e^((dx^2 + dy^2) / R^2),
//   w  = T(e rounded) when e <= 2040, else the neighbour is left out,
//        T(i) = e^(-i / 81.915);
//   blank neighbours are left out too. The centre weighs w0 = T(f Dmin rounded)
//   (Dmin the smallest distance over the offsets, 1.53e-11 beyond 2040), and
//   the result is (sum w v + w0 v0) / (sum w + w0), the centre value itself when
//   no neighbour is left. A blank centre, or a destination pixel that is blank,
//   is not written. The sums over the offsets run in the order of the offsets
//   (rows dy = -R..R, in each dx = -R..R), in single precision, on every path.
#include <array>
#include <cstdint>
#include <span>

namespace astrelon {

constexpr int32_t NlmTableSize = 2042;
constexpr float NlmSmallestCentreWeight = 1.53e-11f;

// T(i) = e^(-i / 81.915), i = 0..2041.
const std::array<float, NlmTableSize>& NlmWeightTable();

struct TNlmPlaneJob {
  std::span<const float> Source;     // the working source plane, Width x Height
  std::span<const uint16_t> Levels;  // its 16-bit copy
  std::span<float> Destination;      // Width x Height, written inside the band
  int32_t Width = 0, Height = 0;
  int32_t Y1 = 0, Y2 = 0;            // rows (inclusive)
  int32_t PatchRadius = 2;           // r, 1..5
  int32_t SearchRadius = 7;          // R, 2..12
  int32_t MaxLevel = 13000;          // the copies' largest level
  float Scale = 1;                   // levels per image unit
  double H = 1;                      // the plane's filter strength h (> 0)
  bool SpatialWeighting = false;
};

// Filters columns x0..x1 (inclusive) of rows Y1..Y2 into the destination.
// `vector` takes the AVX2 loops where the processor has them; they give the
// bits of the scalar ones, and every pixel comes out the same whatever the
// columns asked for.
void NlmFilterColumns(const TNlmPlaneJob& job, int32_t x0, int32_t x1, bool vector);

}  // namespace astrelon
