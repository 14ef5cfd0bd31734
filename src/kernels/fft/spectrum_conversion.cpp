#include "kernels/fft/spectrum_conversion.h"

#include <algorithm>
#include <cmath>

#include "kernels/fft/spectrum_slots.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Calls f(re, im) for every bin of every plane, rows in bands.
template <class F>
void ForEachBin(int slot, F&& f) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[slot];
  const int64_t W = im.Width, half = W / 2;
  if (W < 2 || im.Height < 1) return;
  for (int p = 1; p <= im.PlaneCount; ++p) {
    if (im.Planes[p].size() < size_t(W) * size_t(im.Height)) continue;
    float* plane = im.Planes[p].data();
    ForEachBand(im.Height, SpectrumThreads(im.Height, W * 8), [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y)
        for (int64_t k = 0; k < half; ++k) f(plane[y * W + k], plane[y * W + half + k]);
    });
  }
  UpdateMinMax(slot);
}

// |F|² of bin (kx, ky) of a mixed-radix spectrum plane; −1 outside.
double BinPower(const TImageSlot& im, int plane, int32_t kx, int32_t ky) {
  const TFftImage f = TFftImage::OfSize(im.Width, im.Height);
  if (f.N < 2 || f.M < 1 || kx < 0 || kx >= f.Half() || plane < 1 || plane > im.PlaneCount) return -1;
  if (im.Planes[plane].size() < size_t(im.Width) * size_t(im.Height)) return -1;
  const int32_t r = f.RowOfBin(((ky % f.M) + f.M) % f.M);
  const double re = im.At(plane, kx, r), i = im.At(plane, f.Half() + kx, r);
  return re * re + i * i;
}

}  // namespace

void ConvertToAmplitudePhase(int slot) {
  ForEachBin(slot, [](float& re, float& im) {
    const double r = re, i = im;
    re = float(std::sqrt(r * r + i * i));
    im = float(std::atan2(i, r));
  });
}

void ConvertToRealImaginary(int slot) {
  ForEachBin(slot, [](float& amplitude, float& phase) {
    const double a = amplitude, f = phase;
    amplitude = float(a * std::cos(f));
    phase = float(a * std::sin(f));
  });
}

double CentrePeak(int slot, int plane, bool includeZero) {
  if (!SlotInUse(slot)) return 0;
  const TImageSlot& im = Store.Image[slot];
  double peak = 0;
  for (const auto& [kx, ky] : {std::pair{1, 0}, {0, 1}, {0, -1}}) peak = std::max(peak, BinPower(im, plane, kx, ky));
  if (includeZero) peak = std::max(peak, BinPower(im, plane, 0, 0));
  return peak;
}

double CornerPower(int slot, int plane) {
  if (!SlotInUse(slot)) return 0;
  const TImageSlot& im = Store.Image[slot];
  const TFftImage f = TFftImage::OfSize(im.Width, im.Height);
  if (f.N < 2 || plane < 1 || plane > im.PlaneCount || im.Planes[plane].size() < size_t(im.Width) * size_t(im.Height))
    return 0;
  const int32_t d = im.Height / 8, top = f.N / 2;
  double sum = 0;
  int64_t count = 0;
  for (int32_t j = 0; j <= d; ++j)
    for (const int32_t row : {j, im.Height - 1 - j}) {
      if (row < 0 || row >= im.Height) continue;
      for (int32_t k = std::max(top - d + j, 0); k <= top; ++k) {
        const double re = im.At(plane, k, row), i = im.At(plane, f.Half() + k, row);
        sum += re * re + i * i;
        ++count;
      }
    }
  return count > 0 ? sum / double(count) : 0.0;
}

}  // namespace astrelon
