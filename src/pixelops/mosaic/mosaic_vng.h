#pragma once
// "Bayer Pattern, V.N.G. Color correction" of the colour-mosaic conversion:
// green at the red and blue sites from the colour ratios along the directions of
// small gradient (eight directions over the 5 x 5 neighbourhood), then red and
// blue from weighted colour differences.
#include "pixelops/mosaic/mosaic_workers.h"

namespace astrelon {

// Method 1 for the workers: two stages; between them the destination's minimum
// and maximum are recomputed.
TMosaicWorkerMethod VngMosaicMethod(const TMosaicStage& job);

}  // namespace astrelon
