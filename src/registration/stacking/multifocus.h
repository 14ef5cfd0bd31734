#pragma once
// Focus stacking: photographs of one scene focused at different depths merged
// into one image in which every part comes from the frames where it is sharp.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace astrelon {

class TMasterProgress;

// Weight of a neighbour at (dx, dy), |dx|, |dy| <= 10: 1 / (dx² + dy² + 1).
constexpr int MultifocusReach = 10;
constexpr int MultifocusSpan = 2 * MultifocusReach + 1;
float MultifocusWeight(int dx, int dy);

// Sharpness of one plane of w x h values: q starts at `base` everywhere; every
// inner pixel (not on the outer border) with a valid value v and
// m = max |u - v| over the valid u of its 3 x 3 neighbourhood, minus 4 sigma,
// above 0 spreads w(dx, dy) m over the (2r + 1)² window around it (inside the
// image), r = round(log10(m / base)) limited to 1..10. Each output row is summed
// from its sources in raster order, so the result does not depend on the
// number of threads.
void MultifocusSharpness(std::span<const float> plane, int32_t w, int32_t h, float sigma, float base,
                         std::span<float> q, int threads);

// Merges the files into a new slot: each pixel is the mean of the frames'
// values weighted by their sharpness. The result is written as FITS under
// `name` (given the FITS extension; an existing file only when the overwrite
// question is confirmed) and stays open. Returns the result slot, -1 when
// nothing was made (fewer than 2 files, nothing loadable, aborted, no slot).
int BuildMultifocusImage(const std::vector<std::string>& files, std::string& name, TMasterProgress& progress);

}  // namespace astrelon
