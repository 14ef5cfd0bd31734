#pragma once
// The constant table of batch operations: row 0 the blank template, row 1 the
// file step, row op + 1 operation op (1..43); the filter functions whose slider
// values new steps take; the names the batch text uses for the combination
// modes and interpolation kinds.
#include <array>
#include <cstdint>

#include "batch/steps/batch_menu_item.h"

namespace astrelon {

using TBatchOperationTable = std::array<bmenuitem, BatchOperationCount + 2>;

// The table (built once).
const TBatchOperationTable& BatchOperationTable();
// Row op + 1 of the table: the blank template for op -1, the file step for 0.
const bmenuitem& BatchTableRow(TBatchOp op);

// Filter function (FunktionNr) whose slider texts a new step of operation op
// takes; 0 when none. Only operations 9..43 are looked up.
int32_t BatchFilterIndex(TBatchOp op);

// Keywords of the add-to-target function (CombineMode 0..5).
constexpr std::array<const char*, 6> BatchCombineNames = {"Add", "Min", "Max", "Median", "MittelMed", "Sigma"};
// Items of the window's function radio group, in the same order.
constexpr std::array<const char*, 6> BatchCombineItems = {"Add", "Min", "Max", "Medi.", "Mitte.", "Sigma"};
// Names of the interpolation kinds 0..4 (TInterpolationKind).
constexpr std::array<const char*, 5> BatchInterpolationNames = {"Linear", "Neuro", "Bikubisch", "dSinc", "Lanczos3"};

}  // namespace astrelon
