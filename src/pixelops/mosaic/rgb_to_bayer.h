#pragma once
// A colour-filter mosaic made from an RGB image: one plane in which every pixel
// keeps one of its colours, red at the top-left of each 2 × 2 cell (RGGB).
namespace astrelon {

// Slot `destination` becomes a one-plane image of the source's size (with the
// source's header cards and display record, display type grey, as
// ConvertColorToMono leaves it): red where x and y are both even, blue where
// both are odd, green elsewhere. The source must be an RGB colour image; false
// (nothing done) otherwise.
bool MakeBayerPattern(int source, int destination);

}  // namespace astrelon
