#pragma once
// A synthetic point-spread function: a Gaussian star centred on an odd square image.
#include <cstdint>

namespace astrelon {

// Side of the image for radius r: round(7.95 r) + 5, at least 15, made odd.
// 0 unless 0.099 < r <= 50.
int32_t GaussianPsfSize(double r);

// Fills the free slot `slot` with a GaussianPsfSize(r) square grey image, zero
// but for the star of width r whose peak lies on the centre pixel; a default
// header, the numbered name after "PSFGauss0" and the display
// range 0..10000 with a histogram (the
// caller shows its window). False (nothing done) for a radius out of
// range or a slot that is not a free slot 1..49.
bool MakeGaussianPsfImage(int slot, double r);

}  // namespace astrelon
