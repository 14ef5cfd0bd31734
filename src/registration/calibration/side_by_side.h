#pragma once
// Independent measurements of a calibration run side by side, one thread each.
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/parallel_bands.h"

namespace astrelon {

using TCalibrationJobs = std::vector<std::function<void()>>;

// Runs every job once, side by side with `multicore`, else one after another.
inline void RunSideBySide(const TCalibrationJobs& jobs, bool multicore) {
  const int64_t n = int64_t(jobs.size());
  ForEachBand(n, multicore ? int(n) : 1, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) jobs[size_t(i)]();
  });
}

}  // namespace astrelon
