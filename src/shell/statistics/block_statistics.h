#pragma once
// Detector of the 8-row block pattern that JPEG compression leaves in an image:
// an estimate of the compression strength from the row-to-row differences.
#include <cstdint>

namespace astrelon {

// The strength range kept between the estimates of one run (1..100).
struct TQualityRange {
  int32_t Low = 1;
  int32_t High = 100;
};
extern TQualityRange JpegQualityRange;

struct TBlockStatistics {
  int32_t Strength = 101;  // estimate; 101 = no block pattern seen
  int32_t Flag = 1;        // 0: the largest step lies across the block border (rows 7 | 8)
};

// For each row pair (r, r+1) the mean absolute difference, summed over the planes;
// for each row phase 0..7 the 70 % percentile of its pairs; the phase with the
// largest value against the mean of the others gives the strength. The result is
// kept within JpegQualityRange: an estimate more than 40 below its low end restarts
// the range there (and clears the slot's JPEG file size). Images below 9 rows give
// the last estimate. Processes messages and stops on the abort flag per row.
TBlockStatistics ComputeBlockStatistics(int slot);

}  // namespace astrelon
