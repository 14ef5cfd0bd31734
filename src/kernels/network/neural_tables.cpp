#include "kernels/network/neural_tables.h"

#include <cmath>

#include "common/pascal_format.h"

namespace astrelon {

std::array<float, TanhTableSize> TanhTable{};
std::array<int16_t, TanhTableSize> TanhTableFixed{};

void BuildTanhTable() {
  for (int i = 0; i < TanhTableSize; ++i) {
    const double t = std::tanh(i * 0.001);
    TanhTable[size_t(i)] = float(t);
    TanhTableFixed[size_t(i)] = int16_t(Round(t * 16384.0));  // at most 15795
  }
}

}  // namespace astrelon
