#include "core/batch_series.h"

namespace astrelon {
std::vector<std::string> SeriesFileList;
std::vector<TStarPair> BatchStarPairs;
std::vector<std::vector<TMarkPair>> BatchMarkPairs;
std::vector<float> BatchQualities;
std::atomic<uint8_t> BatchVideoInput{0};
TBatchStatusLabels* BatchStatusLabels = nullptr;
}  // namespace astrelon
