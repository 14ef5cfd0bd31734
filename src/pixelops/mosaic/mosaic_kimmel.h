#pragma once
// "Bayer, modified Kimmel": green by edge-weighted neighbours (with a choice
// between the horizontal and vertical green by line variances at strong edges),
// red and blue from weighted colour differences, then up to seven refinement
// passes over the pixels that took part in strong edges.
#include "pixelops/mosaic/mosaic_workers.h"

namespace astrelon {

TMosaicWorkerMethod KimmelMosaicMethod(const TMosaicStage& job);

}  // namespace astrelon
