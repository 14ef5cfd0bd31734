#include "frequency/filter/frequency_filter.h"

#include <cmath>
#include <limits>

#include "frequency/filter/radial_spectrum.h"
#include "frequency/spectra/spectrum_selected_inverse.h"
#include "kernels/fft/spectrum_image.h"
#include "kernels/regions/owned_slot.h"
#include "store/image_store.h"

namespace astrelon {

void TFrequencyFilter::CloseSpectrum() {
  if (SlotInUse(spectrum_)) FreeSlot(spectrum_);
  spectrum_ = -1;
}

bool TFrequencyFilter::ComputeFilterSpectrum(int slot, const TPlaneList& planes, bool omitBright) {
  CloseSpectrum();
  Curves = {};
  if (TwoD) {
    const int spectrum = ImageToFft2D(slot, 2, Outer);
    if (spectrum < 1) return false;
    spectrum_ = spectrum;
    Curves.S = RadialMeanSpectrum(spectrum, planes);
    Curves.ResetToSpectrum(std::numeric_limits<double>::min());
  } else {
    Curves.S = MeanRowSpectrum(slot, planes, omitBright);
    Curves.ResetToSpectrum(0.01);
  }
  return !Curves.S.empty();
}

bool TFrequencyFilter::Apply(int source, int result, const TPlaneList& planes, const TRowFilterOptions& options) {
  if (Curves.S.empty()) return false;
  if (TwoD) return Apply2D(result, planes);
  FilterRows1D(source, result, planes, Curves, options);
  return true;
}

bool TFrequencyFilter::Apply2D(int result, const TPlaneList& planes) {
  if (!SlotInUse(spectrum_) || !SlotInUse(result)) return false;
  const TOwnedSlot copy(FindFreeSlot());
  if (!copy.Made() || !CopyImageSlot(spectrum_, copy.Get())) return false;
  const int32_t K = Curves.K();
  TRadialResponse response;
  response.Gain.resize(size_t(K));
  response.SetValue.resize(size_t(K));
  for (int32_t i = 0; i < K; ++i) {
    const double S = Curves.S[size_t(i)], C = Curves.C[size_t(i)];
    response.Gain[size_t(i)] = S > 0 ? C / S : 1.0;
    response.SetValue[size_t(i)] = S > 0 ? std::numeric_limits<double>::quiet_NaN() : C;
  }
  ApplyRadialResponse(copy.Get(), planes, response);
  return InverseIntoPlanes(copy.Get(), result, planes, [&](int spectrum) { return FftToImage2D(spectrum, -1, Outer); });
}

}  // namespace astrelon
