#pragma once
// The centre of a bright disc (sun, moon, planet) in the working rectangle, as
// the shift measurements use it.
#include "kernels/alignment/float_point.h"

namespace astrelon {

// Result of the last MeasureDiscCentre.
extern TFloatPoint DiscCentre;

// FindBrightDisc on the slot's working rectangle (which also lowers
// MatchQuality); stores and returns the centre.
TFloatPoint MeasureDiscCentre(int slot);

}  // namespace astrelon
