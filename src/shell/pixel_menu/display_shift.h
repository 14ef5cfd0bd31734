#pragma once
// Moving a slot's display with its values, so that the picture looks as before.

namespace astrelon {

// Black, White and the x of all seven curve points move by d.
void ShiftDisplayRange(int slot, double d);

}  // namespace astrelon
