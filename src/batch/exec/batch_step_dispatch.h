#pragma once
// Runs one step of the batch on the work image: the operation of the step
// with its values, the store check (display zoom, a free slot) before every
// operation after the plain pixel and geometry ones, and the alignment steps.
#include <cstdint>

namespace astrelon {

// Operations 1 to 9, 17 to 23 and 26 run before the store check.
bool RunsBeforeStoreCheck(int32_t op);

// Step `step` on BatchRun.WorkSlot. A value that is no number raises
// TBatchStepError. The store check sets a display zoom below 17 % to 100 %
// and sets EndOfRun when no slot is free (the operation still runs, with its
// own slot tests).
void RunBatchStep(int32_t step);

}  // namespace astrelon
