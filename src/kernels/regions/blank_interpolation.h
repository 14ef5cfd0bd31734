#pragma once
// Filling of holes of blank pixels with values that continue the surrounding
// image smoothly, from each hole's rim inward ring by ring.

#include <cstdint>

namespace astrelon {

// Fills blank pixels of slot b's planes in place. Slot a gives the size and the
// plane count and, unless allBlanks is set, which pixels may be filled: only those
// blank in b but valid in a (pixels blank in both stay blank). A hole's rim gets
// the mean of its valid neighbours, each further ring a distance-weighted mean of
// samples of the ring before. With `progress` the window of b shows
// "Interpolation". The abort flag stops the work between holes and rings; what
// is filled stays. Reproducible: the sampling offsets come from a fixed seed.
void InterpolateBlankPixels(int a, int b, bool allBlanks, bool progress);

// The ring samples the last InterpolateBlankPixels read over every pixel it
// grew inward: the work its sampling rule prescribes (benchmarks measure the
// routine against it).
int64_t LastInterpolationSamples();

}  // namespace astrelon
