#include "frequency/spectra/frequency_response_match.h"

#include <algorithm>
#include <cmath>

#include "kernels/fft/spectrum_pow2.h"
#include "kernels/regions/owned_slot.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

struct TSpectrumShape {
  int64_t N = 0, M = 0, W = 0;  // transform width and height, row width N + 2
};

// The transform sizes of a power-of-two spectrum slot; N = 0 when it is none.
TSpectrumShape ShapeOf(int spectrum) {
  if (!SlotInUse(spectrum)) return {};
  const TImageSlot& sp = Store.Image[size_t(spectrum)];
  const int64_t N = int64_t(sp.Width) - 2, M = sp.Height;
  if (N < 2 || M < 1 || (N & (N - 1)) != 0 || (M & (M - 1)) != 0) return {};
  for (int p = 1; p <= sp.PlaneCount; ++p)
    if (sp.Planes[size_t(p)].size() < size_t(sp.Width) * size_t(M)) return {};
  return {N, M, sp.Width};
}

int32_t TopBin(int32_t size) { return int32_t(std::nearbyint(std::sqrt(2.0) * size / 2)); }

// Calls fn(bin, re, im) for every coefficient of every plane.
template <typename F>
void ForEachCoefficient(int spectrum, const TSpectrumShape& s, int32_t size, F&& fn) {
  TImageSlot& sp = Store.Image[size_t(spectrum)];
  const int64_t half = s.N / 2;
  for (int p = 1; p <= sp.PlaneCount; ++p) {
    float* plane = sp.Planes[size_t(p)].data();
    for (int64_t r = 0; r < s.M; ++r) {
      float* row = plane + r * s.W;
      for (int64_t k = 0; k <= half; ++k)
        fn(FrequencyBin(r, k, int32_t(s.N), int32_t(s.M), size), row[k], row[half + 1 + k]);
    }
  }
}

}  // namespace

int32_t FrequencyBin(int64_t row, int64_t column, int32_t fftWidth, int32_t fftHeight, int32_t size) {
  const int64_t vertical = row <= fftHeight / 2 ? row : fftHeight - row;
  const double fx = 2.0 * double(column) / fftWidth, fy = fftHeight > 1 ? 2.0 * double(vertical) / fftHeight : 0.0;
  return int32_t(std::nearbyint(std::sqrt(fx * fx + fy * fy) * size / 2));
}

std::vector<double> RadialMeanAmplitudes(int spectrum, int32_t size) {
  const TSpectrumShape s = ShapeOf(spectrum);
  if (s.N == 0 || size < 1) return {};
  const size_t bins = size_t(TopBin(size)) + 1;
  std::vector<double> sum(bins, 0.0);
  std::vector<int64_t> count(bins, 0);
  ForEachCoefficient(spectrum, s, size, [&](int32_t bin, float re, float im) {
    const size_t b = std::min(size_t(bin), bins - 1);
    sum[b] += std::sqrt(double(re) * re + double(im) * im);
    ++count[b];
  });
  for (size_t b = 0; b < bins; ++b) {
    if (count[b] > 0)
      sum[b] /= double(count[b]);
    else
      sum[b] = b > 0 ? sum[b - 1] : 0.0;
  }
  return sum;
}

bool MatchFrequencyResponse(int result, int reference) {
  if (!SlotInUse(result) || !SlotInUse(reference)) return false;
  const int32_t size = std::max(Store.Image[size_t(result)].Width, Store.Image[size_t(result)].Height);
  std::vector<double> b;
  {
    const TOwnedSlot spectrum(ImageToFft2DPow2(reference, 0, 0, false));
    if (!spectrum.Made()) return false;
    b = RadialMeanAmplitudes(spectrum.Get(), size);
  }
  const TOwnedSlot spectrum(ImageToFft2DPow2(result, 0, 0, false));
  if (!spectrum.Made()) return false;
  std::vector<double> a = RadialMeanAmplitudes(spectrum.Get(), size);
  if (a.empty() || b.size() != a.size()) return false;
  b[0] = std::max(b[0], 0.1);
  for (double& v : a) v = std::max(v, 1e-20);
  std::vector<float> gain(a.size(), 1.0f);
  for (size_t k = 1; k < a.size(); ++k) gain[k] = float((b[k] / b[0]) / (a[k] / a[0]));
  const TSpectrumShape s = ShapeOf(spectrum.Get());
  ForEachCoefficient(spectrum.Get(), s, size, [&](int32_t bin, float& re, float& im) {
    if (bin <= 0) return;
    const float g = gain[std::min(size_t(bin), gain.size() - 1)];
    re *= g;
    im *= g;
  });
  return FftToImage2DPow2(spectrum.Get(), result, 0, 0) == result;
}

}  // namespace astrelon
