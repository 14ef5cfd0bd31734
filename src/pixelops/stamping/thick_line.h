#pragma once
// Anti-aliased lines of a given diameter in an 8-bit coverage mask.
#include "pixelops/stamping/stamp_mask.h"

namespace astrelon {

// Steps along the major axis from (x0, y0) to (x1, y1) (mask coordinates; the
// end point is passed y before x) and paints a disc of the diameter at every
// step: full ink within d/2 - 0.5 of the exact point, a one-pixel ramp outside
// it. Each pixel keeps the larger of its old and new coverage.
void DrawThickLine(TByteMask& mask, double x0, double y0, double diameter, double y1, double x1);

// Fills the pixels whose centres lie inside the triangle with full ink.
void FillTriangle(TByteMask& mask, double ax, double ay, double bx, double by, double cx, double cy);

}  // namespace astrelon
