#include "frequency/spectra/psf_convolution.h"

#include <algorithm>
#include <cmath>

#include "core/settings.h"
#include "frequency/spectra/spectrum_selected_inverse.h"
#include "kernels/fft/spectrum_pow2.h"
#include "kernels/regions/add_border.h"
#include "kernels/regions/crop_image_rect.h"
#include "kernels/regions/owned_slot.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

double Amplitude(const float* row, int64_t half, int64_t k) {
  return std::hypot(double(row[k]), double(row[half + k]));
}

// The PSF copy cut to the image, background removed, centred and padded; its
// centre in cx, cy. False when nothing is left of it.
bool PreparePsf(int psf, int32_t w, int32_t h, int32_t& cx, int32_t& cy) {
  TImageSlot& im = Store.Image[psf];
  const int32_t pw = std::min(im.Width, w), ph = std::min(im.Height, h);
  const int32_t x1 = (im.Width - pw) / 2, y1 = (im.Height - ph) / 2;
  if ((pw != im.Width || ph != im.Height) && !CropImageRect(psf, psf, x1, y1, x1 + pw - 1, y1 + ph - 1)) return false;
  UpdateMinMax(psf);
  if (Options.PsfScale) {
    for (int p = 1; p <= im.PlaneCount; ++p) {
      const float level = float(GetBorderPercentile(psf, p, 0.5));
      if (!IsValidPixel(level)) continue;
      for (float& v : im.Planes[p])
        if (IsValidPixel(v)) v -= level;
    }
  }
  cx = (pw - 1) / 2;
  cy = (ph - 1) / 2;
  return AddBorder(psf, 0, h - ph, 0, w - pw, 0.0f);
}

// Zero frequency of every plane 1 + 0i, the other bins divided by p; false when p is 0.
bool NormalisePsfSpectrum(int spectrum) {
  TImageSlot& sp = Store.Image[spectrum];
  const int64_t W = sp.Width, half = (W - 2) / 2 + 1, M = sp.Height;
  for (int p = 1; p <= sp.PlaneCount; ++p) {
    float* plane = sp.Planes[p].data();
    double peak = 0.0;
    if (half > 1) peak = std::max(peak, Amplitude(plane, half, 1));
    if (M > 1) peak = std::max({peak, Amplitude(plane + W, half, 0), Amplitude(plane + (M - 1) * W, half, 0)});
    if (!(peak > 0) || !std::isfinite(peak)) return false;
    const float scale = float(1.0 / peak);
    for (int64_t r = 0; r < M; ++r)
      for (int64_t k = 0; k < 2 * half; ++k) plane[r * W + k] *= scale;
    plane[0] = 1.0f;
    plane[half] = 0.0f;
  }
  return true;
}

// The image spectrum's listed planes times the PSF spectrum's (its plane 1 for planes it lacks).
void MultiplySpectra(int image, int psf, const TPlaneList& planes) {
  TImageSlot& a = Store.Image[image];
  const TImageSlot& b = Store.Image[psf];
  const int64_t W = a.Width, half = (W - 2) / 2 + 1, values = W * a.Height;
  for (int p : planes.Planes()) {
    float* x = a.Planes[p].data();
    const float* y = b.Planes[p <= b.PlaneCount ? p : 1].data();
    for (int64_t row = 0; row < values; row += W)
      for (int64_t k = 0; k < half; ++k) {
        const double ar = x[row + k], ai = x[row + half + k], br = y[row + k], bi = y[row + half + k];
        x[row + k] = float(ar * br - ai * bi);
        x[row + half + k] = float(ar * bi + ai * br);
      }
  }
}

}  // namespace

int ConvolveWithPsfImage(int source, int psf, std::string* error) {
  if (!SlotInUse(source) || !SlotInUse(psf)) return -1;
  const int32_t w = Store.Image[source].Width, h = Store.Image[source].Height;
  if (w <= 3 || h <= 3) return -1;
  TOwnedSlot psfCopy(FindFreeSlot());
  if (psfCopy.Get() < 1 || !CopyImageSlot(psf, psfCopy.Get())) return -1;
  int32_t cx = 0, cy = 0;
  if (!PreparePsf(psfCopy.Get(), w, h, cx, cy)) return -1;
  const TOwnedSlot psfSpectrum(ImageToFft2DPow2(psfCopy.Get(), cx, cy, false));
  if (psfSpectrum.Get() < 1) return -1;
  psfCopy.Free();
  if (!NormalisePsfSpectrum(psfSpectrum.Get())) {
    if (error) *error = "Die PSF hat keine niedrigen Frequenzen (ein leeres oder flaches Bild): damit kann nicht gefaltet werden.";
    return -1;
  }
  const TOwnedSlot imageSpectrum(ImageToFft2DPow2(source, 0, 0, false));
  if (imageSpectrum.Get() < 1) return -1;
  const TPlaneList planes = SelectedChannels(source);
  const TImageSlot& a = Store.Image[imageSpectrum.Get()];
  const TImageSlot& b = Store.Image[psfSpectrum.Get()];
  if (a.Width == b.Width && a.Height == b.Height) MultiplySpectra(imageSpectrum.Get(), psfSpectrum.Get(), planes);
  SelectPlanes(imageSpectrum.Get(), planes);
  TOwnedSlot result(FftToImage2DPow2(imageSpectrum.Get(), -1, 0, 0));
  if (result.Get() < 1) return -1;
  TImageSlot& out = Store.Image[result.Get()];
  const TImageSlot& src = Store.Image[source];
  for (int p = 1; p <= out.PlaneCount; ++p)
    if (std::find(planes.Planes().begin(), planes.Planes().end(), p) == planes.Planes().end())
      out.Planes[p].assign(src.Planes[p].begin(), src.Planes[p].end());
  UpdateMinMax(result.Get());
  CopyDisplayRecord(source, result.Get());
  return result.Keep();
}

}  // namespace astrelon
