#pragma once
// The wide blur that the smooth-gradient mode of the non-local-means filter
// subtracts and adds back: a recursive Gaussian of radius 12 over a whole plane.
namespace astrelon {

// Blurs plane p of the slot in place; blank pixels stay blank and are bridged
// with the latest valid value. Stops early when the abort flag is raised.
void NlmPreBlur(int slot, int p);

}  // namespace astrelon
