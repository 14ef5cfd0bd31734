#pragma once
// Estimating the quality with which an image was JPEG-compressed, from the size
// of its file and from how closely a re-compression reproduces it.
#include <cstdint>

#include "shell/statistics/block_statistics.h"

namespace astrelon {

// The factor at which the estimates and the deblocking render an image:
// 255 / max(maximum, 255), so that 8-bit images keep their values.
double JpegRenderFactor(float maximum);

// Coarse-to-fine search (steps 10, 5, 2, 1) for the highest quality whose
// re-compression of the rendered image is not larger than the slot's JPEG file;
// (1, 100) when the file size is unknown. The range is also kept in
// JpegQualityRange. Processes messages per compression and stops on the abort flag.
TQualityRange EstimateJpegQualityBySize(int slot);

struct TQualityGuess {
  int32_t Quality = 100;
  int32_t Confidence = 0;  // 20 when the winner is not the upper end of the range, else 0
};
// The candidate in max(centre − 3, 1) .. min(centre + 2, 100) whose compression
// and decoding differ least from the rendered image (mean absolute byte
// difference per pixel; the first on ties). Clears the abort flag first; an
// abort gives the upper end.
TQualityGuess EstimateJpegQualityByDifference(int slot, int32_t centre);

// The estimate of an image without a known quality: the size search, the block
// statistics kept within its range and, when those point at no block border,
// the difference search around the low end of the size range (taken when its
// confidence is 10 or more). Clears the abort flag first; Esc in any step ends
// the estimate with Aborted set (the difference search, which clears the flag
// itself, is then not run).
struct TQualityEstimate {
  int32_t Quality = 100;
  bool Aborted = false;
};
TQualityEstimate EstimateJpegQuality(int slot);

}  // namespace astrelon
