#pragma once
// The size of the stamp tools: the side panel's "Stempel Größe" (1..99) and the
// squared radius that the stamp and copy stamp use.
#include <cstdint>

namespace astrelon {

extern int32_t StampRadiusSquared;
// round(((size + 1) x 0.5)^2), halves to even: 10 gives 30, 31 gives 256.
int32_t StampRadiusSquaredOf(int size);

}  // namespace astrelon
