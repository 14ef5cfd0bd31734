#include "kernels/colour/power_table.h"

#include <cmath>

namespace astrelon {

// The exponent table has 512 entries so that any non-negative float (the sign
// bit clear) finds its entry; zero and subnormal numbers give 0 without a test.
TPowerTable::TPowerTable(double exponent) : octave_(512, 0.0f), mantissa_(Segments + 1) {
  for (size_t e = 1; e < 256; ++e) octave_[e] = float(std::exp2((double(e) - 127.0) * exponent));
  for (size_t k = 0; k < mantissa_.size(); ++k)
    mantissa_[k] = float(std::pow(1.0 + double(k) / double(Segments), exponent));
}

}  // namespace astrelon
