#include "frequency/spectra/spectrum_morph.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "frequency/spectra/spectrum_selected_inverse.h"
#include "kernels/fft/spectrum_image.h"
#include "kernels/fft/spectrum_slots.h"
#include "kernels/regions/add_border.h"
#include "kernels/regions/crop_image_rect.h"
#include "kernels/regions/owned_slot.h"
#include "platform/parallel_bands.h"

namespace astrelon {

namespace {

// Bin (re, im) of b mixed with the bin (ar, ai) of a.
void MixBin(float ar, float ai, float& br, float& bi) {
  constexpr double Pi = std::numbers::pi;
  double pa = std::atan2(double(ar), double(ai)), pb = std::atan2(double(br), double(bi));
  if (pb + Pi < pa)
    pb += 2 * Pi;
  else if (pa + Pi < pb)
    pa += 2 * Pi;
  const double m = (std::hypot(double(ar), double(ai)) + std::hypot(double(br), double(bi))) / 2;
  const double phase = (pa + pb) / 2;
  br = float(m * std::sin(phase));
  bi = float(m * std::cos(phase));
}

// The result's size made the second image's.
bool FitToSize(int result, int32_t w, int32_t h) {
  const TImageSlot& im = Store.Image[result];
  const int32_t cw = std::min(im.Width, w), ch = std::min(im.Height, h);
  if ((cw != im.Width || ch != im.Height) && !CropImageRect(result, result, 0, 0, cw - 1, ch - 1)) return false;
  return AddBorder(result, 0, h - ch, 0, w - cw, BlankPixel);
}

}  // namespace

bool MorphSpectra(int result, int second) {
  if (!SlotInUse(result) || !SlotInUse(second)) return false;
  if (!FitToSize(result, Store.Image[second].Width, Store.Image[second].Height)) return false;
  UpdateMinMax(result);
  const int32_t outer = FftOuterMarginSetting();
  const TOwnedSlot a(ImageToFft2D(second, 2, outer));
  if (!a.Made()) return false;
  const TOwnedSlot b(ImageToFft2D(result, 2, outer));
  if (!b.Made()) return false;
  const TImageSlot& A = Store.Image[a.Get()];
  TImageSlot& B = Store.Image[b.Get()];
  if (A.Width != B.Width || A.Height != B.Height) return false;
  const TPlaneList planes = SelectedChannels(result);
  const int64_t W = B.Width, half = W / 2, rows = int64_t(planes.Count) * B.Height;
  ForEachBand(rows, SpectrumThreads(rows, W * 8), [&](int64_t r0, int64_t r1) {
    for (int64_t r = r0; r < r1; ++r) {
      const int p = planes.Plane[size_t(r / B.Height)];
      const int64_t at = (r % B.Height) * W;
      const float* x = A.Planes[p <= A.PlaneCount ? p : 1].data() + at;
      float* y = B.Planes[p].data() + at;
      for (int64_t k = 0; k < half; ++k) MixBin(x[k], x[half + k], y[k], y[half + k]);
    }
  });
  return InverseIntoPlanes(b.Get(), result, planes, [&](int s) { return FftToImage2D(s, -1, outer); });
}

}  // namespace astrelon
