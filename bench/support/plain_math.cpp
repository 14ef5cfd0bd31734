#include "plain_math.h"

#include <algorithm>
#include <cmath>

#include "plain_loops.h"

namespace astrelon::bench {

namespace {
constexpr double HalfPi = 1.5707963267948966;
}  // namespace

void PlainPowAbove(float* v, int64_t count, float black, float scale, float exponent) {
  PlainVector([=] {
    float* const values = v;
    const int64_t n = count;
    const float b = black, s = scale, e = exponent;
    // A select, so that every lane's pow is taken in vectors.
#pragma omp simd
    for (int64_t i = 0; i < n; ++i) {
      const float x = values[i];
      const float p = std::pow(std::max(x - b, 0.0f) / s, e) * s + b;
      values[i] = x > b ? p : x;
    }
  });
}

void PlainPhasorSum(const double* phase, const double* variance, size_t n, double& sumCos, double& sumSin) {
  double sums[2] = {0, 0};
  double* const out = sums;
  PlainVector([=] {
    const double* const p = phase;
    const double* const v = variance;
    const size_t count = n;
    double cs = 0, sn = 0;
#pragma omp simd reduction(+ : cs, sn)
    for (size_t i = 0; i < count; ++i) {
      const double w = v[i] <= 1e-8 ? 1e8 : 1 / v[i];
      // sin as a shifted cos: the compiler would otherwise merge the pair into
      // one sincos, which it has no vector form of.
      cs += w * std::cos(p[i]);
      sn += w * std::cos(p[i] - HalfPi);
    }
    out[0] = cs;
    out[1] = sn;
  });
  sumCos += sums[0];
  sumSin += sums[1];
}

void PlainToPolar(float* re, float* im, size_t n) {
  PlainVector([=] {
    float* const x = re;
    float* const y = im;
    const size_t count = n;
#pragma omp simd
    for (size_t i = 0; i < count; ++i) {
      const float r = x[i], j = y[i];
      x[i] = std::sqrt(r * r + j * j);
      y[i] = std::atan2(j, r);
    }
  });
}

void PlainToCartesian(float* re, float* im, size_t n) {
  PlainVector([=] {
    float* const x = re;
    float* const y = im;
    const size_t count = n;
#pragma omp simd
    for (size_t i = 0; i < count; ++i) {
      const float a = x[i], p = y[i];
      x[i] = a * std::cos(p);
      y[i] = a * std::cos(p - float(HalfPi));  // sin, see PlainPhasorSum
    }
  });
}

}  // namespace astrelon::bench
