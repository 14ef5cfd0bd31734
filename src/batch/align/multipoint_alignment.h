#pragma once
// Alignment on three or more marks: the work image's marks are re-centred and
// paired with the target's by star matching, and the pairs (target x, y, work
// x, y) give the fit and the local shift grid that map a target pixel into
// the work image for the combination and the fit to the target.
#include <span>
#include <vector>

#include "core/batch_series.h"

namespace astrelon {

// The marks on a window in multipoint mode (0 without a window).
int MultipointMarks(int slot);

// Matches the marks of `work` with those of `target` (the target with itself
// for the first image) and returns the matched pairs; none when one side has
// no marks. The match quality is lowered by the measurements; `weight` is
// multiplied by the frame weight the matching found.
std::vector<TMarkPair> MatchMultipoint(int target, int work, bool mosaic, double brightnessRatio, float& weight);

// The fit and the shift grid (BatchFittedTransform, BatchShiftGrid) of the
// pairs, mapping a target pixel into the work image. The marks and pairing
// that star matching keeps for the next image are left as they were.
void FitTargetToFrame(std::span<const TMarkPair> pairs, int target, int work);

}  // namespace astrelon
