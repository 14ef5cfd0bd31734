#pragma once
// The end of a weighted accumulation: every pixel becomes its sum over its
// weight, and a pixel that got less weight than its neighbours lead to expect
// has the shortfall filled from the neighbours that resemble it in the guide
// plane.
namespace astrelon {

struct TWeightedTarget;

// Normalises the accumulation's planes and frees its weight planes. The guide
// G is plane 2 of a colour target, else plane 1, taken as sum / weight before
// any plane changes; n = 2.5 x the noise of the plane's normalised values.
// Interior pixel with weight W and sum S: the expected weight is 0.35 x the
// four neighbours' weights (planes 1 and 3 of a Bayer-special target: 0.25 x
// those and 0.15 x the four diagonal ones); with a shortfall D > 0 and a valid
// G the neighbours k weigh u = 1 / (|G - G_k| + n), and with A = sum u W_k > 0
// and B = sum u S_k (their unnormalised sums) the pixel becomes (S + D B / A)
// / expected; otherwise S / W when W > 0. Border pixels become S / W when W >
// 0; a pixel without weight keeps its value. A Bayer-special target is then
// multiplied by m, the largest weight of its green plane (at least 1). The
// results go into new planes, so no pixel reads a neighbour already changed.
void DrizzleNormieren(TWeightedTarget& target);

}  // namespace astrelon
