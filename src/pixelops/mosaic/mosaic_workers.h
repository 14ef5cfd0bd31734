#pragma once
// The worker threads of the colour-mosaic interpolation. Worker k of n takes the
// rows k, k + n, k + 2n, ... of its method's row range and writes only those
// rows of the result. A method runs in stages: every worker finishes a stage
// before any begins the next, and the method's work between two stages runs
// once, as soon as the slowest worker has finished (a barrier, no polling). The
// calling thread keeps the user interface live while the workers run; the rows
// of a worker whose thread cannot be started are done by the calling thread, so
// every row is written exactly as with any other number of workers.
#include <cstdint>
#include <functional>
#include <span>

#include "pixelops/mosaic/mosaic_interpolation_stage.h"

namespace astrelon {

// What one worker is given.
struct TMosaicWorkerBlock {
  const TMosaicStage* Job = nullptr;  // slots, method, noise, multipliers, offsets, row mask
  int32_t Index = 0;                  // k
  int32_t Count = 1;                  // n, the row step of every worker
  float Minimum = 0;                  // a method's own result of a stage (the smallest value it wrote)
};

// A method's stages: Stage(block, s) runs stage s (1 .. Stages) on the block's
// rows; Between(s, blocks), when set, runs after stage s (not after the last)
// with every block.
struct TMosaicWorkerMethod {
  int32_t Stages = 1;
  std::function<void(TMosaicWorkerBlock& block, int32_t stage)> Stage;
  std::function<void(int32_t stage, std::span<TMosaicWorkerBlock> blocks)> Between;
};

// Runs the method on `blocks.size()` workers (block k carries index k and the
// count), each a TCCDInterpolThread. An exception in a worker or between stages
// is rethrown after every worker has ended.
void RunMosaicWorkers(std::span<TMosaicWorkerBlock> blocks, const TMosaicWorkerMethod& method);

// Workers for a result of `height` rows: 1 when the "Multicores" option is off
// or the height is 80 or less, else the processor count.
int32_t MosaicWorkerCount(int32_t height);

}  // namespace astrelon
