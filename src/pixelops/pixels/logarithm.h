#pragma once
// Logarithmic mapping of an image's value range.
namespace astrelon {

// On the selected channels inside the working rectangle: with lo the smallest
// and hi the largest plane extreme of those channels (measured afresh), every
// valid v becomes log10(v − lo + 1) · (hi − lo) / log10(hi − lo + 1), so lo maps
// to 0 and hi to hi − lo. A constant image (hi = lo) becomes 0.
void TakeLogarithm(int slot);

}  // namespace astrelon
