#pragma once
// The interpolation of the colour-mosaic conversion on worker threads: the
// border pass of the method, its workers stage by stage, and for the linear
// method the crop by one pixel on each side.
#include <cstdint>

#include "pixelops/mosaic/mosaic_interpolation_stage.h"

namespace astrelon {

// Width of the frame that the border pass fills before a method's workers:
// 2 for methods 1 and 3, 3 for method 4, 4 for method 5; 0 (no pass) otherwise.
int32_t MosaicBorderMargin(int32_t method);

// Methods 0, 1, 3 and 4 on `workers` workers (rows k, k + workers, ... each); the
// result is the same for every number of workers. False for other methods.
bool InterpolateMosaic(const TMosaicStage& stage, int32_t workers);

// The stage routine of those methods: InterpolateMosaic on MosaicWorkerCount workers.
bool InterpolateMosaicOnWorkers(const TMosaicStage& stage);

}  // namespace astrelon
