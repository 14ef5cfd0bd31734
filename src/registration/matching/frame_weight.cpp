#include "registration/matching/frame_weight.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

std::vector<float> Values;
size_t Room = 0;
double LevelSum = 0, LevelCount = 0;

}  // namespace

void StartFrameStatistics(int32_t n) {
  Values.clear();
  Room = size_t(std::max(n, 0));
  Values.reserve(Room);
}

void AddFrameStatistic(float value) {
  if (Values.size() < Room) Values.push_back(value);
}

int32_t FrameStatisticCount() { return int32_t(Values.size()); }

float BildgewichtAusStatistik(bool accumulate) {
  const size_t n = Values.size();
  if (n == 0) return 1.0f;
  double sum = 0, sumSq = 0;
  for (float v : Values) {
    sum += v;
    sumSq += double(v) * v;
  }
  const double mean = sum / double(n);
  const double variance = sumSq / double(n) - mean * mean;
  if (!(variance > 0) || !(mean > 1e-10)) return 1.0f;
  const double k = OutlierClipFactor(int64_t(n), 0.95, 4.57);
  double s = k * std::sqrt(variance) / mean;
  if (accumulate) {
    LevelSum += s;
    LevelCount += 1;
  }
  if (LevelCount > 0.5) s = LevelSum / LevelCount;
  const double limit = s * mean;
  double weight = 1.0;
  for (float v : Values) {
    const double d = std::fabs(v - mean);
    if (d > limit) weight *= limit / d;
  }
  return float(weight);
}

void ResetFrameWeightRun() {
  LevelSum = 0;
  LevelCount = 0;
}

}  // namespace astrelon
