#pragma once
// The "hi-f" two-times enlargement: a base enlargement (triangulation shifted
// by half a pixel, or dSinc resampling), detail taken from the image itself at
// the chosen strength ("Künstliche Schärfung"), corrections of over- and
// undershoots along edges, and a mild final sharpening.
#include <cstdint>

#include "filters/enlargement/enlargement_poll.h"
#include "filters/enlargement/hif_tables.h"

namespace astrelon {

// The strength the input dialogs offer: the last one used (clamped), 3 at start-up.
extern int32_t LastX2Strength;

// The final sharpening weights of a variant (direct, diagonal, two steps, knight).
struct THiFSharpening {
  double Direct, Diagonal, Straight2, Knight;
};
constexpr THiFSharpening HiFSharpening(THiFVariant v) {
  return v == THiFVariant::Tri ? THiFSharpening{0, -0.01, -0.013, -0.007} : THiFSharpening{0, -0.005, -0.0065, -0.0035};
}

// Enlarges `source` into `destination` (a copy of the source on entry) over
// the whole image. The strength is clamped to 1..10 and kept in
// LastX2Strength. The grey copy of the source, its low-pass model and (sinc)
// the grey copy of the base enlargement are planes of the routine's own, so no
// slot is taken. The poll sees the percent done (0..100) after every row of the
// long stages; it and the abort flag (which the routine does not clear) stop
// the run, which then returns false and leaves the destination unfinished.
// Throws std::bad_alloc, before anything changes, when the result and its
// working planes do not fit in the free memory (enlargement_memory.h).
bool UpscaleX2HiF(int source, int destination, bool finalSharpen, THiFVariant variant, int32_t strength,
                  const TEnlargementPoll& poll = {});

// The back-projection's last step: every valid pixel of `result` loses the
// error e of the same pixel of `error` (same size and planes) soft-thresholded
// by t: e - t when e > t, e + t when e < -t, nothing otherwise; a blank error
// changes nothing.
void SubtractSoftThresholded(int result, int error, float t);

}  // namespace astrelon
