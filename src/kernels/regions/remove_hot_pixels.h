#pragma once
// Removal of stray pixels (hot pixels, cosmic-ray hits, dead pixels): a pixel
// that stands out from its eight neighbours by more than their spread and the
// plane's noise is replaced by a value predicted from them.
#include <cstdint>
#include <span>

namespace astrelon {

// Works in place on the selected channels of the slot inside the inclusive
// rectangle, limited to 1 .. width - 2 and 1 .. height - 2 so that border pixels
// never change. factor 3.0 is the normal strength, 1.5 the stronger one; the
// neighbours' spread counts factor / 1.5 times. Each plane is scanned row by
// row, so a replaced pixel is already the neighbour of the pixels after it;
// the planes run side by side, each scanned in bands of rows on its share of
// the threads.
void RemoveHotPixels(int slot, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float factor);

// The scan of one plane (row-major, w x h) over x1..x2, y1..y2, which must lie
// inside 1 .. w - 2, 1 .. h - 2. `vector` takes the sixteen- or eight-wide
// path (at most maxLanes) where the processor has it. threads > 1 scans bands of
// rows side by side and then settles each band on the final rows above it. Every
// path and thread count gives the pixels of the one-pixel scan.
void RemoveHotPixelsPlane(std::span<float> plane, int32_t w, int32_t h, int32_t x1, int32_t x2, int32_t y1, int32_t y2,
                          float factor, float noise, bool vector, int threads = 1, int maxLanes = 16);

}  // namespace astrelon
