#pragma once
// Records a batch step in an image's header from the translated batch text.
#include <cstdint>

namespace astrelon {

// The translated header line of step n, without "n. ", starts a new "HISTORY "
// card; each following line of more than 2 characters is added after it, up
// to the step's empty line. Afterwards the slot's next history text starts a
// new card. Nothing happens when the text has no such step.
void AddStepHistoryCards(int slot, int32_t n);

}  // namespace astrelon
