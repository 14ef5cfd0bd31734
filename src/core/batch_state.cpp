#include "core/batch_state.h"

namespace astrelon {
std::atomic<uint8_t> BatchRunning{0};
std::atomic<uint8_t> BatchAbort{0};
std::atomic<uint8_t> MarksChanged{0};
std::atomic<uint8_t> MultiMarkMode{0};
std::atomic<uint8_t> BatchAddToTarget{0};
std::atomic<int32_t> BatchMarkCount{0};
std::string BatchDiscThreshold;
std::atomic<uint8_t> BatchDiscMode{0};
std::array<int32_t, 2> BatchStarApertures{1, 1};
std::array<TFollowedStar, 2> BatchFollowedStars{};
}  // namespace astrelon
