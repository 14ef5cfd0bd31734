#pragma once
// The two-times enlargement that the batch's "Bildgröße x2 hi-f tri" runs:
// the hi-f enlargement with its triangulation stage, from a source slot into
// a destination slot (a copy of it) with a sharpening value. It is the hi-f
// engine unless a test installs a stand-in; while none is installed the step
// reports that it cannot run.
#include <cstdint>

namespace astrelon {

using TBatchEnlargement = bool (*)(int source, int destination, int32_t sharpening);
extern TBatchEnlargement BatchEnlargeX2;

}  // namespace astrelon
