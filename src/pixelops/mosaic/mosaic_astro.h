#pragma once
// "Bayer, astro" of the colour-mosaic conversion: green at the red and blue
// sites by the four-tap half-step interpolation (-3, 35, 35, -3)/64 along the
// row and the column, mixed by how smooth each is; then red and blue from
// weighted colour ratios against an offset below every green.
#include "pixelops/mosaic/mosaic_workers.h"

namespace astrelon {

// Method 4 for the workers: two stages; between them the offset is taken from
// the smallest green written by any worker and the source's minimum, so that the
// result does not depend on the number of workers.
TMosaicWorkerMethod AstroMosaicMethod(const TMosaicStage& job);

}  // namespace astrelon
