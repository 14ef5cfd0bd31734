#pragma once
// Two-times enlargement by edge-directed interpolation: the triangulation's
// result with its cell centres and then its edge midpoints recomputed from
// weights that say how well the neighbourhood matches its look-alikes of twice
// the spacing nearby.
#include "filters/enlargement/enlargement_poll.h"

namespace astrelon {

// Enlarges `source` into `destination` (a copy of the source on entry) by the
// triangulation, then, per plane with e = the plane's noise squared (at least
// 0.01), recomputes the centres of source cells 4..W-6 x 4..H-6 and the edge
// midpoints of result rows 8..2H-10, columns 8..2W-10. A square or diamond
// that holds a blank pixel adds no weight, and a centre or midpoint whose own
// four pixels are not all valid keeps the triangulation's value. Rows run in
// bands on all cores. False when the triangulation was stopped; std::bad_alloc
// from the triangulation when the result does not fit in the free memory.
bool UpscaleX2Nedi(int source, int destination, const TEnlargementPoll& poll = {});

}  // namespace astrelon
