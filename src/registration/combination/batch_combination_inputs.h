#pragma once
// What a batch run hands the two-image combination: the coverage-weighted add
// (flag, per-pixel weights, frames added so far), the multi-star fit used when
// more than two point pairs are given (BatchFittedTransform, declared with the
// point-pair transform's kernels) and its local shift grid. The batch fills
// them; the combination reads them and updates the coverage weights.
#include <atomic>
#include <cstdint>
#include <vector>

#include "registration/stacking/stack_alignment.h"

namespace astrelon {

// The run adds frames with coverage weights.
extern std::atomic<uint8_t> BatchWeightedAdd;
// One weight per pixel and plane, plane-major: ((p - 1) * height + y) * width +
// x.
extern std::vector<float> BatchCoverageWeights;
// Frames added to the target so far.
extern int32_t BatchAddedCount;
// The weight of the frame being added (1 full): its samples and their
// coverage count that much in the weighted add.
extern float BatchFrameWeight;
// The local shift field of the multi-star alignment.
extern TShiftGrid BatchShiftGrid;

}  // namespace astrelon
