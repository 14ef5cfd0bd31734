#pragma once
// The batch in the main window: the batch window as form 7 behind
// "&Stapel Bearbeitung" (F5), the File menu's rule for the batch tools, and the
// star view that follows the cursor during a run while the star check asks.

namespace astrelon {

void RegisterBatchCommands();

}  // namespace astrelon
