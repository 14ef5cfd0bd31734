#pragma once
// Noise removal in the detail layers of a pyramid (wavelet_pyramid.h). Per
// level: a threshold T from the level's own noise (at least 0.002 of its range)
// times the layer's threshold and the factors 1.0, 0.7, 0.4, 0.2; a soft
// threshold on the two-pixel frame; inside it an edge-keeping mean of the
// neighbours (plain) or a patch search ("Bessere Berechnung"); then the
// threshold curve of the hardness.
#include <array>

#include "store/image_store.h"

namespace astrelon {

struct TWaveletFilterOptions {
  int Hardness = 1;                       // item index 0..3 of "Thresholdhärte"
  std::array<double, 4> Thresholds{1, 1, 1, 1};  // of layers 1..4 (levels 0..3)
  int Levels = 4;                         // detail levels to filter
  bool Better = false;                    // "Bessere Berechnung"
  bool ShowProgress = false;              // in the destination's window
};

// Filters detail levels 0 .. Levels-1 of one plane of the set in place. After
// each band of rows pending events run and the abort flag is read: an abort ends
// the routine with the level being filtered unchanged and the earlier ones
// filtered (false). The source's plane range scales level 0's 16-bit copy; the
// destination's window shows the progress. Results do not depend on the number
// of threads.
bool PyramidNoiseFilter(int source, int set, int plane, const TWaveletFilterOptions& options, int destination,
                        const TRectI& rect);

}  // namespace astrelon
