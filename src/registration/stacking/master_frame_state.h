#pragma once
// State of the master dark and flat dialog that the stack combination reads
// and updates.
#include <cstdint>

namespace astrelon {

// Slot of the dark subtracted from every flat before levelling; -1 or 0: none.
extern int32_t FlatDarkSlot;
// Sum and count of the CCD temperatures of the combined runs.
extern double CcdTemperatureSum;
extern int32_t CcdTemperatureCount;

}  // namespace astrelon
