#include "registration/stacking/master_frame_state.h"

namespace astrelon {
int32_t FlatDarkSlot = -1;
double CcdTemperatureSum = 0;
int32_t CcdTemperatureCount = 0;
}  // namespace astrelon
