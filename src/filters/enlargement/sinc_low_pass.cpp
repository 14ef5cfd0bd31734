#include "filters/enlargement/sinc_low_pass.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "kernels/gauss/filter_rows.h"
#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

void SincLowPassLine(const float* in, int32_t n, float* out) {
  const auto& dsinc = KernelRow(IkDSinc);
  const auto& cubic = KernelRow(IkBicubic);
  for (int32_t x = 0; x < n; ++x) {
    int32_t lo = std::max(x - 15, 0), hi = std::min(x + 16, n - 1);
    double wide = 0, local = 0;
    for (int32_t k = lo + 4; k <= hi - 4; ++k) {
      // A step to or from a blank pixel is no contrast.
      if (!IsValidPixel(in[k]) || !IsValidPixel(in[k + 1])) continue;
      const double d = std::fabs(double(in[k + 1]) - in[k]);
      wide = std::max(wide, d);
      if (std::abs(k - x) < 4) local = std::max(local, d);
    }
    const std::array<float, KernelTableSize>* kernel = &dsinc;
    if (2 * local - 0.1 < wide) {
      lo = std::max(x - 3, 0);
      hi = std::min(x + 4, n - 1);
      kernel = &cubic;
    }
    double sum = 0, weight = 0;
    for (int32_t k = lo; k <= hi; ++k) {
      if (!IsValidPixel(in[k])) continue;
      const double K = (*kernel)[size_t(KernelTableCentre + (k - x) * 50)];
      sum += K * in[k];
      weight += K;
    }
    if (weight > 0.1) out[x] = float(sum / weight);
  }
}

void SincLowPass(std::span<float> plane, int32_t w, int32_t h) {
  if (w < 1 || h < 1 || plane.size() < size_t(w) * size_t(h)) return;
  std::vector<float> rows(size_t(w) * size_t(h), BlankPixel);
  float* p = plane.data();
  ForEachBand(h, FilterThreads(int64_t(w) * h), [&](int64_t first, int64_t last) {
    for (int64_t y = first; y < last; ++y) SincLowPassLine(p + y * w, w, rows.data() + y * w);
  });
  // Columns in stripes of 16, gathered so that each is read as one line.
  constexpr int32_t Stripe = 16;
  const int64_t stripes = (w + Stripe - 1) / Stripe;
  ForEachBand(stripes, FilterThreads(int64_t(w) * h), [&](int64_t first, int64_t last) {
    std::vector<float> in(static_cast<size_t>(h) * Stripe), out(static_cast<size_t>(h));
    for (int64_t s = first; s < last; ++s) {
      const int32_t x0 = int32_t(s) * Stripe, width = std::min(Stripe, w - x0);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t j = 0; j < width; ++j) in[size_t(j) * size_t(h) + size_t(y)] = rows[size_t(y) * size_t(w) + size_t(x0 + j)];
      for (int32_t j = 0; j < width; ++j) {
        for (int32_t y = 0; y < h; ++y) out[size_t(y)] = p[size_t(y) * size_t(w) + size_t(x0 + j)];
        SincLowPassLine(in.data() + size_t(j) * size_t(h), h, out.data());
        for (int32_t y = 0; y < h; ++y) p[size_t(y) * size_t(w) + size_t(x0 + j)] = out[size_t(y)];
      }
    }
  });
}

}  // namespace astrelon
