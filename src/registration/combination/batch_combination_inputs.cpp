#include "registration/combination/batch_combination_inputs.h"

namespace astrelon {

std::atomic<uint8_t> BatchWeightedAdd{0};
std::vector<float> BatchCoverageWeights;
int32_t BatchAddedCount = 0;
float BatchFrameWeight = 1;
TShiftGrid BatchShiftGrid;

}  // namespace astrelon
