#pragma once
// The operation table as the user sees it: names, labels and option captions
// translated where a translation file is loaded. Steps, parsed text and batch
// files keep the German texts; the visible step list and the history cards use
// these.
#include "batch/steps/batch_operation_table.h"

namespace astrelon {

extern TBatchOperationTable TranslatedBatchTable;

// Copies the texts of every row of the operation table.
void ResetTranslatedBatchTable();
// Replaces each non-empty name, label and option caption by its translation
// (section 37 [r.1] .. [r.6]) where one is loaded; the others stay.
void TranslateBatchTable();

}  // namespace astrelon
