#pragma once
// Edge image: the magnitude of the 3 × 3 Sobel gradient.
namespace astrelon {

// For every plane of `source`: the valid pixels of `destination`'s plane become
// 0 (blank ones stay blank), then each inner pixel whose 3 × 3 neighbourhood in
// the source is valid throughout gets sqrt(gx² + gy²) with
// gx = (TL − TR) + (BL − BR) + 2 (L − R) and gy = (TL − BL) + (TR − BR) + 2 (T − B).
// The destination must hold an image of the source's size (the menu passes a
// copy); otherwise, or without planes, nothing happens. Rows run on all cores;
// the eight-wide path gives the scalar path's bits.
void SobelMagnitude(int source, int destination);
// The same with the eight-wide path switched on or off (tests and benchmarks).
void SobelMagnitude(int source, int destination, bool vector);

}  // namespace astrelon
