#include "batch/align/star_check.h"

#include <cmath>

#include "batch/run/batch_run_state.h"

namespace astrelon {

void EnterQuality(float quality) {
  TBatchRunState& s = BatchRun;
  s.QualitySum += quality;
  s.QualitySquareSum += quality * quality;
  s.QualityCount += 1;
  if (s.QualityCount <= 2) return;
  const double mean = double(s.QualitySum) / s.QualityCount;
  const double spread = 0.0001 + double(s.QualitySquareSum) / s.QualityCount - mean * mean;
  const double d = spread >= 0 ? std::sqrt(spread) : 0.1;
  s.StarTolerance = float(mean - s.StarToleranceAfterCheck * d);
}

bool CheckQuality(float quality) {
  TBatchRunState& s = BatchRun;
  s.DirectMarks = false;
  if (quality < s.StarTolerance && s.ReportProblems) {
    s.CheckStars = true;
    return false;
  }
  if (!(quality < 50)) return false;
  EnterQuality(quality);
  return true;
}

void ResetQualityStatistics() {
  BatchRun.QualitySum = BatchRun.QualitySquareSum = BatchRun.QualityCount = 0;
}

}  // namespace astrelon
