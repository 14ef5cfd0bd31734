#pragma once
// Filling of blank pixels from their valid neighbours.
namespace astrelon {

// Fills blank pixels of slot b's planes (planes and size of slot a) from the
// nearest valid pixels, ring by ring inward: each pixel of a ring takes the mean
// of its valid 4-neighbours of the rings before. With allBlanks every blank
// pixel of b is filled, otherwise only those that are valid in a. A plane
// without any valid pixel becomes 0. `progress` is accepted for the callers'
// sake and shows nothing yet.
void InterpolateBlankPixels(int a, int b, bool allBlanks, bool progress);

}  // namespace astrelon
