#pragma once
// Coloured edges removed: the red and blue planes rebuilt as green plus the
// local median of their difference to green.
#include <cstdint>

namespace astrelon {

// For planes 1 and 3 of `destination`, every pixel of the rectangle (clipped to
// the image) whose destination plane 2 is valid becomes the median (Percentile
// 0.5) of S_p - D_2 over the offsets -2..2 with |dx| + |dy| < r that lie inside
// the rectangle and where both are valid, plus D_2 at the pixel; a pixel
// without such an offset stays. Source and destination are three-plane images
// of one size; the destination is usually a copy of the source. Rows run in bands on all cores; `vector` takes the
// eight-pixel path for full windows where the processor has it (same bits).
void RemoveColourFringes(int source, int destination, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t r,
                         bool vector = true);

}  // namespace astrelon
