#include "frequency/interference/periodic_noise_filter.h"

#include <algorithm>
#include <vector>

#include "core/settings.h"
#include "frequency/interference/periodic_noise_plane.h"
#include "kernels/fft/spectrum_image.h"
#include "kernels/regions/owned_slot.h"
#include "kernels/regions/rect_runs.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"

namespace astrelon {

namespace {

// The inner margin of the forward transform.
constexpr int32_t InnerMargin = 2;

}  // namespace

double ClampPeriodicNoiseK(double k) {
  if (!(k >= 0.2)) return 0.2;  // NaN too
  return std::min(k, 15.9);
}

double StoredPeriodicNoiseK() { return ClampPeriodicNoiseK(Settings.FftNoiseParam1); }

bool FilterPeriodicNoiseSpectrum(int spectrum, double k) {
  if (!SlotInUse(spectrum)) return false;
  TImageSlot& s = Store.Image[size_t(spectrum)];
  if (s.Width <= 7 || s.Height <= 7) return false;
  k = ClampPeriodicNoiseK(k);
  const TPlaneList planes = SelectedChannels(spectrum);
  // Each plane on all cores (in tiles of rows and columns), one after the other.
  const int threads = BandThreads(s.Height, 16, Options.Multicore != 0);
  std::vector<float*> data;
  for (int j = 0; j < planes.Count; ++j) {
    TPlane& plane = s.Planes[size_t(planes.Plane[size_t(j)])];
    if (plane.size() >= s.PixelCount()) data.push_back(plane.data());
  }
  FilterPeriodicNoisePlanes(data, s.Width, s.Height, k, threads, Sse2Enabled);
  return true;
}

int FilterPeriodicNoiseFft(int source, double k) {
  const int32_t outer = FftOuterMarginSetting();
  TOwnedSlot spectrum(ImageToFft2D(source, InnerMargin, outer));
  if (!spectrum.Made()) return -1;
  if (!FilterPeriodicNoiseSpectrum(spectrum.Get(), k)) return -1;
  const TPlaneList planes = SelectedChannels(spectrum.Get());
  const int result = FftToImage2D(spectrum.Get(), -1, outer);
  if (result < 1) return -1;
  // Planes outside the channel selection were not filtered: they keep the source's values.
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(result)];
  if (dst.Width == src.Width && dst.Height == src.Height)
    for (int p = 1; p <= std::min(src.PlaneCount, dst.PlaneCount); ++p)
      if (std::find(planes.Planes().begin(), planes.Planes().end(), p) == planes.Planes().end())
        CopyPlane(source, p, result, p);
  return result;
}

}  // namespace astrelon
