#pragma once
// The worker threads of the colour-mosaic interpolation. The workers share the
// rows of a stage (worker k of n the rows k, k + n, k + 2n, ..., or chunks of
// rows as they ask for them, TRowDealer) and write only their rows of the
// result. A method runs in stages: every worker finishes a stage before any
// begins the next, and the method's work between two stages runs
// once, as soon as the slowest worker has finished (a barrier, no polling). The
// calling thread keeps the user interface live while the workers run; the rows
// of a worker whose thread cannot be started are done by the calling thread, so
// every row is written exactly as with any other number of workers.
#include <algorithm>
#include <atomic>
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

// Rows of a stage handed out in chunks of consecutive rows as the workers ask
// for them: a worker that the system lets run takes more rows, one that waits
// for a processor holds up no one. Each row is computed the same way whoever
// takes it. The rows first, first + 1, .. last; Take is safe from any thread.
class TRowDealer {
public:
  TRowDealer(int32_t first, int32_t last, int32_t chunk = 8) : first_(first), last_(last), chunk_(chunk) {}
  // Calls fn(y) for every row of the chunks this caller takes.
  template <class F>
  void Take(F&& fn) {
    for (int32_t c = next_.fetch_add(1); int64_t(c) * chunk_ + first_ <= last_; c = next_.fetch_add(1))
      for (int32_t y = first_ + c * chunk_; y <= std::min(last_, first_ + (c + 1) * chunk_ - 1); ++y) fn(y);
  }

private:
  int32_t first_, last_, chunk_;
  std::atomic<int32_t> next_{0};
};

// Runs the method on `blocks.size()` workers (block k carries index k and the
// count), each a TCCDInterpolThread. An exception in a worker or between stages
// is rethrown after every worker has ended.
void RunMosaicWorkers(std::span<TMosaicWorkerBlock> blocks, const TMosaicWorkerMethod& method);

// Workers for a result of `height` rows: 1 when the "Multicores" option is off
// or the height is 80 or less, else the processor count.
int32_t MosaicWorkerCount(int32_t height);

}  // namespace astrelon
