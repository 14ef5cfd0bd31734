#include "plain_pow.h"

#include <algorithm>
#include <cmath>

#include "plain_loops.h"

namespace astrelon::bench {

void PlainPowAbove(float* v, int64_t count, float black, float scale, float exponent) {
  PlainVector([=] {
    // A select, so that every lane's pow is taken in vectors.
#pragma omp simd
    for (int64_t i = 0; i < count; ++i) {
      const float x = v[i];
      const float p = std::pow(std::max(x - black, 0.0f) / scale, exponent) * scale + black;
      v[i] = x > black ? p : x;
    }
  });
}

}  // namespace astrelon::bench
