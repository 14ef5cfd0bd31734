#include "frequency/filter/curve_file_filter.h"

#include <vector>

#include "core/settings.h"
#include "frequency/filter/frequency_curve_file.h"
#include "frequency/filter/radial_spectrum.h"
#include "frequency/spectra/spectrum_selected_inverse.h"
#include "kernels/fft/spectrum_image.h"
#include "kernels/regions/owned_slot.h"
#include "store/image_store.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

void MultiplyFftByCurveGains(int spectrum, std::span<const double> gains) {
  if (!SlotInUse(spectrum) || gains.empty()) return;
  const TImageSlot& sp = Store.Image[spectrum];
  TRadialResponse response;
  response.Gain.resize(size_t(RadialBinCount(sp.Width, sp.Height)));
  if (response.Gain.empty()) return;
  ResampleLine(gains, response.Gain, TInterpolationKind(Settings.InterpolationKind));
  ApplyRadialResponse(spectrum, SelectedChannels(spectrum), response);
}

bool MultiplyFftByCurveFile(int spectrum, const std::string& fileName, std::string* error) {
  if (!SlotInUse(spectrum)) return false;
  TFrequencyCurveFile file;
  if (ReadFrequencyCurveFile(fileName, file, error) != TCurveFileRead::Read) return false;
  MultiplyFftByCurveGains(spectrum, file.Gains);
  return true;
}

bool ApplyFrequencyCurveFile(int slot, const std::string& fileName, std::string* error) {
  if (!SlotInUse(slot)) return false;
  TFrequencyCurveFile file;
  if (ReadFrequencyCurveFile(fileName, file, error) != TCurveFileRead::Read) return false;
  const int32_t outer = FftOuterMarginSetting();
  const TOwnedSlot spectrum(ImageToFft2D(slot, 2, outer));
  if (!spectrum.Made()) return false;
  const TPlaneList planes = SelectedChannels(slot);
  SelectPlanes(spectrum.Get(), planes);
  MultiplyFftByCurveGains(spectrum.Get(), file.Gains);
  return InverseIntoPlanes(spectrum.Get(), slot, planes, [&](int s) { return FftToImage2D(s, -1, outer); });
}

}  // namespace astrelon
