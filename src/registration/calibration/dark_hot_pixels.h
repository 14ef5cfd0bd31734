#pragma once
// Hot pixels of a dark frame and their repair in the image the dark was
// subtracted from. A dark pixel is hot when it exceeds the mean of the two
// smallest of its same-colour cells (offsets -2, 0, +2 in both directions,
// itself included) by more than an offset; the image pixel there then takes the
// median of its usable neighbours.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

struct THotDarkPixel {
  int32_t X = 0, Y = 0;
  float Threshold = 0;  // (m1 + m2) / 2 + offset; usable neighbours lie below it
};

// The hot pixels of row y of a dark plane (row-major, `width` values a row)
// between columns x1 and x2, appended to `out` from left to right. Rows y - 2 ..
// y + 2 and columns x1 - 2 .. x2 + 2 must lie inside the plane. `vector` takes
// the eight-wide path where the processor has it; both paths find the same
// pixels with the same thresholds.
void FindHotDarkPixelsInRow(std::span<const float> dark, int32_t width, int32_t y, int32_t x1, int32_t x2,
                            float offset, std::vector<THotDarkPixel>& out, bool vector);

// The hot pixels of rows y1..y2, columns x1..x2 in scan order; rows run in bands.
std::vector<THotDarkPixel> FindHotDarkPixels(std::span<const float> dark, int32_t width, int32_t y1, int32_t y2,
                                             int32_t x1, int32_t x2, float offset, bool vector, int threads);

// Repairs the image plane (row-major, `width` values a row) at the hot pixels in
// their order, so that a repaired pixel is already a neighbour of the later
// ones. A blank image pixel stays blank; with `blankHot` (the batch's Bayer
// mode) a hot pixel becomes blank. Otherwise the values gathered are those of
// neighbours whose dark value is valid and below the threshold and whose image
// value is valid: without a mosaic (phase < 0) the four direct neighbours (up,
// left, right, down); with fewer than three and either no mosaic or a green
// site ((x + y) mod 2 = phase) the four diagonal ones; with none the eight
// same-colour cells two pixels away. Their median replaces the pixel; without
// any it keeps its value.
void RepairHotPixels(std::span<float> image, int32_t width, std::span<const float> dark, int32_t darkWidth,
                     std::span<const THotDarkPixel> hot, int phase, bool blankHot);

}  // namespace astrelon
