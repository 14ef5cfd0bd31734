#include "pixelops/low_pass2.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Values (0 where blank) and masks (1 valid, 0 blank) of a line with n zeros on
// either side.
struct TPaddedLine {
  float* Values;
  float* Mask;
};

// out[j] and sum[j] over j = 0 .. count − 1: Σ w·value and Σ w·mask, taps in
// ascending order (the same sums the column blocks form).
void FilterPadded(std::span<const float> kernel, const TPaddedLine& in, int64_t count, float* sum, float* weight) {
  std::fill_n(sum, count, 0.0f);
  std::fill_n(weight, count, 0.0f);
  for (size_t i = 0; i < kernel.size(); ++i) {
    const float w = kernel[i];
    const float* v = in.Values + i;
    const float* m = in.Mask + i;
    for (int64_t j = 0; j < count; ++j) {
      sum[j] += w * v[j];
      weight[j] += w * m[j];
    }
  }
}

inline float Filtered(float old, float sum, float weight) {
  if (!IsValidPixel(old) || !(weight > 0)) return old;
  return sum / weight;
}

}  // namespace

TLowPass2Parameters LimitLowPass2Parameters(const TLowPass2Parameters& p) {
  auto limit = [](double v, double lo, double hi, double fallback) { return v == v ? std::clamp(v, lo, hi) : fallback; };
  return {limit(p.CutOff, 0.01, 4.0, 0.5), limit(p.Steepness, 1.0, 10.0, 2.0), limit(p.Shift, -1.0, 1.0, 0.0)};
}

std::vector<float> LowPass2Kernel(const TLowPass2Parameters& parameters) {
  const TLowPass2Parameters p = LimitLowPass2Parameters(parameters);
  const double a = p.Steepness / p.CutOff;
  const int n = int(std::min(std::trunc(a) + 1, 15.0));
  std::vector<float> kernel(size_t(2 * n + 1));
  for (int i = -n; i <= n; ++i) {
    const double x = std::numbers::pi * (i + p.Shift) * p.CutOff;
    kernel[size_t(i + n)] = x == 0 ? 1.0f : float(std::sin(x) / x * std::sin(x / a) * a / x);
  }
  return kernel;
}

void LowPass2Line(std::span<const float> kernel, float* line, int64_t count, std::vector<float>& scratch) {
  const int64_t n = int64_t(kernel.size() / 2), padded = count + 2 * n;
  scratch.assign(size_t(2 * padded + 2 * count), 0.0f);
  const TPaddedLine in{scratch.data(), scratch.data() + padded};
  float* sum = scratch.data() + 2 * padded;
  float* weight = sum + count;
  for (int64_t j = 0; j < count; ++j)
    if (IsValidPixel(line[j])) {
      in.Values[n + j] = line[j];
      in.Mask[n + j] = 1.0f;
    }
  FilterPadded(kernel, in, count, sum, weight);
  for (int64_t j = 0; j < count; ++j) line[j] = Filtered(line[j], sum[j], weight[j]);
}

void ApplyLowPass2(int slot, bool alongRows, double shift, double steepness, double cutOff) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int64_t w = im.Width, h = im.Height;
  if (w < 1 || h < 1) return;
  const std::vector<float> kernel = LowPass2Kernel({cutOff, steepness, shift});
  const int64_t n = int64_t(kernel.size() / 2);
  const bool multi = Options.Multicore != 0 && im.PixelCount() >= (size_t(1) << 16);
  for (int p = 1; p <= im.PlaneCount && p <= 3; ++p) {
    if (im.Planes[size_t(p)].size() < im.PixelCount()) continue;
    float* plane = im.Planes[size_t(p)].data();
    if (alongRows) {
      ForEachBand(h, BandThreads(h, 16, multi), [&](int64_t first, int64_t last) {
        std::vector<float> scratch;
        for (int64_t y = first; y < last; ++y) LowPass2Line(kernel, plane + y * w, w, scratch);
      });
      continue;
    }
    // Down the columns: the padded copy of the plane (values and masks, n zero
    // rows above and below), each output row formed across its whole width.
    const int64_t rows = h + 2 * n;
    std::vector<float> values(size_t(rows * w), 0.0f), masks(size_t(rows * w), 0.0f);
    for (int64_t i = 0; i < w * h; ++i)
      if (IsValidPixel(plane[i])) {
        values[size_t(n * w + i)] = plane[i];
        masks[size_t(n * w + i)] = 1.0f;
      }
    ForEachBand(h, BandThreads(h, 16, multi), [&](int64_t first, int64_t last) {
      std::vector<float> sum(static_cast<size_t>(w)), weight(static_cast<size_t>(w));
      for (int64_t y = first; y < last; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        std::fill(weight.begin(), weight.end(), 0.0f);
        for (size_t i = 0; i < kernel.size(); ++i) {
          const float k = kernel[i];
          const float* v = values.data() + (y + int64_t(i)) * w;
          const float* m = masks.data() + (y + int64_t(i)) * w;
          for (int64_t x = 0; x < w; ++x) {
            sum[size_t(x)] += k * v[x];
            weight[size_t(x)] += k * m[x];
          }
        }
        float* out = plane + y * w;
        for (int64_t x = 0; x < w; ++x) out[x] = Filtered(out[x], sum[size_t(x)], weight[size_t(x)]);
      }
    });
  }
}

}  // namespace astrelon
