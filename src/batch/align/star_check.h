#pragma once
// The star check of automatic alignment: the qualities of the measurements
// (below 50) feed running statistics, and once three are counted the
// acceptance threshold is their mean less a factor times their spread; a
// quality below the threshold brings the prompt back when the user asked for
// reports.
namespace astrelon {

// Enters a quality into BatchRun's statistics and, from the third on, sets
// StarTolerance = mean - StarToleranceAfterCheck x sqrt(0.0001 + mean of
// squares - mean^2) (a spread of 0.1 when the root cannot be taken).
void EnterQuality(float quality);

// The check of a measured quality: DirectMarks is cleared; below the
// threshold with reports on it sets CheckStars, else a quality below 50
// enters the statistics. True when it entered them.
bool CheckQuality(float quality);

// A new run's statistics.
void ResetQualityStatistics();

}  // namespace astrelon
