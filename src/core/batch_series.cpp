#include "core/batch_series.h"

namespace astrelon {
std::vector<std::string> SeriesFileList;
std::vector<TStarPair> BatchStarPairs;
std::atomic<uint8_t> BatchVideoInput{0};
TBatchStatusLabels* BatchStatusLabels = nullptr;
}  // namespace astrelon
