#pragma once
// The end of a batch run, normal or aborted: the target is combined (a stack
// of the listed files), named and written, the status window says how the
// run ended, and every slot, file and video the run held is released.
#include <cstdint>
#include <string>

namespace astrelon {

// "n Bilder " + the combination's name ("5 Bilder Add").
std::string CombinedImagesText(int32_t count, int32_t combineMode);

// Ends the run; a run whose EndOfRun is set ends as aborted ("Abbruch!").
// Clears `Running`.
void EndBatchRun();

}  // namespace astrelon
