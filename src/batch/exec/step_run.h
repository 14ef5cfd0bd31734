#pragma once
// One step of the batch on the work image: the step, its operation and
// record, the work slot, and the free slot that the store check found (the
// slot a step copies the work image into, "F"). The groups of operations each
// run theirs and say whether the operation was one of theirs.
#include <cstdint>

#include "batch/steps/batch_menu_item.h"

namespace astrelon {

struct TStepRun {
  int32_t Step = 0;
  TBatchOp Op = -1;
  const bmenuitem* Item = nullptr;
  int Work = -1;
  // The lowest free slot, found once for the step; -1 when none is free.
  int Free = -1;

  const std::string& Value(int i) const { return Item->Values[size_t(i - 1)]; }
  bool OptionOn() const { return !Item->OptionCaption.empty(); }
};

// Pixel arithmetic and orientation: 4, 5, 6, 7, 8, 17, 18, 21, 22, 23, 26, 35.
bool RunPixelStep(const TStepRun& run);
// Size and geometry: 1, 2, 3, 19.
bool RunGeometryStep(const TStepRun& run);
// Files of other images: 11 (dark), 12 (flat), 20 (mask).
bool RunFileStep(const TStepRun& run);
// Filters: 9, 15, 27, 29, 30, 36, 37, 38, 39, 40, 43.
bool RunFilterStep(const TStepRun& run);
// Colour and display: 13, 16, 24, 25, 33, 34.
bool RunColourStep(const TStepRun& run);
// Frequency, wavelet, enlargement and network: 28, 31, 32, 41, 42.
bool RunFrequencyStep(const TStepRun& run);

}  // namespace astrelon
